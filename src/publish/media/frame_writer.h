// Writes frame-luma carriers: a payload of up to 21 bytes in the brightness
// of block pairs (frame-luma1) or in the red low bits of the pixels the
// reader's own scatter chooses (frame-luma2).
#ifndef VESMARA_PUBLISH_MEDIA_FRAME_WRITER_H_
#define VESMARA_PUBLISH_MEDIA_FRAME_WRITER_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "media/png_carrier.h"

namespace vesmara::publish {

// An opaque textured picture of `width` x `height` pixels to hide a sparse
// frame in: its contrast varies, so the scatter picks varied pixels.
RgbaImage makeFrameCover(std::uint32_t width, std::uint32_t height);

// A legacy frame of `width` x `height` (at least 256 x 128): the data region
// drawn as block pairs, one bit each, the rest of the frame textured.
bool makeLegacyFrame(CryptoHost& crypto, std::span<const std::uint8_t> payload, std::uint32_t width,
                     std::uint32_t height, RgbaImage& frame, Failure& failure);

// Writes a sparse header and `payload` into `frame` (at least 256 x 128 with
// an opaque data region): the red low bits of the positions the reader
// selects. Nothing else of the frame changes.
bool embedSparseFrame(CryptoHost& crypto, std::span<const std::uint8_t> payload, RgbaImage& frame, Failure& failure);

// The two ways of writing a 32-byte frame header, whatever its content: as
// block pairs over the data region, or into the red low bits of the sparse
// positions (false when the frame has too few opaque pixels).
void drawLegacyHeader(std::span<const std::uint8_t, 32> header, RgbaImage& frame);
bool writeSparseHeader(std::span<const std::uint8_t, 32> header, RgbaImage& frame);

// A complete carrier of `codec` (frame-luma1 or frame-luma2) as a PNG file.
bool writeFrameCarrier(CryptoHost& crypto, std::string_view codec, std::span<const std::uint8_t> payload,
                       std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& png, Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_MEDIA_FRAME_WRITER_H_
