// What every build's PNG encoder shares: choosing the colour type of an
// RGBA image. Its own object file, so that the product library, which only
// decodes, never links an encoder.
#include <algorithm>

#include "hosts/png_codec.h"

namespace vesmara {

bool encodeRgbaPng(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba,
                   std::vector<std::uint8_t>& png, int compression_level, PngFilters filters) {
  PngEncoding encoding{.width = width, .height = height, .compression_level = compression_level, .filters = filters};
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  if (rgba.size() != pixels * 4) return false;
  bool opaque = true;
  for (std::size_t p = 0; p < pixels && opaque; ++p) opaque = rgba[4 * p + 3] == 255;
  if (!opaque) return encodePng(encoding, rgba, png);
  encoding.colour_type = PngColourType::Rgb;
  std::vector<std::uint8_t> rgb(pixels * 3);
  for (std::size_t p = 0; p < pixels; ++p) std::copy_n(rgba.begin() + 4 * p, 3, rgb.begin() + 3 * p);
  return encodePng(encoding, rgb, png);
}

}  // namespace vesmara
