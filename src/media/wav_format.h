// The PCM WAV container, shared by its reader (src/media/wav_reader.cc) and
// its writer (src/publish/media/wav_writer.cc) so the two cannot drift apart.
//
// A file is "RIFF", the size of what follows (32-bit little-endian), "WAVE",
// then chunks: a 4-byte id, a 32-bit little-endian size, the body and a pad
// byte when the size is odd. The "fmt " chunk starts with the format tag,
// channels, frame rate, byte rate, block align and bits per sample; the
// "data" chunk holds the samples. The writer's files are the 44 bytes of
// header these make, then the samples.
#ifndef VESMARA_MEDIA_WAV_FORMAT_H_
#define VESMARA_MEDIA_WAV_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesmara::wav {

inline constexpr std::string_view kRiffId = "RIFF";
inline constexpr std::string_view kWaveId = "WAVE";
inline constexpr std::string_view kFormatChunkId = "fmt ";
inline constexpr std::string_view kDataChunkId = "data";
inline constexpr std::size_t kChunkIdLength = 4;
inline constexpr std::size_t kChunkHeadLength = 8;  // id and size
inline constexpr std::size_t kFirstChunkAt = 12;    // after "RIFF", its size and "WAVE"
// Not counted in the RIFF size: "RIFF" and the size itself.
inline constexpr std::uint64_t kRiffHeadLength = 8;

inline constexpr std::uint16_t kPcmFormat = 1;
inline constexpr std::size_t kPcmFormatChunkLength = 16;     // the fields above; longer chunks are read too
inline constexpr std::size_t kUnusedFormatFieldsLength = 6;  // byte rate and block align

// A file of one "fmt " and one "data" chunk: the shortest WAV file.
inline constexpr std::uint64_t kHeaderLength =
    kFirstChunkAt + kChunkHeadLength + kPcmFormatChunkLength + kChunkHeadLength;
static_assert(kHeaderLength == 44);

}  // namespace vesmara::wav

#endif  // VESMARA_MEDIA_WAV_FORMAT_H_
