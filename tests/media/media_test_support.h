// Pieces the media tests share: payload bytes, a crypto provider that fails
// on demand, and the noise and timing damage real recordings suffer.
#ifndef VESMARA_TESTS_MEDIA_MEDIA_TEST_SUPPORT_H_
#define VESMARA_TESTS_MEDIA_MEDIA_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#include "publish/media/audio_writer.h"
#include "support/test_origin.h"

namespace vesmara::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes payloadBytes(std::size_t size, std::uint32_t seed = 1) { return TestOrigin::makeByteVector(size, seed); }

// The platform provider, except that hashers or GCM opening fail when asked.
class FailingCrypto final : public CryptoHost {
 public:
  bool fail_hashers = false;
  bool fail_gcm = false;
  // Counts the hashers made; the one numbered `fail_hasher` (from 1) fails.
  std::size_t hashers_made = 0;
  std::size_t fail_hasher = 0;

  std::unique_ptr<Hasher> createHasher() override {
    ++hashers_made;
    return fail_hashers || hashers_made == fail_hasher ? nullptr : real_->createHasher();
  }
  bool randomBytes(std::span<std::uint8_t> buffer) override { return real_->randomBytes(buffer); }
  bool aesCtrTransform(AesKey key, CounterBlock counter, ByteSpan input, SecureBytes& output) override {
    return real_->aesCtrTransform(key, counter, input, output);
  }
  bool aesGcmDecrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) override {
    return aesGcmDecryptDetailed(key, nonce, aad, sealed, output) == GcmResult::Ok;
  }
  GcmResult aesGcmDecryptDetailed(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed,
                                  SecureBytes& output) override {
    if (fail_gcm) {
      output.clear();
      return GcmResult::ProviderFailed;
    }
    return real_->aesGcmDecryptDetailed(key, nonce, aad, sealed, output);
  }
  bool aesGcmEncrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                     std::vector<std::uint8_t>& output) override {
    return real_->aesGcmEncrypt(key, nonce, aad, plaintext, output);
  }

 private:
  std::unique_ptr<CryptoHost> real_ = defaultPlatform().makeCryptoHost();
};

// The samples as a WAV file of `format`, which a test's recordings always fit.
Bytes wavOf(std::span<const double> samples, const publish::AudioFormat& format);

// Adds white Gaussian noise of `snr_db` below the power of a sine of
// `amplitude` (deterministic for a seed).
void addNoise(std::vector<double>& samples, double amplitude, double snr_db, std::uint32_t seed);

// The recording resampled (linear interpolation) to `extra` more frames, so
// its timing drifts by that many frames from start to end.
std::vector<double> stretch(const std::vector<double>& samples, std::int64_t extra);

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_MEDIA_MEDIA_TEST_SUPPORT_H_
