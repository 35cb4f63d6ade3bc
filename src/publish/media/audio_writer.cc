#include "publish/media/audio_writer.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/byte_writer.h"
#include "base/hex.h"
#include "media/audio_format.h"

namespace vesmara::publish {
namespace {

constexpr std::uint32_t kMaxCopies = 3;

bool isValidFormat(const AudioFormat& format) {
  return audio::isAcceptedRate(format.rate) && (format.bits == 8 || format.bits == 16) &&
         (format.channels == 1 || format.channels == 2);
}

bool checkSignalLayout(const AudioFormat& format, double amplitude, std::uint32_t copies, Failure& failure) {
  if (!isValidFormat(format)) {
    return failure.fail(FailureKind::InvalidData,
                        "audio format must be 16,000, 44,100 or 48,000 Hz, 8 or 16 bits, mono or stereo");
  }
  if (!(amplitude > 0.0 && amplitude <= 1.0) || copies < 1 || copies > kMaxCopies) {
    return failure.fail(FailureKind::InvalidData, "audio amplitude must be in (0, 1] and copies 1 to 3");
  }
  return true;
}

// The length of the 1-millisecond windows the standalone reader listens in.
std::uint64_t scanWindowOf(std::uint32_t rate) { return static_cast<std::uint64_t>(std::lround(rate / 1000.0)); }

// The frames of `seconds` of silence (none for zero or less). False when
// they alone would exceed `max_frames`: checked in floating point before
// any conversion, so that no length is ever rounded from an unbounded value.
bool silenceFrames(double seconds, std::uint32_t rate, std::uint64_t max_frames, std::uint64_t& frames) {
  frames = 0;
  if (!(seconds > 0.0)) return true;
  const double exact = seconds * rate;
  if (!(exact <= static_cast<double>(max_frames))) return false;
  frames = static_cast<std::uint64_t>(std::llround(exact));
  return true;
}

// Follows a composition without keeping its samples: the length a signal
// would reach, so that a recording over its size limit is refused before
// any of it exists.
class SignalLength {
 public:
  explicit SignalLength(std::uint32_t rate) : rate_(rate) {}

  std::uint32_t rate() const { return rate_; }
  std::uint64_t length() const { return length_; }
  void appendSilence(std::uint64_t frames) { length_ += frames; }
  void alignTo(std::uint64_t frames) {
    if (frames > 1 && length_ % frames != 0) length_ += frames - length_ % frames;
  }
  // A frame ends where the symbol after its last one would start.
  std::uint64_t appendFrame(std::span<const std::uint8_t> bytes) {
    const std::uint64_t start = length_;
    length_ = static_cast<std::uint64_t>(
        audio::symbolStart(rate_, static_cast<std::int64_t>(start), audio::firstSymbolOf(bytes.size())));
    return start;
  }

 private:
  std::uint32_t rate_;
  std::uint64_t length_ = 0;
};

// The packets of a payload: 128 bytes each, the last one possibly shorter.
bool payloadFrames(CryptoHost& crypto, std::span<const std::uint8_t> payload,
                   std::vector<std::vector<std::uint8_t>>& frames, Sha256Digest& digest, Failure& failure) {
  if (!computeSha256(crypto, payload, digest)) {
    return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
  }
  // The callers bound the payload to 4,096 bytes.
  const std::uint32_t count = audio::packetCountFor(static_cast<std::uint32_t>(payload.size()));
  frames.resize(count);
  for (std::uint16_t index = 0; index < count; ++index) {
    if (!packetFrame(crypto, payload, digest, index, frames[index], failure)) return false;
  }
  return true;
}

constexpr std::string_view kPayloadLengthRange = "audio payload must be 1 to 4,096 bytes long";
constexpr std::string_view kCarrierTooLong =
    "audio carrier would exceed 128 MiB; use fewer copies, a lower rate or fewer bits";
constexpr std::string_view kRecordingTooLong =
    "recording would exceed 64 MiB; use fewer copies, a lower rate or fewer bits";

// What a recording is made of before any sample exists: its frames and the
// silences around them, in frames.
struct SignalPlan {
  std::vector<std::vector<std::uint8_t>> frames;
  std::uint64_t lead = 0;
  std::uint64_t gap = 0;
};

// The lead and gap silences of a layout at `rate` frames per second; none
// may alone outgrow a recording of `format` within `limit` bytes.
bool planSilences(const AudioFormat& format, std::uint32_t rate, double lead_seconds, double gap_seconds,
                  std::uint64_t limit, SignalPlan& plan) {
  const std::uint64_t max_frames = maxFramesOf(limit, format);
  return silenceFrames(lead_seconds, rate, max_frames, plan.lead) &&
         silenceFrames(gap_seconds, rate, max_frames, plan.gap);
}

// Checks the payload and layout, cuts the payload into frames and describes
// them in `carrier` (all but the locations, which follow from the layout).
// `rate` is that of the signal the carrier will be laid out in.
bool planCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, const AudioCarrierLayout& layout,
                 std::uint32_t rate, SignalPlan& plan, AudioCarrier& carrier, Failure& failure) {
  if (payload.empty() || payload.size() > audio::kMaxPayloadLength) {
    return failure.fail(FailureKind::InvalidData, kPayloadLengthRange);
  }
  if (!checkSignalLayout(layout.format, layout.amplitude, layout.copies, failure)) return false;
  if (!planSilences(layout.format, rate, layout.lead_seconds, layout.gap_seconds, audio::kMaxWavLength, plan)) {
    return failure.fail(FailureKind::InvalidData, kCarrierTooLong);
  }
  Sha256Digest digest{};
  if (!payloadFrames(crypto, payload, plan.frames, digest, failure)) return false;
  carrier = {.length = payload.size(), .sha256 = encodeLowerHex(digest)};
  for (const auto& frame : plan.frames) {
    Sha256Digest packet_digest{};
    const auto packet = std::span(frame).subspan(audio::kHeaderLength);
    if (!computeSha256(crypto, packet, packet_digest)) {
      return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
    }
    carrier.packets.push_back({.length = packet.size(), .sha256 = encodeLowerHex(packet_digest)});
  }
  return true;
}

// Sends every packet once per copy; returns where each copy's frames start.
template <typename Signal>
std::vector<std::vector<std::uint64_t>> layOutCarrier(const SignalPlan& plan, std::uint32_t copies, Signal& signal) {
  std::vector<std::vector<std::uint64_t>> starts(copies);
  signal.appendSilence(plan.lead);
  for (auto& copy_starts : starts) {
    for (const auto& frame : plan.frames) {
      copy_starts.push_back(signal.appendFrame(frame));
      signal.appendSilence(plan.gap);
    }
  }
  return starts;
}

void composePlannedCarrier(const SignalPlan& plan, std::uint32_t copies, ToneSignal& signal, AudioCarrier& carrier) {
  const auto starts = layOutCarrier(plan, copies, signal);
  for (std::uint32_t copy = 0; copy < kMaxCopies; ++copy) {
    const auto& copy_starts = starts[std::min(copy, copies - 1)];
    for (std::size_t packet = 0; packet < plan.frames.size(); ++packet) {
      const double symbols = static_cast<double>(audio::firstSymbolOf(plan.frames[packet].size()));
      carrier.locations.push_back({.packet = packet,
                                   .copy = copy,
                                   .start_seconds = static_cast<double>(copy_starts[packet]) / signal.rate(),
                                   .duration_seconds = symbols / audio::kSymbolsPerSecond});
    }
  }
}

// Checks the message and layout, seals the message and cuts the payload into
// frames. `rate` is that of the signal the recording will be laid out in.
bool planTransport(CryptoHost& crypto, AesKey key, std::span<const std::uint8_t> plaintext,
                   const TransportLayout& layout, std::uint32_t rate, SignalPlan& plan, Failure& failure) {
  if (plaintext.empty() || plaintext.size() > audio::kTransportPlaintextLimit) {
    return failure.fail(FailureKind::InvalidData, "message must be 1 to 4,068 bytes long");
  }
  if (!checkSignalLayout(layout.format, layout.amplitude, layout.copies, failure)) return false;
  if (!planSilences(layout.format, rate, layout.lead_seconds, layout.gap_seconds, audio::kMaxTransportRecordingLength,
                    plan)) {
    return failure.fail(FailureKind::InvalidData, kRecordingTooLong);
  }
  // Each frame is followed by at least 21 quiet windows, so that it opens a
  // segment of its own.
  plan.gap = std::max(plan.gap, (audio::kQuietWindowsToClose + 1) * scanWindowOf(rate));
  std::array<std::uint8_t, kGcmNonceLength> nonce{};
  if (layout.nonce) {
    nonce = *layout.nonce;
  } else if (!crypto.randomBytes(nonce)) {
    return failure.fail(FailureKind::Provider, "random generator failed");
  }
  std::vector<std::uint8_t> sealed;
  if (!crypto.aesGcmEncrypt(key, nonce, audio::transportLabel(), plaintext, sealed)) {
    return failure.fail(FailureKind::Provider, "AES-GCM provider failed");
  }
  std::vector<std::uint8_t> payload(nonce.begin(), nonce.end());
  payload.insert(payload.end(), sealed.begin(), sealed.end());
  Sha256Digest digest{};
  return payloadFrames(crypto, payload, plan.frames, digest, failure);
}

// Frames start on the reader's window grid, so each segment opens at its
// frame's first sample.
template <typename Signal>
void layOutTransport(const SignalPlan& plan, std::uint32_t copies, Signal& signal) {
  const std::uint64_t window = scanWindowOf(signal.rate());
  signal.appendSilence(plan.lead);
  for (std::uint32_t copy = 0; copy < copies; ++copy) {
    for (const auto& frame : plan.frames) {
      signal.alignTo(window);
      signal.appendFrame(frame);
      signal.appendSilence(plan.gap);
    }
  }
}

}  // namespace

bool packetFrame(CryptoHost& crypto, std::span<const std::uint8_t> payload, const Sha256Digest& payload_digest,
                 std::uint16_t index, std::vector<std::uint8_t>& frame, Failure& failure) {
  // Bounded like this, the payload's length and packet count fit the header.
  if (payload.empty() || payload.size() > audio::kMaxPayloadLength) {
    return failure.fail(FailureKind::InvalidData, kPayloadLengthRange);
  }
  const auto total = static_cast<std::uint32_t>(payload.size());
  const std::uint32_t count = audio::packetCountFor(total);
  if (index >= count) return failure.fail(FailureKind::InvalidData, "audio packet index out of range");
  const std::size_t first = audio::kMaxPacketLength * index;
  const auto packet = payload.subspan(first, std::min(audio::kMaxPacketLength, payload.size() - first));
  Sha256Digest digest{};
  if (!computeSha256(crypto, packet, digest)) return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
  audio::FrameHeader header{
      .total_length = total,
      .packet_count = static_cast<std::uint16_t>(count),
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
                         ToneSignal& signal, AudioCarrier& carrier, Failure& failure) {
  SignalPlan plan;
  if (!planCarrier(crypto, payload, layout, signal.rate(), plan, carrier, failure)) return false;
  composePlannedCarrier(plan, layout.copies, signal, carrier);
  return true;
}

bool writeAudioCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, const AudioCarrierLayout& layout,
                       std::vector<std::uint8_t>& wav, AudioCarrier& carrier, Failure& failure) {
  SignalPlan plan;
  if (!planCarrier(crypto, payload, layout, layout.format.rate, plan, carrier, failure)) return false;
  SignalLength measured(layout.format.rate);
  layOutCarrier(plan, layout.copies, measured);
  if (wavLengthOf(measured.length(), layout.format) > audio::kMaxWavLength) {
    return failure.fail(FailureKind::InvalidData, kCarrierTooLong);
  }
  ToneSignal signal(layout.format.rate, layout.amplitude);
  composePlannedCarrier(plan, layout.copies, signal, carrier);
  return encodeWav(signal.samples(), layout.format, wav, failure);
}

bool composeTransport(CryptoHost& crypto, AesKey key, std::span<const std::uint8_t> plaintext,
                      const TransportLayout& layout, ToneSignal& signal, Failure& failure) {
  SignalPlan plan;
  if (!planTransport(crypto, key, plaintext, layout, signal.rate(), plan, failure)) return false;
  layOutTransport(plan, layout.copies, signal);
  return true;
}

bool writeTransportRecording(CryptoHost& crypto, AesKey key, std::span<const std::uint8_t> plaintext,
                             const TransportLayout& layout, std::vector<std::uint8_t>& wav, Failure& failure) {
  SignalPlan plan;
  if (!planTransport(crypto, key, plaintext, layout, layout.format.rate, plan, failure)) return false;
  SignalLength measured(layout.format.rate);
  layOutTransport(plan, layout.copies, measured);
  if (wavLengthOf(measured.length(), layout.format) > audio::kMaxTransportRecordingLength) {
    return failure.fail(FailureKind::InvalidData, kRecordingTooLong);
  }
  ToneSignal signal(layout.format.rate, layout.amplitude);
  layOutTransport(plan, layout.copies, signal);
  return encodeWav(signal.samples(), layout.format, wav, failure);
}

}  // namespace vesmara::publish
