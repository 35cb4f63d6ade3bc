// The PNG carrier path on arbitrary files: the bounded decode to pixels, then
// the png-lsb1 payload reader on the pixels. Never a crash; a decoded image
// has the size its header announced; a payload stays within its bounds. The
// frame readers, which need images of 32,768 pixels and more, have a target
// of their own that feeds them pixels directly (rgba_codecs).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/failure.h"
#include "fuzz_support.h"
#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#include "media/pixel_payload.h"
#include "media/png_carrier.h"

namespace {

// Images are decoded up to this many pixels: every decoder path is reached
// by small images, while a few kilobytes of compressed data can announce
// 16 million pixels that take a second to decode. Larger announcements still
// reach the carrier's own pixel limit.
constexpr std::uint64_t kMaxDecodedPixels = 65536;

bool announcesLargeImage(std::span<const std::uint8_t> png) {
  vesmara::ByteReader reader(png);
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (!reader.skip(16) || !reader.readU32BigEndian(width) || !reader.readU32BigEndian(height)) return false;
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  return pixels > kMaxDecodedPixels && pixels <= vesmara::kMaxPngPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength || announcesLargeImage(std::span(data, size))) return 0;
  static const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  static const auto png = vesmara::defaultPlatform().makePngDecoder();
  vesmara::RgbaImage image;
  vesmara::Failure failure;
  if (!vesmara::decodePngCarrier(std::span(data, size), *png, image, failure)) {
    if (failure.message.empty()) __builtin_trap();
    return 0;
  }
  if (image.pixels.size() != image.pixelCount() * 4) __builtin_trap();
  std::vector<std::uint8_t> payload;
  if (vesmara::readPixelPayload(image, *crypto, payload, failure) &&
      (payload.empty() || payload.size() > image.pixelCount() * 3 / 8)) {
    __builtin_trap();
  }
  return 0;
}
