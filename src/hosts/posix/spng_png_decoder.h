// PNG decoding with libspng: the pixels of the one frame as 8-bit straight
// RGBA, the samples exactly as stored (no gamma, no colour profile).
#ifndef VESMARA_HOSTS_POSIX_SPNG_PNG_DECODER_H_
#define VESMARA_HOSTS_POSIX_SPNG_PNG_DECODER_H_

#include "hosts/png_codec.h"

namespace vesmara {

class SpngPngDecoder final : public PngDecoder {
 public:
  PngDecodeStatus decodePixels(std::span<const std::uint8_t> png, std::uint32_t width, std::uint32_t height,
                               std::vector<std::uint8_t>& rgba) override;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_POSIX_SPNG_PNG_DECODER_H_
