// Tone synthesis for the 4-FSK audio frames: a recording composed in memory,
// one phase-continuous tone per symbol.
#ifndef VESMARA_PUBLISH_MEDIA_TONE_SIGNAL_H_
#define VESMARA_PUBLISH_MEDIA_TONE_SIGNAL_H_

#include <cstdint>
#include <span>
#include <vector>

namespace vesmara::publish {

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

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_MEDIA_TONE_SIGNAL_H_
