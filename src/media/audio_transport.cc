#include "media/audio_transport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "base/byte_reader.h"
#include "media/audio_format.h"
#include "media/fsk_demodulator.h"

namespace vesmara {
namespace {

// Shifts tried around a segment's start, in half milliseconds, in order.
constexpr int kFirstShift = -6;
constexpr int kLastShift = 6;
constexpr std::size_t kMaxScanWindow = 48;

constexpr std::string_view kProviderFailed = "Audio SHA-256 provider failed";

// The packets of one payload, keyed by length, count and payload digest;
// the first packet read for an index wins.
struct PacketGroup {
  std::uint32_t total_length = 0;
  std::array<std::uint8_t, kSha256Length> digest{};
  std::vector<std::optional<std::vector<std::uint8_t>>> packets;
};

enum class SegmentResult { Nothing, Packet, ProviderFailed };

// The header rules of a standalone frame: the packet fields must follow from
// the payload length.
bool isStandaloneHeader(const audio::FrameHeader& header) {
  const std::uint32_t total = header.total_length;
  if (total < audio::kMinTransportLength || total > audio::kMaxTransportLength) return false;
  const std::uint32_t count = audio::packetCountFor(total);
  if (header.packet_count != count || header.packet_index >= count) return false;
  const std::uint32_t expected_length =
      std::min<std::uint32_t>(total - audio::kMaxPacketLength * header.packet_index, audio::kMaxPacketLength);
  return header.packet_length == expected_length;
}

class TransportDecoder {
 public:
  TransportDecoder(const FskDemodulator& demodulator, CryptoHost& crypto)
      : demodulator_(demodulator), crypto_(crypto) {}

  // Reads one frame at the segment starting at `start`, trying the shifts in
  // order; the first shift that yields an intact packet ends the segment.
  SegmentResult decodeSegment(std::uint64_t start) {
    const std::int64_t rate = demodulator_.rate();
    for (int shift = kFirstShift; shift <= kLastShift; ++shift) {
      const std::int64_t at = static_cast<std::int64_t>(start) + std::llround(static_cast<double>(shift) * rate / 2000);
      if (at < 0) continue;
      const SegmentResult result = tryStart(at);
      if (result != SegmentResult::Nothing) return result;
    }
    return SegmentResult::Nothing;
  }

  // The joined payload of the one complete group whose digest matches, or a
  // failure when there is none, more than one, or SHA-256 fails.
  bool assemble(std::vector<std::uint8_t>& payload, Failure& failure) const {
    int valid = 0;
    for (const PacketGroup& group : groups_) {
      if (std::any_of(group.packets.begin(), group.packets.end(), [](const auto& p) { return !p.has_value(); })) {
        continue;
      }
      std::vector<std::uint8_t> joined;
      for (const auto& packet : group.packets) joined.insert(joined.end(), packet->begin(), packet->end());
      Sha256Digest digest{};
      if (!computeSha256(crypto_, joined, digest)) return failure.fail(FailureKind::Provider, kProviderFailed);
      if (joined.size() == group.total_length && digest == group.digest) {
        ++valid;
        payload = std::move(joined);
      }
    }
    if (valid != 1) {
      return failure.fail(FailureKind::Integrity, "Standalone audio packet recovery incomplete or ambiguous");
    }
    return true;
  }

 private:
  SegmentResult tryStart(std::int64_t at) {
    audio::FrameHeader header;
    if (!demodulator_.readFrameHeader(at, header) || !isStandaloneHeader(header)) return SegmentResult::Nothing;
    std::vector<std::uint8_t> packet(header.packet_length);
    if (!demodulator_.readBytes(at, audio::kHeaderLength, packet)) return SegmentResult::Nothing;
    Sha256Digest digest{};
    if (!computeSha256(crypto_, packet, digest)) return SegmentResult::ProviderFailed;
    if (!std::equal(header.packet_digest.begin(), header.packet_digest.end(), digest.begin())) {
      return SegmentResult::Nothing;
    }
    add(header, std::move(packet));
    return SegmentResult::Packet;
  }

  void add(const audio::FrameHeader& header, std::vector<std::uint8_t> packet) {
    const auto key = std::make_tuple(header.total_length, header.packet_count, header.payload_digest);
    auto [place, added] = group_of_.try_emplace(key, groups_.size());
    if (added) {
      groups_.push_back({.total_length = header.total_length, .digest = header.payload_digest});
      groups_.back().packets.resize(header.packet_count);
    }
    auto& slot = groups_[place->second].packets[header.packet_index];
    if (!slot) slot = std::move(packet);
  }

  const FskDemodulator& demodulator_;
  CryptoHost& crypto_;
  std::vector<PacketGroup> groups_;  // in the order their first packet was found
  std::map<std::tuple<std::uint32_t, std::uint16_t, std::array<std::uint8_t, kSha256Length>>, std::size_t> group_of_;
};

}  // namespace

std::vector<std::uint64_t> findSoundSegments(const WavDescription& wav) {
  const std::uint64_t window = std::max<long>(std::lround(wav.rate / 1000.0), 1);
  std::vector<std::uint64_t> segments;
  std::array<double, kMaxScanWindow> values;
  bool open = false;
  std::uint64_t segment = 0;
  std::uint32_t quiet = 0;
  for (std::uint64_t start = 0; start < wav.frames; start += window) {
    const std::size_t count = static_cast<std::size_t>(std::min(window, wav.frames - start));
    loadFrameValues(wav, start, count, values.data());
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) sum += values[i] * values[i];
    if (sum / static_cast<double>(window) > audio::kLoudMeanSquare) {
      quiet = 0;
      if (!open) {
        open = true;
        segment = start;
      }
    } else if (open && ++quiet == audio::kQuietWindowsToClose) {
      segments.push_back(segment);
      open = false;
    }
  }
  if (open) segments.push_back(segment);
  return segments;
}

bool decodeMediaTransport(std::span<const std::uint8_t> recording, AesKey key, CryptoHost& crypto,
                          SecureBytes& plaintext, Failure& failure) {
  wipeAndClear(plaintext);
  failure.clear();
  WavDescription wav;
  if (!readWav(recording, wav, failure)) return false;
  const FskDemodulator demodulator(wav);
  TransportDecoder decoder(demodulator, crypto);
  // The scan has no effect of its own, so the segments are found first and
  // decoded in time order afterwards.
  for (const std::uint64_t segment : findSoundSegments(wav)) {
    if (decoder.decodeSegment(segment) == SegmentResult::ProviderFailed) {
      return failure.fail(FailureKind::Provider, kProviderFailed);
    }
  }
  std::vector<std::uint8_t> payload;
  if (!decoder.assemble(payload, failure)) return false;
  ByteReader reader(payload);
  std::span<const std::uint8_t> nonce;
  // An assembled payload holds at least a nonce and a tag.
  if (!reader.readBytes(kGcmNonceLength, nonce)) return failure.fail(FailureKind::InvalidData, "Invalid media payload");
  switch (crypto.aesGcmDecryptDetailed(key, GcmNonce(nonce.data(), kGcmNonceLength), audio::transportLabel(),
                                       reader.rest(), plaintext)) {
    case GcmResult::Ok:
      return true;
    case GcmResult::Rejected:
      return failure.fail(FailureKind::Authentication, "Media key or authentication failed");
    case GcmResult::ProviderFailed:
      break;
  }
  return failure.fail(FailureKind::Provider, "Audio AES-GCM provider failed");
}

}  // namespace vesmara
