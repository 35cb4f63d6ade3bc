#include "media/audio_carrier.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/hex.h"
#include "media/audio_format.h"
#include "media/fsk_demodulator.h"

namespace vesmara {
namespace {

// Shifts tried around a location's nominal start, in milliseconds, in order.
constexpr int kShifts[] = {0, -1, 1, -2, 2, -3, 3};

// Starts this many frames away from the recording's beginning lie far outside
// any recording (at most 2^27 frames), where every symbol is invalid anyway;
// refusing them at once keeps every later sum exact and free of overflow.
constexpr double kFarthestStart = 1099511627776.0;  // 2^40

bool isSha256Of(std::span<const std::uint8_t> digest, std::string_view hex) { return encodeLowerHex(digest) == hex; }

class CarrierRecovery {
 public:
  CarrierRecovery(const FskDemodulator& demodulator, const AudioCarrier& audio, CryptoHost& crypto)
      : demodulator_(demodulator), audio_(audio), crypto_(crypto) {}

  // The packet at `location`, when one of the shifts around its start reads
  // it intact.
  std::optional<std::vector<std::uint8_t>> tryLocation(const AudioPacketLocation& location) const {
    const double nominal = demodulator_.rate() * location.start_seconds;
    if (!(std::fabs(nominal) <= kFarthestStart)) return std::nullopt;
    const std::int64_t start = std::llround(nominal);
    for (const int shift : kShifts) {
      const std::int64_t at = start + std::llround(static_cast<double>(shift) * demodulator_.rate() / 1000);
      if (auto packet = tryStart(location.packet, at)) return packet;
    }
    return std::nullopt;
  }

 private:
  std::optional<std::vector<std::uint8_t>> tryStart(std::uint64_t index, std::int64_t at) const {
    audio::FrameHeader header;
    if (!demodulator_.readFrameHeader(at, header)) return std::nullopt;
    const AudioPacket& packet = audio_.packets[index];
    if (header.total_length != audio_.length || header.packet_count != audio_.packets.size() ||
        header.packet_index != index || !isSha256Of(header.payload_digest, audio_.sha256) ||
        header.packet_length != packet.length) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> packet_bytes(header.packet_length);
    Sha256Digest digest{};
    if (!demodulator_.readBytes(at, audio::kHeaderLength, packet_bytes) ||
        !computeSha256(crypto_, packet_bytes, digest) || !isSha256Of(digest, packet.sha256) ||
        !std::equal(header.packet_digest.begin(), header.packet_digest.end(), digest.begin())) {
      return std::nullopt;
    }
    return packet_bytes;
  }

  const FskDemodulator& demodulator_;
  const AudioCarrier& audio_;
  CryptoHost& crypto_;
};

}  // namespace

bool recoverAudioCarrier(std::span<const std::uint8_t> carrier, const AudioCarrier& audio, CryptoHost& crypto,
                         std::vector<std::uint8_t>& output, Failure& failure) {
  output.clear();
  WavDescription wav;
  if (!readWav(carrier, wav, failure)) return false;
  const FskDemodulator demodulator(wav);
  const CarrierRecovery recovery(demodulator, audio, crypto);
  std::vector<std::optional<std::vector<std::uint8_t>>> packets(audio.packets.size());
  for (const AudioPacketLocation& location : audio.locations) {
    // The index guarantees packet < packets.size(); a later copy serves only
    // when the earlier ones failed.
    if (location.packet >= packets.size() || packets[location.packet]) continue;
    packets[location.packet] = recovery.tryLocation(location);
  }
  output.reserve(std::min<std::uint64_t>(audio.length, audio::kMaxPayloadLength));
  for (const auto& packet : packets) {
    if (!packet) {
      return failure.fail(FailureKind::InvalidData, "Audio carrier recovery incomplete");
    }
    output.insert(output.end(), packet->begin(), packet->end());
  }
  Sha256Digest digest{};
  if (output.size() != audio.length || !computeSha256(crypto, output, digest) || !isSha256Of(digest, audio.sha256)) {
    return failure.fail(FailureKind::InvalidData, "Audio carrier integrity failure");
  }
  return true;
}

}  // namespace vesmara
