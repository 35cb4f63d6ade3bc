// Speed of the media carriers, each against a stated reference point:
//
//   audio   demodulating a 60-second 48 kHz stereo carrier (index-driven
//           recovery of 8 packets), against real time;
//   scan    the standalone sound scan of a 64 MiB recording, against one
//           plain pass that converts every frame to its value;
//   worst   the standalone decode of a 64 MiB recording made to be slow:
//           1-millisecond bursts each followed by 20 quiet milliseconds, so
//           that every burst opens a segment tried at 13 shifts; against the
//           10-second target;
//   png     png-lsb1 and frame-luma2 decoding of 16-megapixel carriers,
//           against libspng decoding the same file alone;
//   snr     the lowest signal-to-noise ratio at which every packet of a
//           carrier is still recovered, per rate.
//
//   media_bench [audio|scan|worst|png|snr]...   (all when none is named)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/platform.h"
#include "hosts/png_codec.h"
#include "media/audio_carrier.h"
#include "media/audio_format.h"
#include "media/audio_transport.h"
#include "media/media_decoder.h"
#include "media/png_carrier.h"
#include "media/wav_format.h"
#include "media/wav_reader.h"
#include "publish/media/audio_writer.h"
#include "publish/media/frame_writer.h"
#include "publish/media/pixel_carrier_writer.h"

namespace vesmara {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "media_bench: %s\n", what.c_str());
  std::exit(1);
}

Bytes wavOf(std::span<const double> samples, const publish::AudioFormat& format) {
  Bytes wav;
  Failure failure;
  if (!publish::encodeWav(samples, format, wav, failure)) die(failure.message);
  return wav;
}

// The best of `runs` timings of `work`, in seconds.
template <typename Work>
double timeBest(int runs, Work&& work) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

Bytes patternBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

void benchAudio(CryptoHost& crypto) {
  const publish::AudioCarrierLayout layout{.format = {48000, 16, 2}, .lead_seconds = 0.2, .gap_seconds = 0.02};
  Bytes wav;
  AudioCarrier carrier;
  Failure failure;
  if (!publish::writeAudioCarrier(crypto, patternBytes(1024, 1), layout, wav, carrier, failure)) die(failure.message);
  Failure error;
  WavDescription description;
  if (!readWav(wav, description, error)) die(error.message);
  const double duration = static_cast<double>(description.frames) / description.rate;
  Bytes out;
  const double seconds = timeBest(5, [&] {
    if (!recoverAudioCarrier(wav, carrier, crypto, out, error)) die(error.message);
  });
  std::printf("audio  %.1f s of 48 kHz 16-bit stereo, 8 packets: recovered in %.1f ms, %.0fx real time\n", duration,
              seconds * 1000, duration / seconds);
}

// A 64 MiB recording of 48 kHz 16-bit stereo: tone bursts of a few
// milliseconds and silences of 30 milliseconds.
Bytes scanRecording() {
  publish::ToneSignal signal(48000, 0.5);
  const std::uint64_t frames = (audio::kMaxTransportRecordingLength - wav::kHeaderLength) / 4;
  std::mt19937 generator(5);
  while (signal.length() < frames) {
    const std::uint64_t burst = 48 * (1 + generator() % 8);
    for (std::uint64_t i = 0; i < burst; ++i) signal.samples().push_back(0.4 * std::sin(0.3 * static_cast<double>(i)));
    signal.appendSilence(48 * 30);
  }
  signal.samples().resize(frames);
  return wavOf(signal.samples(), {48000, 16, 2});
}

void benchScan() {
  const Bytes wav = scanRecording();
  WavDescription description;
  Failure error;
  if (!readWav(wav, description, error)) die(error.message);
  std::size_t segments = 0;
  const double scan = timeBest(3, [&] { segments = findSoundSegments(description).size(); });
  std::vector<double> values(65536);
  const double pass = timeBest(3, [&] {
    for (std::uint64_t at = 0; at < description.frames; at += values.size()) {
      const std::size_t count =
          static_cast<std::size_t>(std::min<std::uint64_t>(values.size(), description.frames - at));
      loadFrameValues(description, at, count, values.data());
    }
  });
  std::printf(
      "scan   64 MiB (%.0f s of 48 kHz stereo): %zu segments in %.1f ms; one conversion pass %.1f ms; "
      "ratio %.2f\n",
      static_cast<double>(description.frames) / 48000, segments, scan * 1000, pass * 1000, scan / pass);
}

// The slowest recording of 64 MiB for the standalone decoder: 16 kHz 8-bit
// mono (the most frames per byte), a 1-millisecond burst of noise every 21
// milliseconds over dithered quiet. With `lure`, the quiet carries a faint
// endless preamble (tone 0, tone 3, ...), so that every shift of every
// segment passes the preamble test and reads a frame magic before failing.
Bytes worstRecording(bool lure) {
  const std::uint64_t frames = audio::kMaxTransportRecordingLength - wav::kHeaderLength;
  std::vector<double> samples(frames);
  std::mt19937 generator(9);
  std::uniform_real_distribution<double> dither(-0.01, 0.01);
  std::uniform_real_distribution<double> burst(-0.9, 0.9);
  for (std::uint64_t i = 0; i < frames; ++i) {
    const std::uint64_t in_cycle = i % 336;  // 21 ms
    double value = in_cycle < 16 ? burst(generator) : dither(generator);
    if (lure) {
      const int tone = (i / 160) % 2 == 0 ? 0 : 3;
      value += 0.03 * std::sin(6.283185307179586 * (1000.0 + 500.0 * tone) * static_cast<double>(i) / 16000);
    }
    samples[i] = value;
  }
  return wavOf(samples, {16000, 8, 1});
}

void benchWorst(CryptoHost& crypto) {
  std::array<std::uint8_t, 32> key{};
  for (const bool lure : {false, true}) {
    const Bytes wav = worstRecording(lure);
    WavDescription description;
    Failure error;
    if (!readWav(wav, description, error)) die(error.message);
    const std::size_t segments = findSoundSegments(description).size();
    SecureBytes plaintext;
    Failure failure;
    const double seconds = timeBest(1, [&] {
      if (decodeMediaTransport(wav, key, crypto, plaintext, failure)) die("a message was found in noise");
    });
    std::printf("worst  64 MiB of %s (%zu segments): failed with \"%s\" in %.2f s (target 10 s)\n",
                lure ? "bursts over an endless faint preamble" : "bursts and dithered quiet", segments,
                failure.message.c_str(), seconds);
  }
}

void benchPng(CryptoHost& crypto) {
  const auto decoder = makeMediaDecoder(defaultPlatform().makePngDecoder());
  const std::uint32_t side = 4096;  // 16,777,216 pixels
  struct Carrier {
    const char* name;
    const char* codec;
    Bytes png;
  };
  std::vector<Carrier> carriers;
  Failure failure;
  for (const std::size_t length : {std::size_t{1000}, std::size_t{6291412}}) {
    RgbaImage image = publish::makeFrameCover(side, side);
    if (!publish::embedPixelPayload(crypto, patternBytes(length, 2), image, failure)) die(failure.message);
    Bytes png;
    if (!encodeRgbaPng(side, side, image.pixels, png, 1)) die("PNG encoding failed");
    carriers.push_back(
        {length == 1000 ? "png-lsb1, 1 KB payload" : "png-lsb1, 6 MB payload (full)", "png-lsb1", std::move(png)});
  }
  RgbaImage frame = publish::makeFrameCover(side, side);
  if (!publish::embedSparseFrame(crypto, patternBytes(21, 3), frame, failure)) die(failure.message);
  Bytes frame_png;
  if (!encodeRgbaPng(side, side, frame.pixels, frame_png, 1)) die("PNG encoding failed");
  carriers.push_back({"frame-luma2", "frame-luma2", std::move(frame_png)});
  const auto png = defaultPlatform().makePngDecoder();
  for (const Carrier& carrier : carriers) {
    const double alone = timeBest(3, [&] {
      Bytes pixels;  // a fresh buffer, as every decode has
      if (png->decodePixels(carrier.png, side, side, pixels) != PngDecodeStatus::Ok) die("libspng failed");
    });
    Bytes out;
    Failure error;
    const double full = timeBest(3, [&] {
      if (!decoder->decode(carrier.codec, carrier.png, nullptr, crypto, out, error)) die(error.message);
    });
    std::printf("png    4096 x 4096 %-32s %6.1f MiB file: decode %7.1f ms, libspng alone %7.1f ms, ratio %.2f\n",
                carrier.name, static_cast<double>(carrier.png.size()) / (1 << 20), full * 1000, alone * 1000,
                full / alone);
  }
}

void benchSnr(CryptoHost& crypto) {
  for (const std::uint32_t rate : {16000u, 44100u, 48000u}) {
    const publish::AudioCarrierLayout layout{.format = {rate, 16, 1}};
    publish::ToneSignal signal(rate, layout.amplitude);
    AudioCarrier carrier;
    Failure failure;
    const Bytes payload = patternBytes(512, 4);
    if (!publish::composeAudioCarrier(crypto, payload, layout, signal, carrier, failure)) die(failure.message);
    Failure error;
    double lowest = NAN;
    for (double snr = 6; snr >= -20; snr -= 0.5) {
      int recovered = 0;
      constexpr int kTrials = 5;
      for (int trial = 0; trial < kTrials; ++trial) {
        std::vector<double> samples = signal.samples();
        std::mt19937_64 generator(static_cast<std::uint64_t>(trial) * 7919 + rate);
        std::normal_distribution<double> noise(
            0.0, std::sqrt(layout.amplitude * layout.amplitude / 2 / std::pow(10.0, snr / 10)));
        for (double& sample : samples) sample += noise(generator);
        Bytes out;
        if (recoverAudioCarrier(wavOf(samples, layout.format), carrier, crypto, out, error)) ++recovered;
      }
      if (recovered < kTrials) break;
      lowest = snr;
    }
    std::printf(
        "snr    %u Hz: every packet of a 512-byte carrier (4 packets, 1 copy) recovered in 5 of 5 noisy "
        "recordings down to %.1f dB\n",
        rate, lowest);
  }
}

}  // namespace
}  // namespace vesmara

int main(int argc, char** argv) {
  const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  std::vector<std::string_view> names(argv + 1, argv + argc);
  if (names.empty()) names = {"audio", "scan", "worst", "png", "snr"};
  for (const std::string_view name : names) {
    if (name == "audio") {
      vesmara::benchAudio(*crypto);
    } else if (name == "scan") {
      vesmara::benchScan();
    } else if (name == "worst") {
      vesmara::benchWorst(*crypto);
    } else if (name == "png") {
      vesmara::benchPng(*crypto);
    } else if (name == "snr") {
      vesmara::benchSnr(*crypto);
    } else {
      std::fprintf(stderr, "usage: media_bench [audio|scan|worst|png|snr]...\n");
      return 2;
    }
  }
  return 0;
}
