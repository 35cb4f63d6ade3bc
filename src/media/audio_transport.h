// The audio media transport: a sealed message sent as audio frames in a
// standalone recording with no index to describe it. The decoder listens for
// bursts of sound, reads a frame at the start of each, gathers the packets
// by the payload they belong to, and opens the one complete payload with the
// caller's key.
#ifndef VESMARA_MEDIA_AUDIO_TRANSPORT_H_
#define VESMARA_MEDIA_AUDIO_TRANSPORT_H_

#include <cstdint>
#include <span>
#include <vector>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "media/wav_reader.h"

namespace vesmara {

// The first frames of the recording's stretches of sound, in time order: a
// stretch opens at a loud 1-millisecond window and closes after 20 quiet ones.
std::vector<std::uint64_t> findSoundSegments(const WavDescription& wav);

// Decodes the message `recording` carries and opens it with `key`. On
// success `plaintext` holds the message; on failure it is empty and
// `failure` holds the message and kind. Throws only std::bad_alloc.
bool decodeMediaTransport(std::span<const std::uint8_t> recording, AesKey key, CryptoHost& crypto,
                          SecureBytes& plaintext, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_MEDIA_AUDIO_TRANSPORT_H_
