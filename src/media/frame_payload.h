// The frame-luma readers: the short payload of a decoded frame, by the
// brightness of block pairs (legacy) or by the red low bits of scattered
// pixels (sparse, falling back to the legacy reading).
#ifndef VESMARA_MEDIA_FRAME_PAYLOAD_H_
#define VESMARA_MEDIA_FRAME_PAYLOAD_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "media/frame_format.h"
#include "media/png_carrier.h"

namespace vesmara {

// On success `output` holds exactly the payload; on failure `failure` holds
// the reason and `output` means nothing.
bool readLegacyFrame(const RgbaImage& frame, CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure);

// A frame without a valid sparse header is read by the legacy reading, whose
// result and failure stand.
bool readSparseFrame(const RgbaImage& frame, CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure);

using SparsePositions = std::array<std::uint32_t, frame::kSparsePositions>;

// The pixel indexes the sparse reading takes its bits from, in bit order:
// bit i is read from positions 3i to 3i + 2. False when the scatter runs out
// of candidates first. Only alpha and the channels' upper seven bits decide,
// so a writer may change the red low bits of the positions afterwards.
bool selectSparsePositions(const RgbaImage& frame, SparsePositions& positions);

}  // namespace vesmara

#endif  // VESMARA_MEDIA_FRAME_PAYLOAD_H_
