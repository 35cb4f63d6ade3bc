// Writes 4-FSK audio: wav-4fsk1 carriers with the index metadata that
// describes them, and standalone media transport recordings.
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

namespace vesmara::publish {

struct AudioFormat {
  std::uint32_t rate = 16000;  // 16,000, 44,100 or 48,000
  std::uint16_t bits = 16;     // 8 or 16
  std::uint16_t channels = 1;  // 1 or 2
};

// A recording being composed: mono samples in [-1, 1] at one rate. Frames
// are written as phase-continuous tones of `amplitude`.
class ToneSignal {
 public:
  ToneSignal(std::uint32_t rate, double amplitude) : rate_(rate), amplitude_(amplitude) {}

  std::uint32_t rate() const { return rate_; }
  std::uint64_t length() const { return samples_.size(); }
  std::vector<double>& samples() { return samples_; }
  const std::vector<double>& samples() const { return samples_; }

  // Appends `frames` frames of silence.
  void appendSilence(std::uint64_t frames) { samples_.resize(samples_.size() + frames, 0.0); }

  // Appends silence until the length is a multiple of `frames`.
  void alignTo(std::uint64_t frames);

  // Appends an audio frame (preamble, then `bytes`) and returns the frame
  // position it starts at.
  std::uint64_t appendFrame(std::span<const std::uint8_t> bytes);

 private:
  void appendTone(int tone, std::uint64_t frames);

  std::uint32_t rate_;
  double amplitude_;
  double phase_ = 0.0;
  std::vector<double> samples_;
};

// The samples as a PCM WAV file of `format` (every channel the same). Fails
// (InvalidData) when they are more than a WAV file's 32-bit sizes describe.
bool encodeWav(std::span<const double> samples, const AudioFormat& format, std::vector<std::uint8_t>& wav,
               Failure& failure);

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
