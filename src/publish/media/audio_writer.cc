#include "publish/media/audio_writer.h"

#include <algorithm>
#include <cmath>

#include "base/byte_writer.h"
#include "base/hex.h"
#include "media/audio_format.h"

namespace vesmara::publish {
namespace {

constexpr std::uint64_t kMaxTransportRecording = 67108864;
constexpr std::uint32_t kMaxCopies = 3;

bool isValidFormat(const AudioFormat& format) {
  return std::find(std::begin(audio::kRates), std::end(audio::kRates), format.rate) != std::end(audio::kRates) &&
         (format.bits == 8 || format.bits == 16) && (format.channels == 1 || format.channels == 2);
}

bool checkSignalLayout(const AudioFormat& format, double amplitude, std::uint32_t copies, std::string& error) {
  if (!isValidFormat(format)) {
    error = "audio format must be 16,000, 44,100 or 48,000 Hz, 8 or 16 bits, mono or stereo";
    return false;
  }
  if (!(amplitude > 0.0 && amplitude <= 1.0) || copies < 1 || copies > kMaxCopies) {
    error = "audio amplitude must be in (0, 1] and copies 1 to 3";
    return false;
  }
  return true;
}

std::uint64_t framesOf(double seconds, std::uint32_t rate) {
  return seconds > 0.0 ? static_cast<std::uint64_t>(std::llround(seconds * rate)) : 0;
}

// The length of the 1-millisecond windows the standalone reader listens in.
std::uint64_t scanWindowOf(std::uint32_t rate) { return static_cast<std::uint64_t>(std::lround(rate / 1000.0)); }

std::uint64_t wavLengthOf(std::uint64_t frames, const AudioFormat& format) {
  const std::uint64_t data = frames * format.channels * (format.bits / 8);
  return 44 + data + data % 2;
}

// The packets of a payload: 128 bytes each, the last one possibly shorter.
bool payloadFrames(CryptoHost& crypto, std::span<const std::uint8_t> payload,
                   std::vector<std::vector<std::uint8_t>>& frames, Sha256Digest& digest, std::string& error) {
  if (!computeSha256(crypto, payload, digest)) {
    error = "SHA-256 provider failed";
    return false;
  }
  const std::uint32_t count = audio::packetCountFor(static_cast<std::uint32_t>(payload.size()));
  frames.resize(count);
  for (std::uint16_t index = 0; index < count; ++index) {
    if (!packetFrame(crypto, payload, digest, index, frames[index])) {
      error = "SHA-256 provider failed";
      return false;
    }
  }
  return true;
}

}  // namespace

void ToneSignal::alignTo(std::uint64_t frames) {
  if (frames > 1 && samples_.size() % frames != 0) appendSilence(frames - samples_.size() % frames);
}

void ToneSignal::appendTone(int tone, std::uint64_t frames) {
  const double step = audio::kTwoPi * audio::toneFrequency(tone) / rate_;
  for (std::uint64_t i = 0; i < frames; ++i) {
    samples_.push_back(amplitude_ * std::sin(phase_));
    phase_ += step;
    if (phase_ >= audio::kTwoPi) phase_ -= audio::kTwoPi;
  }
}

std::uint64_t ToneSignal::appendFrame(std::span<const std::uint8_t> bytes) {
  const std::int64_t start = static_cast<std::int64_t>(samples_.size());
  std::vector<int> tones;
  for (std::size_t j = 0; j < audio::kPreambleSymbols; ++j) tones.push_back(audio::preambleTone(j));
  for (const std::uint8_t byte : bytes) {
    for (int shift = 6; shift >= 0; shift -= 2) tones.push_back(byte >> shift & 3);
  }
  for (std::size_t j = 0; j < tones.size(); ++j) {
    const std::int64_t end = audio::symbolStart(rate_, start, j + 1);
    appendTone(tones[j], static_cast<std::uint64_t>(end) - samples_.size());
  }
  return static_cast<std::uint64_t>(start);
}

std::vector<std::uint8_t> encodeWav(std::span<const double> samples, const AudioFormat& format) {
  const std::uint64_t data = static_cast<std::uint64_t>(samples.size()) * format.channels * (format.bits / 8);
  std::vector<std::uint8_t> wav;
  wav.reserve(static_cast<std::size_t>(wavLengthOf(samples.size(), format)));
  ByteWriter writer(wav);
  writer.writeText("RIFF");
  writer.writeU32(static_cast<std::uint32_t>(wavLengthOf(samples.size(), format) - 8));
  writer.writeText("WAVEfmt ");
  writer.writeU32(16);
  writer.writeU16(audio::kPcmFormat);
  writer.writeU16(format.channels);
  writer.writeU32(format.rate);
  writer.writeU32(format.rate * format.channels * (format.bits / 8));
  writer.writeU16(static_cast<std::uint16_t>(format.channels * (format.bits / 8)));
  writer.writeU16(format.bits);
  writer.writeText("data");
  writer.writeU32(static_cast<std::uint32_t>(data));
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
  return wav;
}

bool packetFrame(CryptoHost& crypto, std::span<const std::uint8_t> payload, const Sha256Digest& payload_digest,
                 std::uint16_t index, std::vector<std::uint8_t>& frame) {
  const std::size_t first = audio::kMaxPacketLength * index;
  const auto packet = payload.subspan(first, std::min(audio::kMaxPacketLength, payload.size() - first));
  Sha256Digest digest{};
  if (!computeSha256(crypto, packet, digest)) return false;
  audio::FrameHeader header{
      .total_length = static_cast<std::uint32_t>(payload.size()),
      .packet_count = static_cast<std::uint16_t>(audio::packetCountFor(static_cast<std::uint32_t>(payload.size()))),
      .packet_index = index,
      .packet_length = static_cast<std::uint16_t>(packet.size()),
      .payload_digest = payload_digest,
  };
  std::copy_n(digest.begin(), header.packet_digest.size(), header.packet_digest.begin());
  frame.clear();
  ByteWriter writer(frame);
  audio::writeFrameHeader(header, writer);
  writer.writeBytes(packet);
  return true;
}

bool composeAudioCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, const AudioCarrierLayout& layout,
                         ToneSignal& signal, AudioCarrier& carrier, std::string& error) {
  if (payload.empty() || payload.size() > audio::kMaxPayloadLength) {
    error = "audio payload must be 1 to 4,096 bytes long";
    return false;
  }
  if (!checkSignalLayout(layout.format, layout.amplitude, layout.copies, error)) return false;
  std::vector<std::vector<std::uint8_t>> frames;
  Sha256Digest digest{};
  if (!payloadFrames(crypto, payload, frames, digest, error)) return false;
  carrier = {.length = payload.size(), .sha256 = encodeLowerHex(digest)};
  for (const auto& frame : frames) {
    Sha256Digest packet_digest{};
    const auto packet = std::span(frame).subspan(audio::kHeaderLength);
    if (!computeSha256(crypto, packet, packet_digest)) {
      error = "SHA-256 provider failed";
      return false;
    }
    carrier.packets.push_back({.length = packet.size(), .sha256 = encodeLowerHex(packet_digest)});
  }
  std::vector<std::vector<std::uint64_t>> starts(layout.copies);
  signal.appendSilence(framesOf(layout.lead_seconds, signal.rate()));
  for (auto& copy_starts : starts) {
    for (const auto& frame : frames) {
      copy_starts.push_back(signal.appendFrame(frame));
      signal.appendSilence(framesOf(layout.gap_seconds, signal.rate()));
    }
  }
  for (std::uint32_t copy = 0; copy < kMaxCopies; ++copy) {
    const auto& copy_starts = starts[std::min(copy, layout.copies - 1)];
    for (std::size_t packet = 0; packet < frames.size(); ++packet) {
      const double symbols = static_cast<double>(audio::firstSymbolOf(frames[packet].size()));
      carrier.locations.push_back({.packet = packet,
                                   .copy = copy,
                                   .start_seconds = static_cast<double>(copy_starts[packet]) / signal.rate(),
                                   .duration_seconds = symbols / audio::kSymbolsPerSecond});
    }
  }
  return true;
}

bool writeAudioCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, const AudioCarrierLayout& layout,
                       std::vector<std::uint8_t>& wav, AudioCarrier& carrier, std::string& error) {
  ToneSignal signal(layout.format.rate, layout.amplitude);
  if (!composeAudioCarrier(crypto, payload, layout, signal, carrier, error)) return false;
  if (wavLengthOf(signal.length(), layout.format) > audio::kMaxWavLength) {
    error = "audio carrier would exceed 128 MiB; use fewer copies, a lower rate or fewer bits";
    return false;
  }
  wav = encodeWav(signal.samples(), layout.format);
  return true;
}

bool composeTransport(CryptoHost& crypto, AesKey key, std::span<const std::uint8_t> plaintext,
                      const TransportLayout& layout, ToneSignal& signal, std::string& error) {
  if (plaintext.empty() || plaintext.size() > audio::kTransportPlaintextLimit) {
    error = "message must be 1 to 4,068 bytes long";
    return false;
  }
  if (!checkSignalLayout(layout.format, layout.amplitude, layout.copies, error)) return false;
  std::array<std::uint8_t, kGcmNonceLength> nonce{};
  if (layout.nonce) {
    nonce = *layout.nonce;
  } else if (!crypto.randomBytes(nonce)) {
    error = "random generator failed";
    return false;
  }
  std::vector<std::uint8_t> sealed;
  if (!crypto.aesGcmEncrypt(key, nonce, audio::transportLabel(), plaintext, sealed)) {
    error = "AES-GCM provider failed";
    return false;
  }
  std::vector<std::uint8_t> payload(nonce.begin(), nonce.end());
  payload.insert(payload.end(), sealed.begin(), sealed.end());
  std::vector<std::vector<std::uint8_t>> frames;
  Sha256Digest digest{};
  if (!payloadFrames(crypto, payload, frames, digest, error)) return false;
  // Frames start on the reader's window grid and are followed by at least 21
  // quiet windows, so each one opens a segment of its own at its first frame.
  const std::uint64_t window = scanWindowOf(signal.rate());
  const std::uint64_t gap =
      std::max(framesOf(layout.gap_seconds, signal.rate()), (audio::kQuietWindowsToClose + 1) * window);
  signal.appendSilence(framesOf(layout.lead_seconds, signal.rate()));
  for (std::uint32_t copy = 0; copy < layout.copies; ++copy) {
    for (const auto& frame : frames) {
      signal.alignTo(window);
      signal.appendFrame(frame);
      signal.appendSilence(gap);
    }
  }
  return true;
}

bool writeTransportRecording(CryptoHost& crypto, AesKey key, std::span<const std::uint8_t> plaintext,
                             const TransportLayout& layout, std::vector<std::uint8_t>& wav, std::string& error) {
  ToneSignal signal(layout.format.rate, layout.amplitude);
  if (!composeTransport(crypto, key, plaintext, layout, signal, error)) return false;
  if (wavLengthOf(signal.length(), layout.format) > kMaxTransportRecording) {
    error = "recording would exceed 64 MiB; use fewer copies, a lower rate or fewer bits";
    return false;
  }
  wav = encodeWav(signal.samples(), layout.format);
  return true;
}

}  // namespace vesmara::publish
