#include "publish/media/wav_writer.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/byte_writer.h"
#include "media/wav_format.h"

namespace vesmara::publish {
namespace {

constexpr std::string_view kWavTooLong = "recording would exceed the 4 GiB a WAV file can hold";

std::uint64_t frameBytesOf(const AudioFormat& format) { return std::uint64_t{format.channels} * (format.bits / 8); }

}  // namespace

std::uint64_t wavLengthOf(std::uint64_t frames, const AudioFormat& format) {
  const std::uint64_t data = frames * frameBytesOf(format);
  return wav::kHeaderLength + data + data % 2;
}

std::uint64_t maxFramesOf(std::uint64_t limit, const AudioFormat& format) {
  return (limit - wav::kHeaderLength) / frameBytesOf(format);
}

bool encodeWav(std::span<const double> samples, const AudioFormat& format, std::vector<std::uint8_t>& wav,
               Failure& failure) {
  const std::uint64_t frame_bytes = frameBytesOf(format);
  const std::uint64_t data = static_cast<std::uint64_t>(samples.size()) * frame_bytes;
  std::vector<std::uint8_t> out;
  ByteWriter writer(out);
  writer.writeText(wav::kRiffId);
  if (!writer.writeU32Checked(wavLengthOf(samples.size(), format) - wav::kRiffHeadLength)) {
    return failure.fail(FailureKind::InvalidData, kWavTooLong);
  }
  writer.writeText(wav::kWaveId);
  writer.writeText(wav::kFormatChunkId);
  writer.writeU32(wav::kPcmFormatChunkLength);
  writer.writeU16(wav::kPcmFormat);
  writer.writeU16(format.channels);
  writer.writeU32(format.rate);
  if (!writer.writeU32Checked(format.rate * frame_bytes) || !writer.writeU16Checked(frame_bytes)) {
    return failure.fail(FailureKind::InvalidData, kWavTooLong);
  }
  writer.writeU16(format.bits);
  writer.writeText(wav::kDataChunkId);
  if (!writer.writeU32Checked(data)) return failure.fail(FailureKind::InvalidData, kWavTooLong);
  out.reserve(static_cast<std::size_t>(wavLengthOf(samples.size(), format)));
  for (const double sample : samples) {
    const double value = std::clamp(sample, -1.0, 1.0);
    for (std::uint16_t channel = 0; channel < format.channels; ++channel) {
      if (format.bits == 8) {
        writer.writeU8(static_cast<std::uint8_t>(std::clamp<long>(128 + std::lround(value * 127), 0, 255)));
      } else {
        writer.writeU16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value * 32767))));
      }
    }
  }
  if (data % 2 != 0) writer.writeU8(0);
  wav = std::move(out);
  return true;
}

}  // namespace vesmara::publish
