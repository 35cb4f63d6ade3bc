// PNG decoding on Windows: COM and the Windows Imaging Component, from an
// in-memory stream into 32-bit straight RGBA.
#ifndef VESMARA_HOSTS_WINDOWS_WIC_PNG_DECODER_H_
#define VESMARA_HOSTS_WINDOWS_WIC_PNG_DECODER_H_

#include "hosts/png_codec.h"

namespace vesmara {

// Holds no state: COM is initialised and uninitialised within each decode
// on the calling thread, and every interface lives for one decode.
class WicPngDecoder final : public PngDecoder {
 public:
  WicPngDecoder() = default;
  PngDecodeStatus decodePixels(std::span<const std::uint8_t> png, std::uint32_t width, std::uint32_t height,
                               std::vector<std::uint8_t>& rgba) override;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_WINDOWS_WIC_PNG_DECODER_H_
