// Lays out 4-FSK audio: wav-4fsk1 carriers with the index metadata that
// describes them, and standalone media transport recordings — the frames
// that carry a payload and the silences around them. The tones are
// synthesised by ToneSignal and the recording written by encodeWav.
#ifndef VESMARA_PUBLISH_MEDIA_AUDIO_WRITER_H_
#define VESMARA_PUBLISH_MEDIA_AUDIO_WRITER_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"
#include "publish/media/tone_signal.h"
#include "publish/media/wav_writer.h"

namespace vesmara::publish {

// The bytes of the audio frame that sends packet `index` of `payload` (1 to
// 4,096 bytes) after its preamble: the 54-byte header, then the packet.
bool packetFrame(CryptoHost& crypto, std::span<const std::uint8_t> payload, const Sha256Digest& payload_digest,
                 std::uint16_t index, std::vector<std::uint8_t>& frame, Failure& failure);

struct AudioCarrierLayout {
  AudioFormat format;
  double amplitude = 0.5;
  // Copies of each packet sent, 1 to 3: all packets once, then all again.
  // The index always lists three locations per packet; those of copies not
  // sent repeat the last copy that was.
  std::uint32_t copies = 1;
  double lead_seconds = 0.05;  // silence before the first frame
  double gap_seconds = 0.05;   // silence after each frame
};

// Composes a wav-4fsk1 carrier of `payload` (1 to 4,096 bytes) into `signal`
// and describes it in `carrier`, the index metadata for its path.
bool composeAudioCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, const AudioCarrierLayout& layout,
                         ToneSignal& signal, AudioCarrier& carrier, Failure& failure);

// The carrier as a WAV file (at most 128 MiB), with its metadata.
bool writeAudioCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, const AudioCarrierLayout& layout,
                       std::vector<std::uint8_t>& wav, AudioCarrier& carrier, Failure& failure);

struct TransportLayout {
  AudioFormat format;
  double amplitude = 0.5;
  std::uint32_t copies = 1;    // times the whole message is sent
  double lead_seconds = 0.05;  // silence before the first frame
  // Silence after each frame; never less than the 21 quiet milliseconds the
  // reader needs to tell frames apart.
  double gap_seconds = 0.04;
  std::optional<std::array<std::uint8_t, kGcmNonceLength>> nonce;  // random when absent
};

// Composes a standalone recording of `plaintext` (1 to 4,068 bytes) sealed
// with `key` into `signal`.
bool composeTransport(CryptoHost& crypto, AesKey key, std::span<const std::uint8_t> plaintext,
                      const TransportLayout& layout, ToneSignal& signal, Failure& failure);

// The recording as a WAV file of at most 64 MiB.
bool writeTransportRecording(CryptoHost& crypto, AesKey key, std::span<const std::uint8_t> plaintext,
                             const TransportLayout& layout, std::vector<std::uint8_t>& wav, Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_MEDIA_AUDIO_WRITER_H_
