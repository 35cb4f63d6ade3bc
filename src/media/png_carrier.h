// The first step of every PNG carrier: a bounded PNG file decoded into its
// RGBA pixels.
#ifndef VESMARA_MEDIA_PNG_CARRIER_H_
#define VESMARA_MEDIA_PNG_CARRIER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "hosts/png_codec.h"

namespace vesmara {

inline constexpr std::uint64_t kMinPngCarrierLength = 33;
inline constexpr std::uint64_t kMaxPngCarrierLength = 67108864;
inline constexpr std::uint64_t kMaxPngPixels = 16777216;

// 8-bit straight RGBA, rows top to bottom: pixel p = y x width + x occupies
// bytes 4p (red) to 4p + 3 (alpha). A pixel is opaque when its alpha is 255.
struct RgbaImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;

  std::uint64_t pixelCount() const { return static_cast<std::uint64_t>(width) * height; }
};

// Checks the carrier's size, signature and header against the bounds above
// before any pixel memory exists, then decodes it with `decoder`. On
// failure `failure` holds the reason and `image` means nothing. Throws only
// std::bad_alloc.
bool decodePngCarrier(std::span<const std::uint8_t> carrier, PngDecoder& decoder, RgbaImage& image, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_MEDIA_PNG_CARRIER_H_
