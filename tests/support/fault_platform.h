// A platform for tests that wraps the default one and makes chosen host
// operations fail, so that the library's handling of a failing disk, crypto
// provider, PNG decoder or transport can be driven without hooks in the
// library.
#ifndef VESMARA_TESTS_SUPPORT_FAULT_PLATFORM_H_
#define VESMARA_TESTS_SUPPORT_FAULT_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hosts/platform.h"

namespace vesmara::test {

// What to break. Each fault is off until set.
struct Faults {
  // File sinks accept this many bytes, then every write fails.
  std::optional<std::uint64_t> file_write_limit;
  // File sinks refuse to commit.
  bool file_commit_fails = false;
  // Hashers fail every update.
  bool hashers_fail = false;
  // The counter-mode keystream fails.
  bool keystream_fails = false;
  // GCM opening fails as a provider failure (not a rejection).
  bool gcm_provider_fails = false;
  // PNG decoders report that they could not be set up.
  bool png_decoder_unavailable = false;
  // Transports made from now on fail their Nth fetch (counted from 1) with
  // kFailingFetchMessage, without passing it on.
  std::optional<std::size_t> failing_fetch;
};

inline constexpr std::string_view kFailingFetchMessage = "HTTP body read failed";

class FaultPlatform final : public Platform {
 public:
  explicit FaultPlatform(Platform& inner = defaultPlatform()) : inner_(inner) {}

  // The faults of every host this platform made and will make; set them
  // between calls, never while a call runs.
  Faults& faults() { return faults_; }

  std::unique_ptr<HttpHost> makeHttpHost(std::string_view origin, std::string& message) override;
  std::unique_ptr<CryptoHost> makeCryptoHost() override;
  std::unique_ptr<PngDecoder> makePngDecoder() override;
  std::unique_ptr<FileOutput> makeFileOutput(std::string_view destination, std::string& message) override;

 private:
  Faults faults_;
  Platform& inner_;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_FAULT_PLATFORM_H_
