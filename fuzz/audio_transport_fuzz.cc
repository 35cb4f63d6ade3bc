// The standalone audio decode (sound scan, segment decode, group assembly,
// GCM opening) on arbitrary recordings: never a crash, every failure has a
// message and a kind, and a success yields at most the profile's plaintext.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "hosts/platform.h"
#include "media/audio_format.h"
#include "media/audio_transport.h"
#include "media_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  static const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  static const std::array<std::uint8_t, 32> key = vesmara::fuzz::seedTransportKey();
  vesmara::SecureBytes plaintext;
  vesmara::Failure failure;
  if (!vesmara::decodeMediaTransport(std::span(data, size), key, *crypto, plaintext, failure)) {
    if (failure.message.empty() || failure.kind == vesmara::FailureKind::None || !plaintext.empty()) {
      __builtin_trap();
    }
    return 0;
  }
  if (plaintext.empty() || plaintext.size() > vesmara::audio::kTransportPlaintextLimit) __builtin_trap();
  return 0;
}
