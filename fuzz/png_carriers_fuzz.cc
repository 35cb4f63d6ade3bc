// The PNG path on arbitrary files: bounded decode to pixels, then each of
// the three PNG codecs on the pixels. Never a crash; a decoded image has the
// size its header announced; payloads stay within their codec's bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#include "media/frame_format.h"
#include "media/frame_payload.h"
#include "media/pixel_payload.h"
#include "media/png_carrier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  static const auto png = vesmara::defaultPlatform().makePngDecoder();
  vesmara::RgbaImage image;
  vesmara::Failure decode_failure;
  if (!vesmara::decodePngCarrier(std::span(data, size), *png, image, decode_failure)) {
    if (decode_failure.message.empty()) __builtin_trap();
    return 0;
  }
  if (image.pixels.size() != image.pixelCount() * 4) __builtin_trap();
  std::vector<std::uint8_t> payload;
  if (vesmara::readPixelPayload(image, *crypto, payload, decode_failure) &&
      (payload.empty() || payload.size() > image.pixelCount() * 3 / 8)) {
    __builtin_trap();
  }
  for (const auto read : {vesmara::readLegacyFrame, vesmara::readSparseFrame}) {
    if (read(image, *crypto, payload, decode_failure) &&
        (payload.empty() || payload.size() > vesmara::frame::kMaxPayloadLength)) {
      __builtin_trap();
    }
  }
  return 0;
}
