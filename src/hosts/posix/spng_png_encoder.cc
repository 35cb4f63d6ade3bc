// PNG encoding with libspng, for the publisher and the tests. Kept apart from
// the decoder so that the product library, which only decodes, never links it.
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "hosts/png_codec.h"

namespace vesmara {
namespace {

struct ContextFree {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

int filterChoiceOf(PngFilters filters) {
  switch (filters) {
    case PngFilters::None:
      return SPNG_FILTER_CHOICE_NONE;
    case PngFilters::Sub:
      return SPNG_FILTER_CHOICE_SUB;
    case PngFilters::Up:
      return SPNG_FILTER_CHOICE_UP;
    case PngFilters::Average:
      return SPNG_FILTER_CHOICE_AVG;
    case PngFilters::Paeth:
      return SPNG_FILTER_CHOICE_PAETH;
    case PngFilters::Adaptive:
      break;
  }
  return SPNG_FILTER_CHOICE_ALL;
}

std::uint16_t bigEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// The tRNS chunk as libspng takes it, from the chunk's stored contents.
bool transparencyOf(const PngEncoding& encoding, spng_trns& trns) {
  const std::span<const std::uint8_t> stored = encoding.transparency;
  switch (encoding.colour_type) {
    case PngColourType::Grey:
      if (stored.size() != 2) return false;
      trns.gray = bigEndian16(stored, 0);
      return true;
    case PngColourType::Rgb:
      if (stored.size() != 6) return false;
      trns.red = bigEndian16(stored, 0);
      trns.green = bigEndian16(stored, 2);
      trns.blue = bigEndian16(stored, 4);
      return true;
    case PngColourType::Palette:
      if (stored.empty() || stored.size() > 256) return false;
      trns.n_type3_entries = static_cast<std::uint32_t>(stored.size());
      std::copy(stored.begin(), stored.end(), trns.type3_alpha);
      return true;
    case PngColourType::GreyAlpha:
    case PngColourType::Rgba:
      break;
  }
  return false;
}

bool describe(spng_ctx* context, const PngEncoding& encoding) {
  spng_ihdr header{};
  header.width = encoding.width;
  header.height = encoding.height;
  header.bit_depth = encoding.bit_depth;
  header.color_type = static_cast<std::uint8_t>(encoding.colour_type);
  if (spng_set_ihdr(context, &header) != 0) return false;
  if (!encoding.palette.empty()) {
    if (encoding.palette.size() % 3 != 0 || encoding.palette.size() > 3 * 256) return false;
    spng_plte palette{};
    palette.n_entries = static_cast<std::uint32_t>(encoding.palette.size() / 3);
    for (std::uint32_t i = 0; i < palette.n_entries; ++i) {
      palette.entries[i].red = encoding.palette[3 * i];
      palette.entries[i].green = encoding.palette[3 * i + 1];
      palette.entries[i].blue = encoding.palette[3 * i + 2];
    }
    if (spng_set_plte(context, &palette) != 0) return false;
  }
  if (!encoding.transparency.empty()) {
    spng_trns trns{};
    if (!transparencyOf(encoding, trns) || spng_set_trns(context, &trns) != 0) return false;
  }
  return spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, encoding.compression_level) == 0 &&
         spng_set_option(context, SPNG_FILTER_CHOICE, filterChoiceOf(encoding.filters)) == 0 &&
         spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1) == 0;
}

}  // namespace

bool encodePng(const PngEncoding& encoding, std::span<const std::uint8_t> samples, std::vector<std::uint8_t>& png) {
  png.clear();
  Context context(spng_ctx_new(SPNG_CTX_ENCODER));
  if (context == nullptr || !describe(context.get(), encoding)) return false;
  // SPNG_FMT_RAW: the samples are in the file's own layout, 16-bit big-endian.
  if (spng_encode_image(context.get(), samples.data(), samples.size(), SPNG_FMT_RAW, SPNG_ENCODE_FINALIZE) != 0) {
    return false;
  }
  std::size_t length = 0;
  int error = 0;
  std::unique_ptr<std::uint8_t, decltype(&std::free)> buffer(
      static_cast<std::uint8_t*>(spng_get_png_buffer(context.get(), &length, &error)), &std::free);
  if (buffer == nullptr || error != 0) return false;
  png.assign(buffer.get(), buffer.get() + length);
  return true;
}

}  // namespace vesmara
