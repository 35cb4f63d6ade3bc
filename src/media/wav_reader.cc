#include "media/wav_reader.h"

#include <algorithm>
#include <optional>

#include "base/byte_reader.h"
#include "media/audio_format.h"
#include "media/wav_format.h"

namespace vesmara {
namespace {

struct Chunk {
  std::size_t offset = 0;
  std::size_t size = 0;
};

// 8-bit samples are unsigned around 128; 16-bit samples signed.
constexpr double kEightBitScale = 0.0078125;
constexpr double kSixteenBitScale = 3.0517578125e-5;

double eightBit(std::uint8_t sample) { return (sample - 128) * kEightBitScale; }

double sixteenBit(const std::uint8_t* bytes) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8)) * kSixteenBitScale;
}

}  // namespace

bool readWav(std::span<const std::uint8_t> carrier, WavDescription& wav, Failure& failure) {
  wav = {};
  ByteReader head(carrier);
  if (carrier.size() < wav::kHeaderLength || carrier.size() > audio::kMaxWavLength ||
      !head.readExpected(wav::kRiffId) || !head.skip(wav::kChunkHeadLength - wav::kChunkIdLength) ||
      !head.readExpected(wav::kWaveId)) {
    return failure.fail(FailureKind::InvalidData, "Expected bounded PCM WAV carrier");
  }
  std::optional<Chunk> format;
  std::optional<Chunk> data;
  // The walk ends when fewer than 8 bytes remain, and also when the pad byte
  // of an odd-sized last chunk would be past the end of the file.
  std::size_t cursor = wav::kFirstChunkAt;
  while (cursor < carrier.size() && carrier.size() - cursor >= wav::kChunkHeadLength) {
    ByteReader reader(carrier.subspan(cursor));
    std::span<const std::uint8_t> id;
    std::uint32_t size = 0;
    if (!reader.readBytes(wav::kChunkIdLength, id) || !reader.readU32(size) || size > reader.remaining()) {
      return failure.fail(FailureKind::InvalidData, "Invalid WAV chunk");
    }
    const Chunk chunk{cursor + wav::kChunkHeadLength, size};
    const std::string_view name(reinterpret_cast<const char*>(id.data()), id.size());
    if (name == wav::kFormatChunkId) format = chunk;
    if (name == wav::kDataChunkId) data = chunk;
    cursor = chunk.offset + size + size % 2;
  }
  std::uint16_t tag = 0;
  ByteReader fields(format ? carrier.subspan(format->offset, format->size) : std::span<const std::uint8_t>());
  if (!format || format->size < wav::kPcmFormatChunkLength || !data || !fields.readU16(tag) || tag != wav::kPcmFormat ||
      !fields.readU16(wav.channels) || !fields.readU32(wav.rate) || !fields.skip(wav::kUnusedFormatFieldsLength) ||
      !fields.readU16(wav.bits)) {
    return failure.fail(FailureKind::InvalidData, "Expected PCM WAV");
  }
  const std::size_t frame_bytes = static_cast<std::size_t>(wav.channels) * (wav.bits / 8);
  if ((wav.channels != 1 && wav.channels != 2) || !audio::isAcceptedRate(wav.rate) ||
      (wav.bits != 8 && wav.bits != 16) || data->size % frame_bytes != 0) {
    return failure.fail(FailureKind::InvalidData, "Unsupported PCM WAV format");
  }
  wav.samples = carrier.subspan(data->offset, data->size);
  wav.frames = data->size / frame_bytes;
  return true;
}

void loadFrameValues(const WavDescription& wav, std::uint64_t first, std::size_t count, double* values) {
  const std::size_t frame_bytes = static_cast<std::size_t>(wav.channels) * (wav.bits / 8);
  const std::uint8_t* at = wav.samples.data() + first * frame_bytes;
  // Each frame value is the channels' sum divided by the channel count; the
  // values are exact in double, so the branches below give the same results.
  if (wav.bits == 8 && wav.channels == 1) {
    for (std::size_t i = 0; i < count; ++i) values[i] = eightBit(at[i]);
  } else if (wav.bits == 8) {
    for (std::size_t i = 0; i < count; ++i) values[i] = (eightBit(at[2 * i]) + eightBit(at[2 * i + 1])) / 2;
  } else if (wav.channels == 1) {
    for (std::size_t i = 0; i < count; ++i) values[i] = sixteenBit(at + 2 * i);
  } else {
    for (std::size_t i = 0; i < count; ++i) values[i] = (sixteenBit(at + 4 * i) + sixteenBit(at + 4 * i + 2)) / 2;
  }
}

}  // namespace vesmara
