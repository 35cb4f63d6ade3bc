// The index document's fixed texts, media codec names and limits, shared by
// its reader (src/index) and its writer (src/publish) so the two cannot drift
// apart. Its member names are in index/document_fields.h.
#ifndef VESMARA_INDEX_INDEX_FORMAT_H_
#define VESMARA_INDEX_INDEX_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesmara {

// ---- Limits ----------------------------------------------------------------
inline constexpr std::uint64_t kMaxResources = 4096;
inline constexpr std::uint64_t kMaxPartsPerResource = 16384;
inline constexpr std::uint64_t kMaxResourceLength = 1073741824;  // 1 GiB
inline constexpr std::uint64_t kMaxPlainPartLength = 4194304;    // 4 MiB
inline constexpr std::uint64_t kMaxAudioCarriers = 64;
inline constexpr std::uint64_t kMaxAudioPayload = 4096;
inline constexpr std::uint64_t kMaxAudioPackets = 32;
inline constexpr std::uint64_t kMaxAudioPacketLength = 128;
inline constexpr std::size_t kMaxMemberKeyIdLength = 64;

// ---- Media codecs a part may name ------------------------------------------
inline constexpr std::string_view kCodecPngLsb1 = "png-lsb1";
inline constexpr std::string_view kCodecWav4Fsk1 = "wav-4fsk1";
inline constexpr std::string_view kCodecFrameLuma1 = "frame-luma1";
inline constexpr std::string_view kCodecFrameLuma2 = "frame-luma2";

inline bool isMediaCodec(std::string_view codec) {
  return codec == kCodecPngLsb1 || codec == kCodecWav4Fsk1 || codec == kCodecFrameLuma1 || codec == kCodecFrameLuma2;
}

// ---- Fixed texts -------------------------------------------------------------
// The algorithm names of the site keystream, and of the member sealing and
// the private index.
inline constexpr std::string_view kAlgorithmAes256Ctr = "AES-256-CTR";
inline constexpr std::string_view kAlgorithmAes256Gcm = "AES-256-GCM";
inline constexpr std::string_view kAudioCarrierFormat = "vkr.audio-carrier.v1";
inline constexpr std::string_view kAudioCarrierExtension = ".wav";  // ends every audio carrier path
inline constexpr std::string_view kAccessPublic = "public";
inline constexpr std::string_view kAccessMembers = "members";
inline constexpr std::string_view kDeliveryDownload = "download";
inline constexpr std::string_view kDeliveryApp = "app";  // never written: the absent delivery

}  // namespace vesmara

#endif  // VESMARA_INDEX_INDEX_FORMAT_H_
