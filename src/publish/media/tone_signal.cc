#include "publish/media/tone_signal.h"

#include <cmath>

#include "media/audio_format.h"

namespace vesmara::publish {

void ToneSignal::alignTo(std::uint64_t frames) {
  if (frames > 1 && samples_.size() % frames != 0) appendSilence(frames - samples_.size() % frames);
}

void ToneSignal::appendTone(int tone, std::uint64_t frames) {
  const double step = audio::kTwoPi * audio::toneFrequency(tone) / rate_;
  for (std::uint64_t i = 0; i < frames; ++i) {
    samples_.push_back(amplitude_ * std::sin(phase_));
    phase_ += step;
    if (phase_ >= audio::kTwoPi) phase_ -= audio::kTwoPi;
  }
}

std::uint64_t ToneSignal::appendFrame(std::span<const std::uint8_t> bytes) {
  const std::int64_t start = static_cast<std::int64_t>(samples_.size());
  std::vector<int> tones;
  for (std::size_t j = 0; j < audio::kPreambleSymbols; ++j) tones.push_back(audio::preambleTone(j));
  for (const std::uint8_t byte : bytes) {
    for (int shift = 6; shift >= 0; shift -= 2) tones.push_back(byte >> shift & 3);
  }
  for (std::size_t j = 0; j < tones.size(); ++j) {
    const std::int64_t end = audio::symbolStart(rate_, start, j + 1);
    appendTone(tones[j], static_cast<std::uint64_t>(end) - samples_.size());
  }
  return static_cast<std::uint64_t>(start);
}

}  // namespace vesmara::publish
