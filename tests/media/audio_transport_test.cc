// Standalone recordings, decoded through the export a caller uses.
#include "media/audio_transport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "hosts/platform.h"
#include "media/audio_format.h"
#include "media/media_test_support.h"
#include "publish/media/audio_writer.h"
#include "vkr_preview.h"

namespace vesmara {
namespace {

using publish::AudioFormat;
using publish::ToneSignal;
using publish::TransportLayout;
using test::Bytes;

class AudioTransportTest : public testing::Test {
 protected:
  AudioTransportTest() { key_.fill(0x42); }

  ToneSignal compose(const Bytes& plaintext, TransportLayout layout = {}) {
    ToneSignal signal(layout.format.rate, layout.amplitude);
    Failure failure;
    EXPECT_TRUE(publish::composeTransport(*crypto_, key_, plaintext, layout, signal, failure)) << failure.message;
    return signal;
  }

  Bytes wavOf(const ToneSignal& signal, AudioFormat format = {}) { return test::wavOf(signal.samples(), format); }

  // Decodes through the export with a buffer of `capacity` bytes.
  vkr_preview_status decodeFile(const Bytes& wav, Bytes& out, std::uint64_t capacity = 4096) {
    out.assign(capacity, 0xEE);
    std::uint64_t length = 99;
    const vkr_preview_status status = vkr_preview_audio_decode_file(
        wav.data(), wav.size(), key_.data(), key_.size(), out.data(), capacity, &length, message_, sizeof message_);
    if (status == VKR_PREVIEW_OK) {
      out.resize(length);
    } else if (status != VKR_PREVIEW_BUFFER_TOO_SMALL) {
      EXPECT_EQ(length, 0u);
    }
    return status;
  }

  // The transport payload of `plaintext`: a fixed nonce, then the sealed bytes.
  Bytes sealed(const Bytes& plaintext) {
    Bytes payload(kGcmNonceLength, 1);
    Bytes ciphertext;
    EXPECT_TRUE(crypto_->aesGcmEncrypt(key_, GcmNonce(payload.data(), kGcmNonceLength), audio::transportLabel(),
                                       plaintext, ciphertext));
    payload.insert(payload.end(), ciphertext.begin(), ciphertext.end());
    return payload;
  }

  // The frames that send `payload`, packet by packet.
  std::vector<Bytes> framesOf(const Bytes& payload) {
    Sha256Digest digest{};
    EXPECT_TRUE(computeSha256(*crypto_, payload, digest));
    std::vector<Bytes> frames(audio::packetCountFor(static_cast<std::uint32_t>(payload.size())));
    Failure failure;
    for (std::uint16_t index = 0; index < frames.size(); ++index) {
      EXPECT_TRUE(publish::packetFrame(*crypto_, payload, digest, index, frames[index], failure));
    }
    return frames;
  }

  static constexpr const char* kAmbiguous = "Standalone audio packet recovery incomplete or ambiguous";

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  std::array<std::uint8_t, 32> key_{};
  char message_[128] = {};
};

TEST_F(AudioTransportTest, PublishedRecordingsDecode) {
  const struct {
    AudioFormat format;
    std::size_t length;
    std::uint32_t copies;
  } cases[] = {
      {{16000, 8, 1}, 1, 1},   {{16000, 16, 2}, 4068, 1}, {{44100, 16, 1}, 300, 2},
      {{44100, 8, 2}, 100, 1}, {{48000, 16, 2}, 200, 1},
  };
  for (const auto& c : cases) {
    const Bytes plaintext = test::payloadBytes(c.length, static_cast<std::uint32_t>(c.length));
    Bytes wav;
    Failure failure;
    ASSERT_TRUE(publish::writeTransportRecording(*crypto_, key_, plaintext, {.format = c.format, .copies = c.copies},
                                                 wav, failure))
        << failure.message;
    Bytes out;
    EXPECT_EQ(decodeFile(wav, out), VKR_PREVIEW_OK) << message_;
    EXPECT_EQ(out, plaintext) << c.format.rate << " Hz, " << c.length << " bytes";
  }
}

TEST_F(AudioTransportTest, ExportArgumentsAndOutput) {
  const Bytes plaintext = test::payloadBytes(50, 2);
  const Bytes wav = wavOf(compose(plaintext));
  std::uint8_t buffer[64];
  std::uint64_t length = 7;
  char message[16] = "untouched";
  const struct {
    const char* name;
    const std::uint8_t* data;
    std::uint64_t size;
    const std::uint8_t* key;
    std::uint64_t key_length;
    std::uint8_t* buffer;
    std::uint64_t capacity;
    std::uint64_t* out_length;
    char* message;
    std::uint64_t message_capacity;
  } invalid[] = {
      {"no out_length", wav.data(), wav.size(), key_.data(), 32, buffer, 64, nullptr, message, 16},
      {"no data", nullptr, wav.size(), key_.data(), 32, buffer, 64, &length, message, 16},
      {"no bytes", wav.data(), 0, key_.data(), 32, buffer, 64, &length, message, 16},
      {"no key", wav.data(), wav.size(), nullptr, 32, buffer, 64, &length, message, 16},
      {"31-byte key", wav.data(), wav.size(), key_.data(), 31, buffer, 64, &length, message, 16},
      {"33-byte key", wav.data(), wav.size(), key_.data(), 33, buffer, 64, &length, message, 16},
      {"capacity without buffer", wav.data(), wav.size(), key_.data(), 32, nullptr, 64, &length, message, 16},
      {"capacity without message", wav.data(), wav.size(), key_.data(), 32, buffer, 64, &length, nullptr, 16},
  };
  for (const auto& c : invalid) {
    length = 7;
    std::snprintf(message, sizeof message, "untouched");
    EXPECT_EQ(vkr_preview_audio_decode_file(c.data, c.size, c.key, c.key_length, c.buffer, c.capacity, c.out_length,
                                            c.message, c.message_capacity),
              VKR_PREVIEW_INVALID_ARGUMENT)
        << c.name;
    EXPECT_EQ(length, c.out_length != nullptr ? 0u : 7u) << c.name;
    EXPECT_STREQ(message, c.message != nullptr ? "" : "untouched") << c.name;
  }
  // A length query, a buffer one byte short, a buffer of exactly the length.
  EXPECT_EQ(vkr_preview_audio_decode_file(wav.data(), wav.size(), key_.data(), 32, nullptr, 0, &length, nullptr, 0),
            VKR_PREVIEW_OK);
  EXPECT_EQ(length, 50u);
  Bytes out(49, 0xEE);
  length = 0;
  EXPECT_EQ(vkr_preview_audio_decode_file(wav.data(), wav.size(), key_.data(), 32, out.data(), 49, &length, nullptr, 0),
            VKR_PREVIEW_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 50u);
  EXPECT_EQ(out, Bytes(49, 0xEE));
  out.assign(51, 0xEE);
  EXPECT_EQ(vkr_preview_audio_decode_file(wav.data(), wav.size(), key_.data(), 32, out.data(), 50, &length, nullptr, 0),
            VKR_PREVIEW_OK);
  EXPECT_TRUE(std::equal(plaintext.begin(), plaintext.end(), out.begin()));
  EXPECT_EQ(out[50], 0xEE);  // no terminator
}

TEST_F(AudioTransportTest, InputLimit) {
  Bytes big(audio::kMaxTransportRecordingLength, 0);
  Bytes out;
  EXPECT_EQ(decodeFile(big, out), VKR_PREVIEW_INVALID_DATA);
  EXPECT_STREQ(message_, "Expected bounded PCM WAV carrier");
  big.push_back(0);
  EXPECT_EQ(decodeFile(big, out), VKR_PREVIEW_UNSUPPORTED);
  EXPECT_STREQ(message_, "Standalone WAV exceeds input limit");
}

TEST_F(AudioTransportTest, WhatARecordingMustHold) {
  const Bytes plaintext = test::payloadBytes(300, 3);  // 3 packets
  const ToneSignal once = compose(plaintext);
  ToneSignal two = compose(plaintext);
  const ToneSignal other = compose(test::payloadBytes(40, 4));
  two.samples().insert(two.samples().end(), other.samples().begin(), other.samples().end());
  // Packet 1 silenced: from its segment's start to the next one's.
  ToneSignal missing = once;
  WavDescription wav;
  Failure error;
  const Bytes once_wav = wavOf(once);
  ASSERT_TRUE(readWav(once_wav, wav, error));
  const std::vector<std::uint64_t> segments = findSoundSegments(wav);
  ASSERT_EQ(segments.size(), 3u);
  std::fill(missing.samples().begin() + static_cast<std::ptrdiff_t>(segments[1]),
            missing.samples().begin() + static_cast<std::ptrdiff_t>(segments[2]), 0.0);
  // The packets of one payload only 10 ms apart fall into one segment.
  ToneSignal crowded(16000, 0.5);
  crowded.appendSilence(800);
  for (const Bytes& frame : framesOf(sealed(plaintext))) {
    crowded.appendFrame(frame);
    crowded.appendSilence(160);
  }
  // Complete and correctly sealed, but 28 bytes long.
  ToneSignal short_payload(16000, 0.5);
  short_payload.appendSilence(800);
  short_payload.appendFrame(framesOf(sealed(Bytes{}))[0]);
  short_payload.appendSilence(800);
  const struct {
    const char* name;
    std::vector<double> samples;
    vkr_preview_status status;
    const char* message;
  } cases[] = {
      {"every packet twice", compose(plaintext, {.copies = 2}).samples(), VKR_PREVIEW_OK, ""},
      {"two messages", two.samples(), VKR_PREVIEW_INTEGRITY_FAILURE, kAmbiguous},
      {"a packet missing", missing.samples(), VKR_PREVIEW_INTEGRITY_FAILURE, kAmbiguous},
      {"frames 10 ms apart", crowded.samples(), VKR_PREVIEW_INTEGRITY_FAILURE, kAmbiguous},
      {"28-byte payload", short_payload.samples(), VKR_PREVIEW_INTEGRITY_FAILURE, kAmbiguous},
      {"silence", std::vector<double>(48000, 0.0), VKR_PREVIEW_INTEGRITY_FAILURE, kAmbiguous},
  };
  for (const auto& c : cases) {
    Bytes out;
    EXPECT_EQ(decodeFile(test::wavOf(c.samples, {}), out), c.status) << c.name;
    EXPECT_STREQ(message_, c.message) << c.name;
  }
  Bytes out;
  EXPECT_EQ(decodeFile(Bytes(100, 'x'), out), VKR_PREVIEW_INVALID_DATA);
  EXPECT_STREQ(message_, "Expected bounded PCM WAV carrier");
  key_[0] ^= 1;
  EXPECT_EQ(decodeFile(once_wav, out), VKR_PREVIEW_AUTHENTICATION_FAILED);
  EXPECT_STREQ(message_, "Media key or authentication failed");
}

TEST_F(AudioTransportTest, SegmentStartsOffByUpToThreeMilliseconds) {
  const Bytes plaintext = test::payloadBytes(200, 5);
  const AudioFormat format{44100, 16, 1};
  const ToneSignal signal = compose(plaintext, {.format = format});
  WavDescription wav;
  Failure error;
  const Bytes exact = wavOf(signal, format);
  ASSERT_TRUE(readWav(exact, wav, error));
  const std::vector<std::uint64_t> starts = findSoundSegments(wav);
  ASSERT_EQ(starts.size(), 2u);
  // Positive offsets: each frame begins too quietly to be heard. Negative: a
  // click shortly before each frame opens its segment early.
  for (const double offset : {-0.003, -0.0021, -0.0008, 0.0004, 0.0013, 0.0025, 0.003}) {
    ToneSignal moved = signal;
    const std::size_t span = static_cast<std::size_t>(std::lround(std::fabs(offset) * format.rate));
    for (const std::uint64_t start : starts) {
      if (offset > 0) {
        for (std::size_t i = 0; i < span; ++i) moved.samples()[start + i] *= 0.05;
      } else {
        moved.samples()[start - span] = 0.9;
      }
    }
    Bytes out;
    EXPECT_EQ(decodeFile(wavOf(moved, format), out), VKR_PREVIEW_OK) << offset << ": " << message_;
    EXPECT_EQ(out, plaintext);
  }
}

TEST_F(AudioTransportTest, QuietNoiseAndDrift) {
  const Bytes plaintext = test::payloadBytes(250, 6);
  const ToneSignal signal = compose(plaintext);
  const struct {
    const char* name;
    double snr_db;
    std::int64_t drift;
    double dc;
  } cases[] = {
      {"noise 22 dB below the tones", 22, 0, 0.0},
      {"12 frames of drift", 80, 12, 0.0},
      {"DC offset 0.03", 80, 0, 0.03},
  };
  for (const auto& c : cases) {
    std::vector<double> samples = test::stretch(signal.samples(), c.drift);
    test::addNoise(samples, 0.5, c.snr_db, 3);
    for (double& sample : samples) sample += c.dc;
    Bytes out;
    EXPECT_EQ(decodeFile(test::wavOf(samples, {}), out), VKR_PREVIEW_OK) << c.name << ": " << message_;
    EXPECT_EQ(out, plaintext) << c.name;
  }
}

TEST_F(AudioTransportTest, ProviderFailures) {
  const Bytes wav = wavOf(compose(test::payloadBytes(20, 7)));
  const struct {
    bool hashers;
    bool gcm;
    const char* message;
  } cases[] = {
      {true, false, "Audio SHA-256 provider failed"},
      {false, true, "Audio AES-GCM provider failed"},
  };
  for (const auto& c : cases) {
    test::FailingCrypto failing;
    failing.fail_hashers = c.hashers;
    failing.fail_gcm = c.gcm;
    SecureBytes plaintext(3, 1);
    Failure failure;
    EXPECT_FALSE(decodeMediaTransport(wav, key_, failing, plaintext, failure));
    EXPECT_EQ(failure.message, c.message);
    EXPECT_EQ(failure.kind, FailureKind::Provider);
    EXPECT_TRUE(plaintext.empty());
  }
}

}  // namespace
}  // namespace vesmara
