// The 4-FSK demodulator: tone detection per symbol, the preamble test and
// frame bytes, over one recording.
#ifndef VESMARA_MEDIA_FSK_DEMODULATOR_H_
#define VESMARA_MEDIA_FSK_DEMODULATOR_H_

#include <cstdint>
#include <span>
#include <vector>

#include "media/audio_format.h"
#include "media/wav_reader.h"

namespace vesmara {

class FskDemodulator {
 public:
  // Builds the tone tables for the recording's rate. `wav` comes from
  // readWav (so its rate is one of the three accepted) and must outlive the
  // demodulator.
  explicit FskDemodulator(const WavDescription& wav);

  // The tone (0 to 3) of the symbol starting at frame `start`, or -1 when its
  // window would leave the recording (`start` negative, or `start` + the
  // window end at or past the frame count).
  int detectSymbol(std::int64_t start) const;

  // True when at least 14 of the 16 preamble symbols of a frame starting at
  // `start` carry their expected tone.
  bool passesPreamble(std::int64_t start) const;

  // Reads frame bytes `first` to `first` + out.size() - 1 of the frame
  // starting at `start`; false as soon as one symbol is invalid.
  bool readBytes(std::int64_t start, std::uint64_t first, std::span<std::uint8_t> out) const;

  // The header of a frame starting at `start`: false when the preamble test
  // fails, a symbol is invalid or the magic is wrong.
  bool readFrameHeader(std::int64_t start, audio::FrameHeader& header) const;

  std::uint32_t rate() const { return wav_.rate; }

 private:
  // Per window sample i, the sine and cosine of each tone: sin0, cos0, sin1,
  // cos1, ... so that one pass over the samples feeds all eight sums.
  static constexpr std::size_t kTableStride = 8;

  bool isInside(std::int64_t start) const;
  // The tones of the symbols starting at `starts` (each -1 when outside the
  // recording), computed two at a time.
  void detectSymbols(std::span<const std::int64_t> starts, std::span<int> tones) const;
  int detectOne(std::int64_t start) const;
  void detectTwo(std::int64_t first, std::int64_t second, int& first_tone, int& second_tone) const;

  const WavDescription& wav_;
  std::int64_t window_start_;  // a: from the symbol's start to its window
  std::int64_t window_end_;    // b: from the symbol's start to the window's end
  std::vector<double> table_;
};

}  // namespace vesmara

#endif  // VESMARA_MEDIA_FSK_DEMODULATOR_H_
