// The WAV reader on arbitrary files, then what the audio readers first do
// with an accepted recording: every frame's value and the sound scan of the
// standalone transport. Cheap enough for millions of files a minute, while
// the audio targets spend nearly all of their time demodulating. Never a
// crash; values stay in [-1, 1) and segments start in order inside the
// recording.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "fuzz_support.h"
#include "media/audio_transport.h"
#include "media/wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  vesmara::WavDescription wav;
  vesmara::Failure failure;
  if (!vesmara::readWav(std::span(data, size), wav, failure)) {
    if (failure.message.empty()) __builtin_trap();
    return 0;
  }
  const std::size_t frame_bytes = static_cast<std::size_t>(wav.channels) * (wav.bits / 8);
  if (wav.frames * frame_bytes != wav.samples.size()) __builtin_trap();
  std::array<double, 64> values;
  for (std::uint64_t first = 0; first < wav.frames; first += values.size()) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(values.size(), wav.frames - first));
    vesmara::loadFrameValues(wav, first, count, values.data());
    for (std::size_t i = 0; i < count; ++i) {
      if (!(values[i] >= -1.0 && values[i] < 1.0)) __builtin_trap();
    }
  }
  const std::vector<std::uint64_t> segments = vesmara::findSoundSegments(wav);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (segments[i] >= wav.frames || (i > 0 && segments[i] <= segments[i - 1])) __builtin_trap();
  }
  return 0;
}
