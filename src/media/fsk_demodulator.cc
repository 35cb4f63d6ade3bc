#include "media/fsk_demodulator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "media/audio_format.h"

namespace vesmara {
namespace {

// The longest window: 384 frames at 48 kHz.
constexpr std::size_t kMaxWindow = 384;
// Two preamble symbols may be wrong; a third rejects the start.
constexpr int kPreambleMisses = 3;

// Two doubles side by side. Each lane of an operation on pairs is rounded
// exactly as the same operation on one double (with -ffp-contract=off no
// multiply and add are fused), so the sums below equal the plain sums term
// for term; the pairs only let one instruction add two of them.
using DoublePair = double __attribute__((vector_size(16)));

DoublePair loadPair(const double* at) {
  DoublePair pair;
  std::memcpy(&pair, at, sizeof pair);
  return pair;
}

// The running (sine, cosine) sums of one window, one pair per tone.
using ToneSums = std::array<DoublePair, audio::kToneCount>;

// The tone of greatest energy; the running best starts at -1.0 and is
// replaced only by a strictly greater energy, so ties keep the lowest tone.
int strongestTone(const ToneSums& sums) {
  int best = 0;
  double best_energy = -1.0;
  for (int tone = 0; tone < audio::kToneCount; ++tone) {
    const double sine = sums[tone][0];
    const double cosine = sums[tone][1];
    const double energy = sine * sine + cosine * cosine;
    if (energy > best_energy) {
      best_energy = energy;
      best = tone;
    }
  }
  return best;
}

}  // namespace

FskDemodulator::FskDemodulator(const WavDescription& wav)
    : wav_(wav),
      window_start_(std::lround(wav.rate * audio::kWindowStart)),
      window_end_(std::lround(wav.rate * audio::kWindowEnd)) {
  const std::size_t length = static_cast<std::size_t>(window_end_ - window_start_);
  table_.resize(length * kTableStride);
  for (std::size_t i = 0; i < length; ++i) {
    for (int tone = 0; tone < audio::kToneCount; ++tone) {
      const double angle = static_cast<double>(i) * audio::kTwoPi * audio::toneFrequency(tone) / wav.rate;
      table_[i * kTableStride + 2 * tone] = std::sin(angle);
      table_[i * kTableStride + 2 * tone + 1] = std::cos(angle);
    }
  }
}

bool FskDemodulator::isInside(std::int64_t start) const {
  return start >= 0 && static_cast<std::uint64_t>(start) < wav_.frames &&
         wav_.frames - static_cast<std::uint64_t>(start) > static_cast<std::uint64_t>(window_end_);
}

int FskDemodulator::detectSymbol(std::int64_t start) const { return isInside(start) ? detectOne(start) : -1; }

int FskDemodulator::detectOne(std::int64_t start) const {
  const std::size_t length = table_.size() / kTableStride;
  std::array<double, kMaxWindow> values;
  loadFrameValues(wav_, static_cast<std::uint64_t>(start + window_start_), length, values.data());
  // Each tone's sums in a register of their own (an array indexed in a loop
  // may be kept in memory, one store and reload per sample).
  DoublePair tone0{}, tone1{}, tone2{}, tone3{};
  const double* row = table_.data();
  for (std::size_t i = 0; i < length; ++i, row += kTableStride) {
    const DoublePair value = {values[i], values[i]};
    tone0 += value * loadPair(row);
    tone1 += value * loadPair(row + 2);
    tone2 += value * loadPair(row + 4);
    tone3 += value * loadPair(row + 6);
  }
  const ToneSums sums = {tone0, tone1, tone2, tone3};
  return strongestTone(sums);
}

void FskDemodulator::detectTwo(std::int64_t first, std::int64_t second, int& first_tone, int& second_tone) const {
  // Two windows in one pass: eight independent chains of additions instead of
  // four, so the additions overlap instead of waiting for one another.
  const std::size_t length = table_.size() / kTableStride;
  std::array<double, kMaxWindow> first_values;
  std::array<double, kMaxWindow> second_values;
  loadFrameValues(wav_, static_cast<std::uint64_t>(first + window_start_), length, first_values.data());
  loadFrameValues(wav_, static_cast<std::uint64_t>(second + window_start_), length, second_values.data());
  DoublePair a0{}, a1{}, a2{}, a3{}, b0{}, b1{}, b2{}, b3{};
  const double* row = table_.data();
  for (std::size_t i = 0; i < length; ++i, row += kTableStride) {
    const DoublePair a = {first_values[i], first_values[i]};
    const DoublePair b = {second_values[i], second_values[i]};
    const DoublePair t0 = loadPair(row);
    const DoublePair t1 = loadPair(row + 2);
    const DoublePair t2 = loadPair(row + 4);
    const DoublePair t3 = loadPair(row + 6);
    a0 += a * t0;
    b0 += b * t0;
    a1 += a * t1;
    b1 += b * t1;
    a2 += a * t2;
    b2 += b * t2;
    a3 += a * t3;
    b3 += b * t3;
  }
  const ToneSums first_sums = {a0, a1, a2, a3};
  const ToneSums second_sums = {b0, b1, b2, b3};
  first_tone = strongestTone(first_sums);
  second_tone = strongestTone(second_sums);
}

void FskDemodulator::detectSymbols(std::span<const std::int64_t> starts, std::span<int> tones) const {
  std::size_t pending = starts.size();
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (!isInside(starts[i])) {
      tones[i] = -1;
    } else if (pending == starts.size()) {
      pending = i;
    } else {
      detectTwo(starts[pending], starts[i], tones[pending], tones[i]);
      pending = starts.size();
    }
  }
  if (pending != starts.size()) tones[pending] = detectOne(starts[pending]);
}

bool FskDemodulator::passesPreamble(std::int64_t start) const {
  // The count of matches does not depend on the order the symbols are tested
  // in. Odd symbols first, two at a time: silence and noise rarely carry
  // tone 3, so most false starts are rejected after four symbols.
  static constexpr std::size_t kOrder[audio::kPreambleSymbols] = {1, 3, 5, 7, 9, 11, 13, 15, 0, 2, 4, 6, 8, 10, 12, 14};
  int misses = 0;
  for (std::size_t at = 0; at < audio::kPreambleSymbols; at += 2) {
    const std::array<std::int64_t, 2> starts = {audio::symbolStart(wav_.rate, start, kOrder[at]),
                                                audio::symbolStart(wav_.rate, start, kOrder[at + 1])};
    std::array<int, 2> tones{};
    detectSymbols(starts, tones);
    for (std::size_t j = 0; j < 2; ++j) misses += tones[j] == audio::preambleTone(kOrder[at + j]) ? 0 : 1;
    if (misses >= kPreambleMisses) return false;
  }
  return true;
}

bool FskDemodulator::readBytes(std::int64_t start, std::uint64_t first, std::span<std::uint8_t> out) const {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::uint64_t symbol = audio::firstSymbolOf(first + i);
    std::array<std::int64_t, audio::kSymbolsPerByte> starts{};
    for (std::size_t q = 0; q < starts.size(); ++q) starts[q] = audio::symbolStart(wav_.rate, start, symbol + q);
    std::array<int, audio::kSymbolsPerByte> tones{};
    detectSymbols(starts, tones);
    int byte = 0;
    for (const int tone : tones) {
      if (tone < 0) return false;
      byte = byte * 4 + tone;
    }
    out[i] = static_cast<std::uint8_t>(byte);
  }
  return true;
}

bool FskDemodulator::readFrameHeader(std::int64_t start, audio::FrameHeader& header) const {
  if (!passesPreamble(start)) return false;
  // The magic alone rules out most false starts before the rest is read.
  std::array<std::uint8_t, audio::kHeaderLength> bytes{};
  const std::span<std::uint8_t> all(bytes);
  return readBytes(start, 0, all.first(audio::kMagicLength)) &&
         std::equal(audio::kFrameMagic.begin(), audio::kFrameMagic.end(), bytes.begin()) &&
         readBytes(start, audio::kMagicLength, all.subspan(audio::kMagicLength)) &&
         audio::parseFrameHeader(bytes, header);
}

}  // namespace vesmara
