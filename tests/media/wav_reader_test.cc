#include "media/wav_reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/byte_writer.h"

namespace vesmara {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Chunk {
  std::string id;
  Bytes content;
  std::optional<std::uint32_t> declared;  // a size other than the content's
  bool pad = true;                        // the pad byte after odd content
};

Bytes formatChunk(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                  std::size_t extra = 0) {
  Bytes out;
  ByteWriter writer(out);
  writer.writeU16(tag);
  writer.writeU16(channels);
  writer.writeU32(rate);
  writer.writeU32(rate * channels * bits / 8);
  writer.writeU16(static_cast<std::uint16_t>(channels * bits / 8));
  writer.writeU16(bits);
  writer.writeZeros(extra);
  return out;
}

Bytes riff(const std::vector<Chunk>& chunks) {
  Bytes out;
  ByteWriter writer(out);
  writer.writeText("RIFF");
  writer.writeU32(0);
  writer.writeText("WAVE");
  for (const Chunk& chunk : chunks) {
    writer.writeText(chunk.id);
    writer.writeU32(chunk.declared.value_or(static_cast<std::uint32_t>(chunk.content.size())));
    writer.writeBytes(chunk.content);
    if (chunk.pad && chunk.content.size() % 2 != 0) writer.writeU8(0);
  }
  while (out.size() < 44) out.push_back(0);  // never read: too short for a chunk head
  return out;
}

Chunk fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  return {"fmt ", formatChunk(1, channels, rate, bits)};
}

TEST(WavReaderTest, AcceptsAndRefusesLayouts) {
  const struct {
    const char* name;
    Bytes wav;
    const char* message;  // empty when the file is accepted
    std::uint64_t frames;
  } cases[] = {
      {"odd chunk before data is padded", riff({fmt(2, 44100, 16), {"LIST", Bytes(3, 'x')}, {"data", Bytes(16, 1)}}),
       "", 4},
      {"odd last chunk without its pad byte", riff({fmt(1, 16000, 8), {"data", Bytes(45, 128), {}, false}}), "", 45},
      {"odd last chunk one byte short of a head",
       riff({fmt(1, 16000, 8), {"data", Bytes(8, 128)}, {"junk", Bytes(1, 0), {}, false}}), "", 8},
      {"later chunks replace earlier ones",
       riff({fmt(1, 8000, 8), {"data", Bytes(2, 0)}, fmt(2, 48000, 16), {"data", Bytes(8, 0)}}), "", 2},
      {"format chunk longer than 16 bytes", riff({{"fmt ", formatChunk(1, 1, 48000, 16, 2)}, {"data", Bytes(4, 0)}}),
       "", 2},
      {"short file", Bytes{'R', 'I', 'F', 'F'}, "Expected bounded PCM WAV carrier", 0},
      {"not RIFF",
       [] {
         Bytes b = riff({fmt(1, 16000, 8), {"data", Bytes(4, 0)}});
         b[0] = 'X';
         return b;
       }(),
       "Expected bounded PCM WAV carrier", 0},
      {"not WAVE",
       [] {
         Bytes b = riff({fmt(1, 16000, 8), {"data", Bytes(4, 0)}});
         b[8] = 'X';
         return b;
       }(),
       "Expected bounded PCM WAV carrier", 0},
      {"data longer than the file", riff({fmt(1, 16000, 8), {"data", Bytes(4, 0), 5}}), "Invalid WAV chunk", 0},
      {"no data chunk", riff({fmt(1, 16000, 8), {"LIST", Bytes(30, 0)}}), "Expected PCM WAV", 0},
      {"no format chunk", riff({{"data", Bytes(40, 0)}}), "Expected PCM WAV", 0},
      {"format chunk of 14 bytes", riff({{"fmt ", Bytes(14, 0)}, {"data", Bytes(40, 0)}}), "Expected PCM WAV", 0},
      {"floating point", riff({{"fmt ", formatChunk(3, 1, 48000, 32)}, {"data", Bytes(8, 0)}}), "Expected PCM WAV", 0},
      {"22,050 Hz", riff({fmt(1, 22050, 16), {"data", Bytes(8, 0)}}), "Unsupported PCM WAV format", 0},
      {"24-bit", riff({fmt(1, 48000, 24), {"data", Bytes(6, 0)}}), "Unsupported PCM WAV format", 0},
      {"3 channels", riff({fmt(3, 48000, 16), {"data", Bytes(6, 0)}}), "Unsupported PCM WAV format", 0},
      {"0 channels", riff({fmt(0, 48000, 16), {"data", Bytes(6, 0)}}), "Unsupported PCM WAV format", 0},
      {"partial 16-bit frame", riff({fmt(1, 16000, 16), {"data", Bytes(3, 0)}}), "Unsupported PCM WAV format", 0},
  };
  for (const auto& c : cases) {
    WavDescription wav;
    Failure decode_failure;
    EXPECT_EQ(readWav(c.wav, wav, decode_failure), std::string(c.message).empty()) << c.name;
    EXPECT_EQ(decode_failure.message, c.message) << c.name;
    if (decode_failure.message.empty()) {
      EXPECT_EQ(wav.frames, c.frames) << c.name;
    }
  }
}

TEST(WavReaderTest, FrameValuesAverageNormalisedChannels) {
  const struct {
    std::uint16_t channels;
    std::uint16_t bits;
    Bytes samples;
    std::vector<double> values;
  } cases[] = {
      {1, 8, {0, 128, 255}, {-1.0, 0.0, 0.9921875}},
      {2, 8, {0, 255, 192, 192}, {-0.00390625, 0.5}},
      {1, 16, {0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00}, {-1.0, 32767 / 32768.0, 1 / 32768.0}},
      {2, 16, {0x00, 0x80, 0x00, 0x40}, {-0.25}},
  };
  for (const auto& c : cases) {
    WavDescription wav;
    Failure decode_failure;
    const Bytes file = riff({fmt(c.channels, 48000, c.bits), {"data", c.samples}});
    ASSERT_TRUE(readWav(file, wav, decode_failure)) << decode_failure.message;
    std::vector<double> values(wav.frames);
    loadFrameValues(wav, 0, values.size(), values.data());
    EXPECT_EQ(values, c.values);
  }
}

}  // namespace
}  // namespace vesmara
