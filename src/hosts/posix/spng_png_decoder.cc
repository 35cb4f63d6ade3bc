#include "hosts/posix/spng_png_decoder.h"

#include <spng.h>

#include <memory>
#include <string_view>

#include "hosts/png_chunks.h"

namespace vesmara {
namespace {

// The largest side the decoder accepts: the carriers' pixel bound, so that a
// 16,777,216 x 1 image passes while the library's own defaults do not decide.
constexpr std::uint32_t kSideLimit = 16777216;
// No chunk of a carrier (at most 64 MiB) is longer; the cache bound keeps
// the ancillary chunks the decoder stores within the same size.
constexpr std::size_t kChunkLimit = 67108864;

struct ContextFree {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

// Opening a file reads every chunk before the image data, as a decoder that
// caches metadata on load does, so that a broken header chunk fails here and
// not later as broken image data. libspng reads them all for any chunk
// query; a palette that is simply absent is no failure.
bool readsHeaderChunks(spng_ctx* context) {
  spng_plte palette{};
  const int result = spng_get_plte(context, &palette);
  return result == 0 || result == SPNG_ECHUNKAVAIL;
}

}  // namespace

PngDecodeStatus SpngPngDecoder::decodePixels(std::span<const std::uint8_t> png, std::uint32_t width,
                                             std::uint32_t height, std::vector<std::uint8_t>& rgba) {
  rgba.clear();
  Context context(spng_ctx_new(0));
  if (context == nullptr) return PngDecodeStatus::Unavailable;
  if (spng_set_image_limits(context.get(), kSideLimit, kSideLimit) != 0 ||
      spng_set_chunk_limits(context.get(), kChunkLimit, kChunkLimit) != 0) {
    return PngDecodeStatus::Unavailable;
  }
  spng_ihdr header{};
  if (spng_set_png_buffer(context.get(), png.data(), png.size()) != 0 || spng_get_ihdr(context.get(), &header) != 0 ||
      !readsHeaderChunks(context.get())) {
    return PngDecodeStatus::DecodeFailed;
  }
  if (isAnimatedPng(png)) return PngDecodeStatus::FrameCountInvalid;
  if (header.width != width || header.height != height) return PngDecodeStatus::DimensionsChanged;
  const std::size_t expected = static_cast<std::size_t>(width) * height * 4;
  std::size_t size = 0;
  if (spng_decoded_image_size(context.get(), SPNG_FMT_RGBA8, &size) != 0 || size != expected) {
    return PngDecodeStatus::ConversionFailed;
  }
  rgba.resize(size);
  // SPNG_DECODE_TRNS expands tRNS into alpha; without SPNG_DECODE_GAMMA no
  // gamma correction is applied.
  if (spng_decode_image(context.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
    rgba.clear();
    return PngDecodeStatus::PixelCopyFailed;
  }
  return PngDecodeStatus::Ok;
}

}  // namespace vesmara
