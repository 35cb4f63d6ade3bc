// The readers of decoded pixels (the png-lsb1 payload, the legacy and the
// sparse frame) on an image given directly: the input is its width and height
// (16-bit little-endian each), then RGBA bytes, repeated as often as the
// image needs. Raw pixels let a mutation change exactly the bits the readers
// look at, which a compressed PNG file never does. Never a crash; payloads
// stay within their codec's bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/failure.h"
#include "fuzz_support.h"
#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#include "media/frame_format.h"
#include "media/frame_payload.h"
#include "media/pixel_payload.h"
#include "media/png_carrier.h"

namespace {

// Room for frames a little larger than the smallest (256 x 128) in either
// direction; the frame readers visit every pixel several times, so each
// pixel more makes every execution of a frame slower.
constexpr std::uint64_t kMaxPixels = 40960;

bool readImage(std::span<const std::uint8_t> input, vesmara::RgbaImage& image) {
  vesmara::ByteReader reader(input);
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  if (!reader.readU16(width) || !reader.readU16(height) || width == 0 || height == 0 ||
      static_cast<std::uint64_t>(width) * height > kMaxPixels || reader.remaining() == 0) {
    return false;
  }
  const std::span<const std::uint8_t> bytes = reader.rest();
  image.width = width;
  image.height = height;
  image.pixels.resize(image.pixelCount() * 4);
  for (std::size_t at = 0; at < image.pixels.size(); at += bytes.size()) {
    const std::size_t count = std::min(bytes.size(), image.pixels.size() - at);
    std::copy_n(bytes.begin(), count, image.pixels.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  static const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  // Kept across inputs: a frame's pixels newly allocated each time cost more
  // in page faults than the readers spend on them.
  static vesmara::RgbaImage image;
  if (!readImage(std::span(data, size), image)) return 0;
  std::vector<std::uint8_t> payload;
  vesmara::Failure failure;
  if (vesmara::readPixelPayload(image, *crypto, payload, failure)) {
    if (payload.empty() || payload.size() > image.pixelCount() * 3 / 8) __builtin_trap();
  } else if (failure.message.empty()) {
    __builtin_trap();
  }
  for (const auto read : {vesmara::readLegacyFrame, vesmara::readSparseFrame}) {
    failure.clear();
    if (read(image, *crypto, payload, failure)) {
      if (payload.empty() || payload.size() > vesmara::frame::kMaxPayloadLength) __builtin_trap();
    } else if (failure.message.empty()) {
      __builtin_trap();
    }
  }
  return 0;
}
