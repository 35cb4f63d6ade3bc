// Writes png-lsb1 carriers: a payload hidden in the low bits of the opaque
// pixels of a cover image, given or generated.
#ifndef VESMARA_PUBLISH_MEDIA_PIXEL_CARRIER_WRITER_H_
#define VESMARA_PUBLISH_MEDIA_PIXEL_CARRIER_WRITER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "media/pixel_payload_format.h"
#include "media/png_carrier.h"

namespace vesmara::publish {

// The most a generated cover carries: three bits in each pixel of the
// largest picture a reader decodes, less the payload's header.
inline constexpr std::uint64_t kGeneratedCoverCapacity = kMaxPngPixels * 3 / 8 - pixel_payload::kHeaderLength;

// An opaque picture with just enough pixels to carry `payload_length` bytes.
RgbaImage makePixelCover(std::uint64_t payload_length);

// Writes the header and `payload` into the low bits of `image`'s opaque
// pixels; pixels that are not fully opaque are left as they are. Fails when
// the payload is empty, over 16 MiB or does not fit.
bool embedPixelPayload(CryptoHost& crypto, std::span<const std::uint8_t> payload, RgbaImage& image, Failure& failure);

// A complete png-lsb1 carrier: `payload` hidden in the PNG file `cover`, or in
// a generated cover when `cover` is empty.
bool writePixelCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, std::span<const std::uint8_t> cover,
                       std::vector<std::uint8_t>& png, Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_MEDIA_PIXEL_CARRIER_WRITER_H_
