#include "media/audio_carrier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/hex.h"
#include "hosts/platform.h"
#include "media/audio_format.h"
#include "media/fsk_demodulator.h"
#include "media/media_test_support.h"
#include "publish/media/audio_writer.h"

namespace vesmara {
namespace {

using publish::AudioCarrierLayout;
using publish::AudioFormat;
using publish::ToneSignal;
using test::Bytes;

class AudioCarrierTest : public testing::Test {
 protected:
  // Composes a carrier of `payload` into signal_ and carrier_.
  void compose(const Bytes& payload, AudioCarrierLayout layout = {}) {
    layout_ = layout;
    payload_ = payload;
    signal_ = ToneSignal(layout.format.rate, layout.amplitude);
    Failure failure;
    ASSERT_TRUE(publish::composeAudioCarrier(*crypto_, payload, layout, signal_, carrier_, failure)) << failure.message;
  }

  // Recovers the payload from the signal as it now is; returns the decode_failure.message.
  std::string recover(const std::vector<double>& samples) {
    const Bytes wav = test::wavOf(samples, layout_.format);
    Bytes out;
    Failure decode_failure;
    if (recoverAudioCarrier(wav, carrier_, *crypto_, out, decode_failure)) {
      EXPECT_EQ(out, payload_);
    } else {
      EXPECT_FALSE(decode_failure.message.empty());
    }
    return decode_failure.message;
  }
  std::string recover() { return recover(signal_.samples()); }

  // The frame position of packet `packet`'s copy `copy`.
  std::uint64_t startOf(std::size_t packet, std::size_t copy) const {
    const AudioPacketLocation& location = carrier_.locations[copy * carrier_.packets.size() + packet];
    return static_cast<std::uint64_t>(std::llround(location.start_seconds * layout_.format.rate));
  }

  // Replaces the tone of symbol `symbol` of the frame starting at `start`.
  void overwriteSymbol(std::uint64_t start, std::uint64_t symbol, int tone) {
    const std::uint32_t rate = layout_.format.rate;
    const std::int64_t begin = audio::symbolStart(rate, static_cast<std::int64_t>(start), symbol);
    const std::int64_t end = audio::symbolStart(rate, static_cast<std::int64_t>(start), symbol + 1);
    for (std::int64_t i = begin; i < end; ++i) {
      signal_.samples()[static_cast<std::size_t>(i)] =
          layout_.amplitude * std::sin(audio::kTwoPi * audio::toneFrequency(tone) * static_cast<double>(i) / rate);
    }
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  AudioCarrierLayout layout_;
  Bytes payload_;
  ToneSignal signal_{16000, 0.5};
  AudioCarrier carrier_;
};

TEST_F(AudioCarrierTest, EveryFormatRoundTrips) {
  const AudioFormat formats[] = {{16000, 8, 1}, {16000, 16, 2}, {44100, 16, 1}, {44100, 8, 2}, {48000, 16, 2}};
  for (const AudioFormat& format : formats) {
    compose(test::payloadBytes(200, format.rate), {.format = format});
    ASSERT_EQ(carrier_.packets.size(), 2u);
    ASSERT_EQ(carrier_.locations.size(), 6u);
    EXPECT_EQ(recover(), "") << format.rate << " Hz " << format.bits << "-bit " << format.channels << " channels";
  }
}

TEST_F(AudioCarrierTest, SurvivesNoiseOffsetAndDrift) {
  compose(test::payloadBytes(300, 3), {.format = {44100, 16, 1}});
  const struct {
    const char* name;
    double snr_db;  // NaN: no noise
    double dc;
    std::int64_t drift;
    bool recovered;
  } cases[] = {
      {"20 dB", 20, 0, 0, true},
      {"0 dB", 0, 0, 0, true},
      {"-6 dB", -6, 0, 0, true},
      {"-25 dB", -25, 0, 0, false},
      {"DC offset 0.3", NAN, 0.3, 0, true},
      {"8 frames longer", NAN, 0, 8, true},
      {"8 frames shorter", NAN, 0, -8, true},
      {"drift and 6 dB of noise", 6, 0.1, 5, true},
  };
  for (const auto& c : cases) {
    std::vector<double> samples = test::stretch(signal_.samples(), c.drift);
    if (!std::isnan(c.snr_db)) test::addNoise(samples, layout_.amplitude, c.snr_db, 17);
    for (double& sample : samples) sample += c.dc;
    EXPECT_EQ(recover(samples), c.recovered ? "" : "Audio carrier recovery incomplete") << c.name;
  }
}

TEST_F(AudioCarrierTest, StartTimesOffByUpToThreeMilliseconds) {
  compose(test::payloadBytes(150, 4), {.format = {48000, 16, 1}});
  const AudioCarrier exact = carrier_;
  for (const double offset : {-0.003, -0.0024, -0.0011, 0.0007, 0.0019, 0.003}) {
    carrier_ = exact;
    for (AudioPacketLocation& location : carrier_.locations) location.start_seconds += offset;
    EXPECT_EQ(recover(), "") << offset;
  }
  // Far beyond the shifts nothing is found.
  carrier_ = exact;
  for (AudioPacketLocation& location : carrier_.locations) location.start_seconds += 0.02;
  EXPECT_EQ(recover(), "Audio carrier recovery incomplete");
}

TEST_F(AudioCarrierTest, DestroyedCopyFallsBackToTheNext) {
  compose(test::payloadBytes(300, 5), {.format = {16000, 16, 1}, .copies = 2});
  // Packet 1's first copy is wiped out; its second copy serves.
  const std::uint64_t first = startOf(1, 0);
  std::fill_n(signal_.samples().begin() + static_cast<std::ptrdiff_t>(first + 16000), 8000, 0.0);
  EXPECT_EQ(recover(), "");
  // Both copies wiped out.
  const std::uint64_t second = startOf(1, 1);
  std::fill_n(signal_.samples().begin() + static_cast<std::ptrdiff_t>(second + 16000), 8000, 0.0);
  EXPECT_EQ(recover(), "Audio carrier recovery incomplete");
}

TEST_F(AudioCarrierTest, UnrepresentableStartTimesFailOnlyTheirTry) {
  compose(test::payloadBytes(100, 6), {.format = {48000, 8, 1}, .copies = 2});
  // Copy 0 of packet 0 starts far past the recording, where its nominal
  // frame (and every symbol after it) does not fit in 64 bits.
  for (const double start : {1e300, 9.3e18 / 48000, std::numeric_limits<double>::max()}) {
    carrier_.locations[0].start_seconds = start;
    EXPECT_EQ(recover(), "") << start;
  }
}

TEST_F(AudioCarrierTest, PreambleToleratesTwoWrongSymbols) {
  compose(test::payloadBytes(40, 7), {.format = {16000, 16, 1}});
  const std::uint64_t start = startOf(0, 0);
  overwriteSymbol(start, 3, 1);
  overwriteSymbol(start, 8, 2);
  EXPECT_EQ(recover(), "");
  overwriteSymbol(start, 15, 0);
  EXPECT_EQ(recover(), "Audio carrier recovery incomplete");
}

TEST_F(AudioCarrierTest, MetadataMustMatchTheFrames) {
  compose(test::payloadBytes(200, 8));
  const AudioCarrier exact = carrier_;
  const struct {
    const char* name;
    void (*damage)(AudioCarrier&);
  } cases[] = {
      {"payload length", [](AudioCarrier& c) { c.length += 1; }},
      {"payload digest", [](AudioCarrier& c) { c.sha256[0] = c.sha256[0] == 'a' ? 'b' : 'a'; }},
      {"packet digest", [](AudioCarrier& c) { c.packets[1].sha256[5] = c.packets[1].sha256[5] == '0' ? '1' : '0'; }},
      {"packet length", [](AudioCarrier& c) { c.packets[1].length -= 1; }},
      {"packet count", [](AudioCarrier& c) { c.packets.push_back(c.packets[1]); }},
  };
  for (const auto& c : cases) {
    carrier_ = exact;
    c.damage(carrier_);
    EXPECT_EQ(recover(), "Audio carrier recovery incomplete") << c.name;
  }
}

TEST_F(AudioCarrierTest, PacketsThatJoinWrongFailTheWholeCheck) {
  // Frames whose headers name a payload digest the packets do not join to.
  const Bytes payload = test::payloadBytes(130, 9);
  Sha256Digest wrong{};
  wrong[0] = 1;
  layout_ = {};
  payload_ = payload;
  carrier_ = {.length = payload.size(), .sha256 = std::string(64, '0')};
  carrier_.sha256[1] = '1';
  for (std::uint16_t index = 0; index < 2; ++index) {
    Bytes frame;
    Failure failure;
    ASSERT_TRUE(publish::packetFrame(*crypto_, payload, wrong, index, frame, failure));
    const std::span<const std::uint8_t> packet = std::span(frame).subspan(audio::kHeaderLength);
    Sha256Digest digest{};
    ASSERT_TRUE(computeSha256(*crypto_, packet, digest));
    carrier_.packets.push_back({.length = packet.size(), .sha256 = encodeLowerHex(digest)});
    const std::uint64_t start = signal_.appendFrame(frame);
    signal_.appendSilence(800);
    for (int copy = 0; copy < 3; ++copy) {
      carrier_.locations.push_back({.packet = index, .start_seconds = static_cast<double>(start) / 16000});
    }
  }
  EXPECT_EQ(recover(), "Audio carrier integrity failure");
}

TEST_F(AudioCarrierTest, SilenceAndProviderFailures) {
  compose(test::payloadBytes(64, 10));
  std::vector<double> silent(signal_.length(), 0.0);
  EXPECT_EQ(recover(silent), "Audio carrier recovery incomplete");
  // Without SHA-256 no packet passes its check.
  test::FailingCrypto failing;
  failing.fail_hashers = true;
  Bytes out;
  Failure decode_failure;
  EXPECT_FALSE(
      recoverAudioCarrier(test::wavOf(signal_.samples(), layout_.format), carrier_, failing, out, decode_failure));
  EXPECT_EQ(decode_failure.message, "Audio carrier recovery incomplete");
}

TEST(AudioWriterTest, OversizedRecordingsAreRefusedBeforeAnySampleExists) {
  // Each of these would need far more memory than any machine has, were the
  // samples composed before the size is known.
  const auto crypto = defaultPlatform().makeCryptoHost();
  const Bytes payload = test::payloadBytes(100, 11);
  const std::array<std::uint8_t, 32> key{};
  const struct {
    const char* name;
    double lead_seconds;
    double gap_seconds;
  } cases[] = {
      {"endless lead", std::numeric_limits<double>::infinity(), 0.05},
      {"a gap of 30,000 years", 0.05, 1e12},
  };
  for (const auto& c : cases) {
    Bytes wav;
    AudioCarrier carrier;
    Failure failure;
    EXPECT_FALSE(publish::writeAudioCarrier(
        *crypto, payload, {.lead_seconds = c.lead_seconds, .gap_seconds = c.gap_seconds}, wav, carrier, failure))
        << c.name;
    EXPECT_EQ(failure.message, "audio carrier would exceed 128 MiB; use fewer copies, a lower rate or fewer bits")
        << c.name;
    EXPECT_FALSE(publish::writeTransportRecording(
        *crypto, key, payload, {.lead_seconds = c.lead_seconds, .gap_seconds = c.gap_seconds}, wav, failure))
        << c.name;
    EXPECT_EQ(failure.message, "recording would exceed 64 MiB; use fewer copies, a lower rate or fewer bits") << c.name;
    EXPECT_TRUE(wav.empty()) << c.name;
  }
}

// A frame header cannot describe a packet the payload lacks, nor a payload
// longer than a frame carries: such frames are refused, never read past the
// payload's end or written with cut-down lengths.
TEST(AudioWriterTest, PacketFramesOutsideThePayloadAreRefused) {
  const auto crypto = defaultPlatform().makeCryptoHost();
  const struct {
    std::size_t length;
    std::uint16_t index;
  } cases[] = {{130, 2}, {130, 65535}, {0, 0}, {4097, 0}, {131072, 0}};
  for (const auto& c : cases) {
    Bytes frame;
    Failure failure;
    EXPECT_FALSE(publish::packetFrame(*crypto, test::payloadBytes(c.length), {}, c.index, frame, failure))
        << c.length << " " << c.index;
    EXPECT_EQ(failure.kind, FailureKind::InvalidData) << c.length << " " << c.index;
  }
}

TEST(FskDemodulatorTest, SymbolsAtTheEdgesOfTheRecordingAreInvalid) {
  ToneSignal signal(16000, 0.5);
  signal.appendFrame(Bytes{0x1B});  // symbols 0 1 2 3
  const Bytes wav = test::wavOf(signal.samples(), {16000, 16, 1});
  WavDescription description;
  Failure decode_failure;
  ASSERT_TRUE(readWav(wav, description, decode_failure));
  const FskDemodulator demodulator(description);
  const std::int64_t last = static_cast<std::int64_t>(description.frames) - 144;  // b = 144 at 16 kHz
  EXPECT_EQ(demodulator.detectSymbol(-1), -1);
  EXPECT_EQ(demodulator.detectSymbol(last), -1);
  EXPECT_EQ(demodulator.detectSymbol(last - 1), 3);
  EXPECT_EQ(demodulator.detectSymbol(std::numeric_limits<std::int64_t>::max()), -1);
  const int expected[] = {0, 3, 0, 3, 0, 1, 2, 3};
  for (std::uint64_t symbol = 14; symbol < 20; ++symbol) {
    EXPECT_EQ(demodulator.detectSymbol(audio::symbolStart(16000, 0, symbol)), expected[symbol - 12]) << symbol;
  }
  Bytes byte(1);
  EXPECT_TRUE(demodulator.readBytes(0, 0, byte));
  EXPECT_EQ(byte[0], 0x1B);
  EXPECT_FALSE(demodulator.readBytes(0, 1, byte));
  // A silent window yields tone 0.
  const Bytes quiet = test::wavOf(std::vector<double>(1000, 0.0), {16000, 16, 1});
  ASSERT_TRUE(readWav(quiet, description, decode_failure));
  EXPECT_EQ(FskDemodulator(description).detectSymbol(100), 0);
}

// The tone of a window by the plain formula: the tables and the eight sums
// written out one term at a time.
int plainTone(const std::vector<double>& frames, std::int64_t start, std::uint32_t rate) {
  const long a = std::lround(rate * 0.001);
  const long b = std::lround(rate * 0.009);
  int best = 0;
  double best_energy = -1.0;
  for (int k = 0; k < 4; ++k) {
    double sine = 0.0;
    double cosine = 0.0;
    for (long i = 0; i < b - a; ++i) {
      const double value = frames[static_cast<std::size_t>(start + a + i)];
      const double angle = static_cast<double>(i) * 6.283185307179586 * (1000.0 + 500.0 * k) / rate;
      sine += value * std::sin(angle);
      cosine += value * std::cos(angle);
    }
    const double energy = sine * sine + cosine * cosine;
    if (energy > best_energy) {
      best_energy = energy;
      best = k;
    }
  }
  return best;
}

TEST(FskDemodulatorTest, DetectionEqualsThePlainFormula) {
  for (const std::uint32_t rate : {16000u, 44100u, 48000u}) {
    // Near-ties on purpose: two tones of almost equal strength under noise.
    std::vector<double> samples(rate / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double t = static_cast<double>(i) / rate;
      samples[i] = 0.3 * std::sin(audio::kTwoPi * 1500 * t) + 0.2999 * std::sin(audio::kTwoPi * 2000 * t + 1);
    }
    test::addNoise(samples, 0.3, 0, rate);
    const Bytes wav = test::wavOf(samples, {rate, 16, 1});
    WavDescription description;
    Failure decode_failure;
    ASSERT_TRUE(readWav(wav, description, decode_failure));
    std::vector<double> frames(description.frames);
    loadFrameValues(description, 0, frames.size(), frames.data());
    const FskDemodulator demodulator(description);
    // Bytes are read two symbols at a time, single symbols one at a time.
    const std::size_t symbols = (description.frames - rate / 100) / (rate / 100) - 20;
    std::vector<std::uint8_t> bytes((symbols - 16) / 4);
    ASSERT_TRUE(demodulator.readBytes(7, 0, bytes));
    for (std::size_t m = 0; m < bytes.size(); ++m) {
      int expected = 0;
      for (std::uint64_t q = 0; q < 4; ++q) {
        const std::int64_t at = audio::symbolStart(rate, 7, audio::firstSymbolOf(m) + q);
        const int plain = plainTone(frames, at, rate);
        EXPECT_EQ(demodulator.detectSymbol(at), plain) << rate << " Hz at " << at;
        expected = expected * 4 + plain;
      }
      EXPECT_EQ(bytes[m], expected) << rate << " Hz, byte " << m;
    }
  }
}

}  // namespace
}  // namespace vesmara
