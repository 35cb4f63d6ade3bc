// The wav-4fsk1 reader: a payload sent as packets at the moments the index
// lists, recovered from the first copy of each packet that reads intact.
#ifndef VESMARA_MEDIA_AUDIO_CARRIER_H_
#define VESMARA_MEDIA_AUDIO_CARRIER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"

namespace vesmara {

// On success `output` holds exactly the payload `audio` describes; on
// failure `failure` holds the reason and `output` means nothing. A location
// that cannot be read is no failure by itself: only the joined payload
// counts. Throws only std::bad_alloc.
bool recoverAudioCarrier(std::span<const std::uint8_t> carrier, const AudioCarrier& audio, CryptoHost& crypto,
                         std::vector<std::uint8_t>& output, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_MEDIA_AUDIO_CARRIER_H_
