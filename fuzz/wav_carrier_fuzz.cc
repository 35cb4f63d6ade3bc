// The WAV reader and the index-driven audio carrier recovery on arbitrary
// recordings, with the metadata of the seed carrier: never a crash, and a
// recovered payload is exactly what the metadata describes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/hex.h"
#include "fuzz_support.h"
#include "hosts/platform.h"
#include "media/audio_carrier.h"
#include "media_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  static const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  static const vesmara::AudioCarrier carrier = [] {
    std::vector<std::uint8_t> wav;
    vesmara::AudioCarrier metadata;
    if (!vesmara::fuzz::makeSeedAudioCarrier(*crypto, wav, metadata)) __builtin_trap();
    return metadata;
  }();
  std::vector<std::uint8_t> payload;
  vesmara::Failure decode_failure;
  if (!vesmara::recoverAudioCarrier(std::span(data, size), carrier, *crypto, payload, decode_failure)) {
    if (decode_failure.message.empty()) __builtin_trap();
    return 0;
  }
  vesmara::Sha256Digest digest{};
  if (payload.size() != carrier.length || !vesmara::computeSha256(*crypto, payload, digest) ||
      vesmara::encodeLowerHex(digest) != carrier.sha256) {
    __builtin_trap();
  }
  return 0;
}
