// Writes PCM WAV files: the recordings the audio carriers and the media
// transport travel in.
#ifndef VESMARA_PUBLISH_MEDIA_WAV_WRITER_H_
#define VESMARA_PUBLISH_MEDIA_WAV_WRITER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "base/failure.h"

namespace vesmara::publish {

struct AudioFormat {
  std::uint32_t rate = 16000;  // 16,000, 44,100 or 48,000
  std::uint16_t bits = 16;     // 8 or 16
  std::uint16_t channels = 1;  // 1 or 2
};

// The length of the WAV file of `frames` frames of `format`.
std::uint64_t wavLengthOf(std::uint64_t frames, const AudioFormat& format);

// The most frames a WAV file of `format` holds within `limit` bytes (even,
// as every limit of the recordings is, so the data's pad byte always fits).
std::uint64_t maxFramesOf(std::uint64_t limit, const AudioFormat& format);

// The samples as a PCM WAV file of `format` (every channel the same). Fails
// (InvalidData) when they are more than a WAV file's 32-bit sizes describe.
bool encodeWav(std::span<const double> samples, const AudioFormat& format, std::vector<std::uint8_t>& wav,
               Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_MEDIA_WAV_WRITER_H_
