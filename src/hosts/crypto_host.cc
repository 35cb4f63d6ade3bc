#include "hosts/crypto_host.h"

namespace vesmara {

bool computeSha256(CryptoHost& crypto, ByteSpan data, Sha256Digest& digest) {
  const std::unique_ptr<Hasher> hasher = crypto.createHasher();
  return hasher != nullptr && hasher->update(data) && hasher->finish(digest);
}

}  // namespace vesmara
