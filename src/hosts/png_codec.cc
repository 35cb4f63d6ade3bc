// What every build's PNG encoder shares: choosing the colour type of an
// RGBA image. Its own object file, so that the product library, which only
// decodes, never links an encoder.
#include "hosts/png_codec.h"

#include <algorithm>

namespace vesmara {

namespace {

bool isOpaque(std::span<const std::uint8_t> rgba) {
  for (std::size_t at = 3; at < rgba.size(); at += 4) {
    if (rgba[at] != 255) return false;
  }
  return true;
}

// Copies each pixel's red, green and blue to `rgb`, which may be `rgba`'s
// own first bytes: every pixel lands at or before where it was read.
void packRgb(std::span<const std::uint8_t> rgba, std::uint8_t* rgb) {
  for (std::size_t p = 0; p < rgba.size() / 4; ++p) std::copy_n(rgba.begin() + 4 * p, 3, rgb + 3 * p);
}

}  // namespace

bool encodeRgbaPng(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba,
                   std::vector<std::uint8_t>& png, int compression_level, PngFilters filters) {
  PngEncoding encoding{.width = width, .height = height, .compression_level = compression_level, .filters = filters};
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  if (rgba.size() != pixels * 4) return false;
  if (!isOpaque(rgba)) return encodePng(encoding, rgba, png);
  encoding.colour_type = PngColourType::Rgb;
  std::vector<std::uint8_t> rgb(pixels * 3);
  packRgb(rgba, rgb.data());
  return encodePng(encoding, rgb, png);
}

bool encodeRgbaPngInPlace(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& rgba,
                          std::vector<std::uint8_t>& png) {
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  if (rgba.size() != pixels * 4 || !isOpaque(rgba)) return encodeRgbaPng(width, height, rgba, png);
  packRgb(rgba, rgba.data());
  PngEncoding encoding{.width = width, .height = height, .colour_type = PngColourType::Rgb};
  return encodePng(encoding, std::span<const std::uint8_t>(rgba).first(pixels * 3), png);
}

}  // namespace vesmara
