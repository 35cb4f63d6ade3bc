#include "media/media_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace vesmara::test {

Bytes wavOf(std::span<const double> samples, const publish::AudioFormat& format) {
  Bytes wav;
  Failure failure;
  EXPECT_TRUE(publish::encodeWav(samples, format, wav, failure)) << failure.message;
  return wav;
}

void addNoise(std::vector<double>& samples, double amplitude, double snr_db, std::uint32_t seed) {
  const double signal_power = amplitude * amplitude / 2;
  const double sigma = std::sqrt(signal_power / std::pow(10.0, snr_db / 10));
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  for (double& sample : samples) sample += noise(generator);
}

std::vector<double> stretch(const std::vector<double>& samples, std::int64_t extra) {
  const std::size_t length = static_cast<std::size_t>(static_cast<std::int64_t>(samples.size()) + extra);
  std::vector<double> out(length);
  const double ratio = static_cast<double>(samples.size() - 1) / static_cast<double>(length - 1);
  for (std::size_t i = 0; i < length; ++i) {
    const double at = static_cast<double>(i) * ratio;
    const std::size_t left = static_cast<std::size_t>(at);
    const std::size_t right = std::min(left + 1, samples.size() - 1);
    const double weight = at - static_cast<double>(left);
    out[i] = samples[left] * (1 - weight) + samples[right] * weight;
  }
  return out;
}

}  // namespace vesmara::test
