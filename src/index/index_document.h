// The index document: the JSON text every index carrier ends in.
#ifndef VESMARA_INDEX_INDEX_DOCUMENT_H_
#define VESMARA_INDEX_INDEX_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"

namespace vesmara {

inline constexpr std::uint64_t kMaxResources = 4096;
inline constexpr std::uint64_t kMaxPartsPerResource = 16384;
inline constexpr std::uint64_t kMaxResourceLength = 1073741824;  // 1 GiB
inline constexpr std::uint64_t kMaxPlainPartLength = 4194304;    // 4 MiB
inline constexpr std::uint64_t kMaxAudioCarriers = 64;
inline constexpr std::uint64_t kMaxAudioPayload = 4096;
inline constexpr std::uint64_t kMaxAudioPackets = 32;
inline constexpr std::uint64_t kMaxAudioPacketLength = 128;
inline constexpr std::size_t kMaxMemberKeyIdLength = 64;

// The media codecs a part may name.
inline constexpr std::string_view kCodecPngLsb1 = "png-lsb1";
inline constexpr std::string_view kCodecWav4Fsk1 = "wav-4fsk1";
inline constexpr std::string_view kCodecFrameLuma1 = "frame-luma1";
inline constexpr std::string_view kCodecFrameLuma2 = "frame-luma2";

// Validates the whole document and builds the index. On failure `failure`
// holds the reason (InvalidData) and `out` is unchanged: nothing of a failed document is
// kept. Throws only std::bad_alloc.
bool parseIndexDocument(std::string_view document, SiteIndex& out, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_INDEX_INDEX_DOCUMENT_H_
