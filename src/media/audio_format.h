// The wav-4fsk1 audio frames, shared by their readers (src/media) and their
// writers (src/publish) so the two cannot drift apart.
//
// A frame is a run of 10-millisecond symbols, each one of four tones (1,000,
// 1,500, 2,000 or 2,500 Hz) and so two bits: 16 preamble symbols alternating
// tone 0 and tone 3, then bytes of four symbols each, most significant bits
// first. Its first 54 bytes are a header (little-endian integers): magic,
// total payload length, packet count, packet index, packet length, the
// SHA-256 of the whole payload, the first 8 bytes of the packet's SHA-256;
// the packet bytes follow.
#ifndef VESMARA_MEDIA_AUDIO_FORMAT_H_
#define VESMARA_MEDIA_AUDIO_FORMAT_H_

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/byte_reader.h"
#include "base/byte_writer.h"

namespace vesmara::audio {

// ---- Recordings (PCM WAV files, src/media/wav_format.h) -------------------
inline constexpr std::uint64_t kMaxWavLength = 134217728;
inline constexpr std::uint32_t kRates[] = {16000, 44100, 48000};

inline bool isAcceptedRate(std::uint32_t rate) {
  return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}

// ---- Symbols -------------------------------------------------------------
inline constexpr int kToneCount = 4;
inline constexpr double kFirstTone = 1000;
inline constexpr double kToneStep = 500;
inline constexpr double kTwoPi = 6.283185307179586;
// The analysis window of a symbol runs from its 1st to its 9th millisecond.
inline constexpr double kWindowStart = 0.001;
inline constexpr double kWindowEnd = 0.009;
inline constexpr double kSymbolsPerSecond = 100;
inline constexpr std::size_t kPreambleSymbols = 16;
inline constexpr std::size_t kSymbolsPerByte = 4;

inline double toneFrequency(int tone) { return kFirstTone + kToneStep * tone; }

// The tone preamble symbol `symbol` must carry.
inline int preambleTone(std::size_t symbol) { return symbol % 2 == 0 ? 0 : 3; }

// The frame position where symbol `symbol` of the frame starting at `start`
// begins. Callers keep `start` far below 2^53, where the sum is exact.
inline std::int64_t symbolStart(std::uint32_t rate, std::int64_t start, std::uint64_t symbol) {
  return std::llround(static_cast<double>(symbol) * (rate / kSymbolsPerSecond) + static_cast<double>(start));
}

// The first symbol number of frame byte `byte`.
inline std::uint64_t firstSymbolOf(std::uint64_t byte) { return kPreambleSymbols + kSymbolsPerByte * byte; }

// ---- Frame header --------------------------------------------------------
inline constexpr std::string_view kFrameMagic = "VKA1";
inline constexpr std::size_t kMagicLength = 4;
inline constexpr std::size_t kHeaderLength = 54;
inline constexpr std::size_t kPacketDigestPrefix = 8;
inline constexpr std::size_t kMaxPacketLength = 128;
// The largest payload an audio carrier or a standalone recording carries.
inline constexpr std::uint32_t kMaxPayloadLength = 4096;

struct FrameHeader {
  std::uint32_t total_length = 0;
  std::uint16_t packet_count = 0;
  std::uint16_t packet_index = 0;
  std::uint16_t packet_length = 0;
  std::array<std::uint8_t, 32> payload_digest{};
  std::array<std::uint8_t, kPacketDigestPrefix> packet_digest{};
};

// The fields of a 54-byte header; false when the magic is wrong.
inline bool parseFrameHeader(std::span<const std::uint8_t> bytes, FrameHeader& header) {
  ByteReader reader(bytes);
  std::span<const std::uint8_t> payload_digest;
  std::span<const std::uint8_t> packet_digest;
  if (!reader.readExpected(kFrameMagic) || !reader.readU32(header.total_length) ||
      !reader.readU16(header.packet_count) || !reader.readU16(header.packet_index) ||
      !reader.readU16(header.packet_length) || !reader.readBytes(header.payload_digest.size(), payload_digest) ||
      !reader.readBytes(header.packet_digest.size(), packet_digest)) {
    return false;
  }
  std::copy(payload_digest.begin(), payload_digest.end(), header.payload_digest.begin());
  std::copy(packet_digest.begin(), packet_digest.end(), header.packet_digest.begin());
  return true;
}

inline void writeFrameHeader(const FrameHeader& header, ByteWriter& writer) {
  writer.writeText(kFrameMagic);
  writer.writeU32(header.total_length);
  writer.writeU16(header.packet_count);
  writer.writeU16(header.packet_index);
  writer.writeU16(header.packet_length);
  writer.writeBytes(header.payload_digest);
  writer.writeBytes(header.packet_digest);
}

// ---- Media transport (standalone recordings) -----------------------------
inline constexpr std::string_view kTransportLabel = "VKR-MEDIA-TRANSPORT-V1";
// The label as the additional authenticated data of the sealed payload.
inline std::span<const std::uint8_t> transportLabel() {
  return {reinterpret_cast<const std::uint8_t*>(kTransportLabel.data()), kTransportLabel.size()};
}
inline constexpr std::uint32_t kMinTransportLength = 29;
inline constexpr std::uint32_t kMaxTransportLength = kMaxPayloadLength;
inline constexpr std::uint64_t kTransportPlaintextLimit = 4068;
// The largest standalone recording: what the export takes from a caller and
// the most the publisher writes.
inline constexpr std::uint64_t kMaxTransportRecordingLength = 67108864;  // 64 MiB
// The sound scan: 1-millisecond windows, loud above this mean square; a
// segment closes after this many quiet windows.
inline constexpr double kLoudMeanSquare = 0.002;
inline constexpr std::uint32_t kQuietWindowsToClose = 20;

// The number of packets of a payload of `length` bytes.
inline std::uint32_t packetCountFor(std::uint32_t length) {
  return (length + static_cast<std::uint32_t>(kMaxPacketLength) - 1) / kMaxPacketLength;
}

}  // namespace vesmara::audio

#endif  // VESMARA_MEDIA_AUDIO_FORMAT_H_
