// The crypto provider on Linux: OpenSSL's libcrypto 3 through EVP.
#ifndef VESMARA_HOSTS_POSIX_OPENSSL_CRYPTO_HOST_H_
#define VESMARA_HOSTS_POSIX_OPENSSL_CRYPTO_HOST_H_

#include <openssl/types.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "hosts/crypto_host.h"

namespace vesmara {

class OpenSslCryptoHost final : public CryptoHost {
 public:
  // OpenSSL takes an int length per cipher call; longer inputs are fed in
  // pieces of at most this many bytes (a multiple of the block size).
  static constexpr std::size_t kMaxPieceLength = static_cast<std::size_t>(INT_MAX) & ~std::size_t{15};

  // Fetches SHA-256, AES-256-CTR and AES-256-GCM once from `library` (null:
  // OpenSSL's default library context), which must outlive the host. When an
  // algorithm cannot be fetched, the operations that need it fail as
  // provider failures. `piece_length` is clamped to 1..kMaxPieceLength.
  explicit OpenSslCryptoHost(OSSL_LIB_CTX* library = nullptr, std::size_t piece_length = kMaxPieceLength);
  ~OpenSslCryptoHost() override;

  OpenSslCryptoHost(const OpenSslCryptoHost&) = delete;
  OpenSslCryptoHost& operator=(const OpenSslCryptoHost&) = delete;

  std::unique_ptr<Hasher> createHasher() override;
  bool randomBytes(std::span<std::uint8_t> buffer) override;
  bool aesCtrTransform(AesKey key, CounterBlock counter, ByteSpan input, SecureBytes& output) override;
  bool aesGcmDecrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) override;
  GcmResult aesGcmDecryptDetailed(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed,
                                  SecureBytes& output) override;
  bool aesGcmEncrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                     std::vector<std::uint8_t>& output) override;

 private:
  // Runs the opening once the lengths are known to be in range; on any
  // result but Ok, `output` may hold unauthenticated bytes the caller wipes.
  GcmResult openGcm(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output);
  bool sealGcm(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext, std::vector<std::uint8_t>& output);

  OSSL_LIB_CTX* library_;
  std::size_t piece_length_;
  // Fetched algorithms are immutable and safe to share between threads.
  EVP_MD* sha256_;
  EVP_CIPHER* aes_ctr_;
  EVP_CIPHER* aes_gcm_;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_POSIX_OPENSSL_CRYPTO_HOST_H_
