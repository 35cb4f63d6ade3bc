// The png-lsb1 reader: the payload hidden in the low bits of a decoded
// image's opaque pixels, checked against the digest its header carries.
#ifndef VESMARA_MEDIA_PIXEL_PAYLOAD_H_
#define VESMARA_MEDIA_PIXEL_PAYLOAD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "media/png_carrier.h"

namespace vesmara {

// On success `output` holds exactly the payload; on failure `failure` holds
// the reason and `output` means nothing. Throws only std::bad_alloc.
bool readPixelPayload(const RgbaImage& image, CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_MEDIA_PIXEL_PAYLOAD_H_
