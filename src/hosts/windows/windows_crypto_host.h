// The crypto provider on Windows: BCrypt (SHA-256, AES-256 in ECB and GCM
// chaining modes, the system-preferred random generator).
//
// Stateless: every cipher call opens its algorithm provider, imports the
// key, runs and releases both before it returns, so no key material
// outlives a call in the provider. A hasher holds its provider and hash
// handles from creation to destruction.
#ifndef VESMARA_HOSTS_WINDOWS_WINDOWS_CRYPTO_HOST_H_
#define VESMARA_HOSTS_WINDOWS_WINDOWS_CRYPTO_HOST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "hosts/crypto_host.h"

namespace vesmara {

class WindowsCryptoHost : public CryptoHost {
 public:
  // How many counter blocks one BCryptEncrypt call turns into keystream:
  // the counter transform encrypts a run of consecutive counter blocks in
  // ECB mode at once, which gives the same bytes as one call per block.
  static constexpr std::size_t kDefaultCounterBlocksPerCall = 4096;  // 64 KiB of keystream

  // `counter_blocks_per_call` is clamped to at least 1.
  explicit WindowsCryptoHost(std::size_t counter_blocks_per_call = kDefaultCounterBlocksPerCall);

  std::unique_ptr<Hasher> createHasher() override;
  bool randomBytes(std::span<std::uint8_t> buffer) override;
  bool aesCtrTransform(AesKey key, CounterBlock counter, ByteSpan input, SecureBytes& output) override;
  bool aesGcmDecrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) override;
  GcmResult aesGcmDecryptDetailed(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed,
                                  SecureBytes& output) override;
  bool aesGcmEncrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                     std::vector<std::uint8_t>& output) override;

 private:
  std::size_t counter_blocks_per_call_;
};

// Fills `buffer` from BCrypt's system-preferred generator; false when the
// generator fails or the buffer is longer than kCryptoLengthLimit.
bool fillFromSystemRandom(std::span<std::uint8_t> buffer);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_WINDOWS_WINDOWS_CRYPTO_HOST_H_
