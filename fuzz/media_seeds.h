// The recordings the media fuzz targets start from, shared by the targets
// (which need the metadata and key that go with them) and by the seed maker.
#ifndef VESMARA_FUZZ_MEDIA_SEEDS_H_
#define VESMARA_FUZZ_MEDIA_SEEDS_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hosts/crypto_host.h"
#include "index/site_index.h"
#include "publish/media/audio_writer.h"

namespace vesmara::fuzz {

// A small wav-4fsk1 carrier (16 kHz, 8-bit mono, two packets of a 130-byte
// payload, sent once) and its index metadata. Deterministic.
inline bool makeSeedAudioCarrier(CryptoHost& crypto, std::vector<std::uint8_t>& wav, AudioCarrier& carrier) {
  std::vector<std::uint8_t> payload(130);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const publish::AudioCarrierLayout layout{.format = {16000, 8, 1}, .lead_seconds = 0.01, .gap_seconds = 0.01};
  Failure failure;
  return publish::writeAudioCarrier(crypto, payload, layout, wav, carrier, failure);
}

// The key the standalone seed recordings are sealed with.
inline std::array<std::uint8_t, 32> seedTransportKey() {
  std::array<std::uint8_t, 32> key{};
  key.fill(0x5C);
  return key;
}

}  // namespace vesmara::fuzz

#endif  // VESMARA_FUZZ_MEDIA_SEEDS_H_
