// Single-core throughput of the crypto provider on 4 MiB buffers (the size of
// the largest part), against raw EVP calls on the same buffers: what
// `openssl speed -evp` measures, minus its process. A ratio near 1.0 means
// the provider adds nothing measurable to OpenSSL itself. The Windows build
// measures BCrypt, and its counter mode against one BCrypt call per block.
#ifdef _WIN32
#include "hosts/windows/windows_crypto_host.h"
#else
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "hosts/crypto_host.h"
#include "hosts/platform.h"

namespace vesmara {
namespace {

constexpr std::size_t kBufferLength = 4u << 20;
constexpr double kSecondsPerMeasure = 1.0;

// Runs `work` (one pass over the buffer) until kSecondsPerMeasure has passed
// and returns MiB/s. `work` returns false on failure, which ends the program.
template <typename Work>
double measure(const char* name, Work&& work) {
  using Clock = std::chrono::steady_clock;
  if (!work()) {  // warm-up, also the failure check
    std::fprintf(stderr, "crypto_bench: %s failed\n", name);
    std::exit(1);
  }
  std::size_t passes = 0;
  const Clock::time_point start = Clock::now();
  double seconds = 0;
  do {
    if (!work()) std::exit(1);
    ++passes;
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  } while (seconds < kSecondsPerMeasure);
  return static_cast<double>(passes) * static_cast<double>(kBufferLength) / (1 << 20) / seconds;
}

#ifdef _WIN32
int run() {
  WindowsCryptoHost crypto;
  WindowsCryptoHost one_block_per_call(1);
  std::vector<std::uint8_t> input(kBufferLength);
  std::array<std::uint8_t, kAesKeyLength> key{};
  std::array<std::uint8_t, kAesBlockLength> counter{};
  std::array<std::uint8_t, kGcmNonceLength> nonce{};
  if (!crypto.randomBytes(input) || !crypto.randomBytes(key) || !crypto.randomBytes(counter)) return 1;
  Sha256Digest digest{};
  SecureBytes transformed;
  std::vector<std::uint8_t> sealed;
  SecureBytes opened;
  if (!crypto.aesGcmEncrypt(key, nonce, {}, input, sealed)) return 1;

  std::printf("crypto_bench: %zu MiB buffers, one core, BCrypt\n", kBufferLength >> 20);
  std::printf("%-14s provider %8.1f MiB/s\n", "SHA-256",
              measure("provider SHA-256", [&] { return computeSha256(crypto, input, digest); }));
  const double batched =
      measure("provider AES-256-CTR", [&] { return crypto.aesCtrTransform(key, counter, input, transformed); });
  const double per_block = measure("AES-256-CTR one block per call", [&] {
    return one_block_per_call.aesCtrTransform(key, counter, input, transformed);
  });
  std::printf("%-14s provider %8.1f MiB/s   one block per call %8.1f MiB/s   ratio %.3f\n", "AES-256-CTR", batched,
              per_block, batched / per_block);
  const double gcm =
      measure("provider AES-256-GCM open", [&] { return crypto.aesGcmDecrypt(key, nonce, {}, sealed, opened); });
  std::printf("%-14s provider %8.1f MiB/s\n", "AES-256-GCM", gcm);
  return 0;
}
#else
void report(const char* name, double provider, double baseline) {
  std::printf("%-14s provider %8.1f MiB/s   raw EVP %8.1f MiB/s   ratio %.3f\n", name, provider, baseline,
              provider / baseline);
}

bool rawEvpSha256(const std::vector<std::uint8_t>& input, Sha256Digest& digest) {
  return EVP_Digest(input.data(), input.size(), digest.data(), nullptr, EVP_sha256(), nullptr) == 1;
}

// One context per pass, as the provider does: the cost of setting up a key
// belongs to both sides of the ratio.
bool rawEvpCtr(const std::uint8_t* key, const std::uint8_t* counter, const std::vector<std::uint8_t>& input,
               std::vector<std::uint8_t>& output) {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  int written = 0;
  const bool ok = context != nullptr && EVP_EncryptInit_ex2(context, EVP_aes_256_ctr(), key, counter, nullptr) == 1 &&
                  EVP_EncryptUpdate(context, output.data(), &written, input.data(), static_cast<int>(input.size())) == 1;
  EVP_CIPHER_CTX_free(context);
  return ok;
}

bool rawEvpGcmOpen(const std::uint8_t* key, const std::uint8_t* nonce, const std::vector<std::uint8_t>& sealed,
                   std::vector<std::uint8_t>& output) {
  const int length = static_cast<int>(sealed.size() - kGcmTagLength);
  std::array<std::uint8_t, kGcmTagLength> tag{};
  std::copy(sealed.end() - kGcmTagLength, sealed.end(), tag.begin());
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  int written = 0;
  const bool ok = context != nullptr && EVP_DecryptInit_ex2(context, EVP_aes_256_gcm(), key, nonce, nullptr) == 1 &&
                  EVP_DecryptUpdate(context, output.data(), &written, sealed.data(), length) == 1 &&
                  EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_SET_TAG, kGcmTagLength, tag.data()) == 1 &&
                  EVP_DecryptFinal_ex(context, output.data() + written, &written) == 1;
  EVP_CIPHER_CTX_free(context);
  return ok;
}

int run() {
  const std::unique_ptr<CryptoHost> crypto = defaultPlatform().makeCryptoHost();
  std::vector<std::uint8_t> input(kBufferLength);
  std::array<std::uint8_t, kAesKeyLength> key{};
  std::array<std::uint8_t, kAesBlockLength> counter{};
  std::array<std::uint8_t, kGcmNonceLength> nonce{};
  if (!crypto->randomBytes(input) || !crypto->randomBytes(key) || !crypto->randomBytes(counter)) return 1;

  Sha256Digest digest{};
  SecureBytes transformed;
  std::vector<std::uint8_t> raw_output(kBufferLength);
  std::vector<std::uint8_t> sealed;
  SecureBytes opened;
  if (!crypto->aesGcmEncrypt(key, nonce, {}, input, sealed)) return 1;

  std::printf("crypto_bench: %zu MiB buffers, one core, %s\n", kBufferLength >> 20, OpenSSL_version(OPENSSL_VERSION));
  report("SHA-256", measure("provider SHA-256", [&] { return computeSha256(*crypto, input, digest); }),
         measure("raw SHA-256", [&] { return rawEvpSha256(input, digest); }));
  report("AES-256-CTR",
         measure("provider AES-256-CTR", [&] { return crypto->aesCtrTransform(key, counter, input, transformed); }),
         measure("raw AES-256-CTR",
                 [&] { return rawEvpCtr(key.data(), counter.data(), input, raw_output); }));
  report("AES-256-GCM",
         measure("provider AES-256-GCM open", [&] { return crypto->aesGcmDecrypt(key, nonce, {}, sealed, opened); }),
         measure("raw AES-256-GCM open", [&] { return rawEvpGcmOpen(key.data(), nonce.data(), sealed, raw_output); }));
  return 0;
}
#endif

}  // namespace
}  // namespace vesmara

int main() { return vesmara::run(); }
