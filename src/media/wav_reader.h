// Reading a PCM WAV recording: its format and where its samples are.
#ifndef VESMARA_MEDIA_WAV_READER_H_
#define VESMARA_MEDIA_WAV_READER_H_

#include <cstdint>
#include <span>
#include <string>

#include "base/failure.h"

namespace vesmara {

// A recording the audio carriers can demodulate: 1 or 2 channels of 8-bit
// unsigned or 16-bit signed little-endian samples, interleaved by frame, at
// 16,000, 44,100 or 48,000 frames per second. `samples` views the carrier.
struct WavDescription {
  std::span<const std::uint8_t> samples;
  std::uint64_t frames = 0;
  std::uint32_t rate = 0;
  std::uint16_t channels = 0;
  std::uint16_t bits = 0;
};

// On failure `failure` holds the reason.
bool readWav(std::span<const std::uint8_t> carrier, WavDescription& wav, Failure& failure);

// The values of `count` frames from `first` (all within the recording): each
// frame's channels normalised to [-1, 1) and averaged.
void loadFrameValues(const WavDescription& wav, std::uint64_t first, std::size_t count, double* values);

}  // namespace vesmara

#endif  // VESMARA_MEDIA_WAV_READER_H_
