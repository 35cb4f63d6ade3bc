// The recordings the media fuzz targets start from, shared by the targets
// (which need the metadata and key that go with them) and by the seed maker.
#ifndef VESMARA_FUZZ_MEDIA_SEEDS_H_
#define VESMARA_FUZZ_MEDIA_SEEDS_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_writer.h"
#include "base/hex.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"
#include "media/audio_format.h"
#include "publish/media/audio_writer.h"

namespace vesmara::fuzz {

// The bytes of an audio frame (after its preamble) that sends `packet` as
// packet `index` of `count` of a payload of `total` bytes whose SHA-256 is
// `payload_digest`, and the packet's own SHA-256. The publisher cuts packets
// of 128 bytes only; the seeds need shorter ones.
inline bool makeSeedFrame(CryptoHost& crypto, std::span<const std::uint8_t> packet, std::uint32_t total,
                          std::uint16_t count, std::uint16_t index, const Sha256Digest& payload_digest,
                          std::vector<std::uint8_t>& frame, Sha256Digest& packet_digest) {
  if (!computeSha256(crypto, packet, packet_digest)) return false;
  audio::FrameHeader header{.total_length = total,
                            .packet_count = count,
                            .packet_index = index,
                            .packet_length = static_cast<std::uint16_t>(packet.size()),
                            .payload_digest = payload_digest};
  std::copy_n(packet_digest.begin(), header.packet_digest.size(), header.packet_digest.begin());
  frame.clear();
  ByteWriter writer(frame);
  audio::writeFrameHeader(header, writer);
  writer.writeBytes(packet);
  return true;
}

// A wav-4fsk1 carrier and its index metadata: a 2-byte payload sent as two
// 1-byte packets, 16 kHz 8-bit mono. The index takes any packet
// length up to 128 (the publisher always cuts 128), and two frames of 55
// bytes are the shortest recording with more than one packet, which keeps
// each execution of the carrier target short. Deterministic.
inline bool makeSeedAudioCarrier(CryptoHost& crypto, std::vector<std::uint8_t>& wav, AudioCarrier& carrier) {
  constexpr std::uint32_t kRate = 16000;
  constexpr std::array<std::uint8_t, 2> kPayload = {0x5A, 0xC3};
  Sha256Digest payload_digest{};
  if (!computeSha256(crypto, kPayload, payload_digest)) return false;
  carrier = {.length = kPayload.size(), .sha256 = encodeLowerHex(payload_digest)};
  publish::ToneSignal signal(kRate, 0.5);
  signal.appendSilence(kRate / 100);
  std::vector<std::uint64_t> starts;
  for (std::uint16_t index = 0; index < kPayload.size(); ++index) {
    const auto packet = std::span(kPayload).subspan(index, 1);
    std::vector<std::uint8_t> frame;
    Sha256Digest packet_digest{};
    if (!makeSeedFrame(crypto, packet, kPayload.size(), kPayload.size(), index, payload_digest, frame, packet_digest)) {
      return false;
    }
    starts.push_back(signal.appendFrame(frame));
    signal.appendSilence(kRate / 100);
    carrier.packets.push_back({.length = packet.size(), .sha256 = encodeLowerHex(packet_digest)});
  }
  // The index lists three copies of each packet. Only the first is sent; the
  // other two lie past the end of the recording, where a reader gives up at
  // once, instead of repeating the first: when the first copy fails, its
  // repeats would fail the same way, at the same cost, three times over.
  const double duration =
      static_cast<double>(audio::firstSymbolOf(audio::kHeaderLength + 1)) / audio::kSymbolsPerSecond;
  const double end = static_cast<double>(signal.length()) / kRate;
  for (std::uint64_t copy = 0; copy < 3; ++copy) {
    for (std::uint64_t packet = 0; packet < starts.size(); ++packet) {
      const double start = copy == 0 ? static_cast<double>(starts[packet]) / kRate : end + duration * copy;
      carrier.locations.push_back(
          {.packet = packet, .copy = copy, .start_seconds = start, .duration_seconds = duration});
    }
  }
  Failure failure;
  return publish::encodeWav(signal.samples(), {.rate = kRate, .bits = 8, .channels = 1}, wav, failure);
}

// The key the standalone seed recordings are sealed with.
inline std::array<std::uint8_t, 32> seedTransportKey() {
  std::array<std::uint8_t, 32> key{};
  key.fill(0x5C);
  return key;
}

}  // namespace vesmara::fuzz

#endif  // VESMARA_FUZZ_MEDIA_SEEDS_H_
