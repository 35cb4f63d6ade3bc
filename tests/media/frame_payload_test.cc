#include "media/frame_payload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/byte_writer.h"
#include "hosts/platform.h"
#include "hosts/png_codec.h"
#include "media/media_decoder.h"
#include "media/media_test_support.h"
#include "publish/media/frame_writer.h"

namespace vesmara {
namespace {

using test::Bytes;
using Header = std::array<std::uint8_t, 32>;

class FramePayloadTest : public testing::Test {
 protected:
  // Decodes the frame as a PNG carrier of `codec`; returns the decode_failure.message.
  std::string decode(std::string_view codec, const RgbaImage& frame, Bytes* out = nullptr) {
    Bytes png;
    EXPECT_TRUE(encodeRgbaPng(frame.width, frame.height, frame.pixels, png));
    Bytes payload;
    Failure decode_failure;
    const bool decoded = decoder_->decode(codec, png, nullptr, *crypto_, payload, decode_failure);
    EXPECT_EQ(decoded, decode_failure.message.empty());
    if (out != nullptr) *out = payload;
    return decode_failure.message;
  }

  // A header of `magic` for `payload`, with `length` in its length byte.
  Header headerOf(std::string_view magic, const Bytes& payload, std::uint8_t length) {
    Sha256Digest digest{};
    EXPECT_TRUE(computeSha256(*crypto_, payload, digest));
    Bytes bytes;
    ByteWriter writer(bytes);
    writer.writeText(magic);
    writer.writeZeros(2);
    writer.writeU8(length);
    writer.writeBytes(std::span(digest).first(4));
    writer.writeBytes(payload);
    Header header{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), header.size()), header.begin());
    return header;
  }

  RgbaImage legacyFrame(const Bytes& payload, std::uint32_t width = 256, std::uint32_t height = 128) {
    RgbaImage frame;
    Failure failure;
    EXPECT_TRUE(publish::makeLegacyFrame(*crypto_, payload, width, height, frame, failure)) << failure.message;
    return frame;
  }

  RgbaImage sparseFrame(const Bytes& payload, RgbaImage frame) {
    Failure failure;
    EXPECT_TRUE(publish::embedSparseFrame(*crypto_, payload, frame, failure)) << failure.message;
    return frame;
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  std::unique_ptr<MediaDecoder> decoder_ = makeMediaDecoder(defaultPlatform().makePngDecoder());
};

TEST_F(FramePayloadTest, BothCodecsRoundTrip) {
  const Bytes payload = test::payloadBytes(21, 1);
  const struct {
    const char* name;
    std::string_view codec;
    RgbaImage frame;
  } cases[] = {
      {"legacy 256 x 128", "frame-luma1", legacyFrame(payload)},
      {"legacy 300 x 200", "frame-luma1", legacyFrame(payload, 300, 200)},
      {"legacy read as sparse", "frame-luma2", legacyFrame(payload)},
      {"sparse 256 x 128", "frame-luma2", sparseFrame(payload, publish::makeFrameCover(256, 128))},
      {"sparse 1000 x 700", "frame-luma2", sparseFrame(payload, publish::makeFrameCover(1000, 700))},
      {"sparse over a flat frame", "frame-luma2",
       sparseFrame(payload, RgbaImage{.width = 256, .height = 128, .pixels = Bytes(4 * 256 * 128, 255)})},
  };
  for (const auto& c : cases) {
    Bytes out;
    EXPECT_EQ(decode(c.codec, c.frame, &out), "") << c.name;
    EXPECT_EQ(out, payload) << c.name;
  }
}

TEST_F(FramePayloadTest, FrameChecksComeFirst) {
  const Bytes payload = test::payloadBytes(5, 2);
  RgbaImage hole = legacyFrame(payload, 300, 200);
  hole.pixels[4 * (127 * 300 + 255) + 3] = 254;  // the region's last pixel
  RgbaImage outside = legacyFrame(payload, 300, 200);
  outside.pixels[4 * (128 * 300 + 10) + 3] = 254;
  const struct {
    const char* name;
    RgbaImage frame;
    const char* message;
  } cases[] = {
      {"255 x 128", publish::makeFrameCover(255, 128), "Frame dimensions are too small"},
      {"256 x 127", publish::makeFrameCover(256, 127), "Frame dimensions are too small"},
      {"translucent data region", hole, "Frame data region must be opaque"},
      {"translucent outside the region", outside, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode("frame-luma1", c.frame), c.message) << c.name;
    EXPECT_EQ(decode("frame-luma2", c.frame), c.message) << c.name;
  }
  // The sparse reading never chooses a pixel that is not opaque.
  SparsePositions positions{};
  ASSERT_TRUE(selectSparsePositions(outside, positions));
  EXPECT_EQ(std::count(positions.begin(), positions.end(), 128 * 300 + 10), 0);
}

TEST_F(FramePayloadTest, HeaderRules) {
  const Bytes payload = test::payloadBytes(22, 3);
  const Bytes short_payload(payload.begin(), payload.begin() + 21);
  const auto legacy = [&](const Header& header) {
    RgbaImage frame = publish::makeFrameCover(256, 128);
    publish::drawLegacyHeader(header, frame);
    return frame;
  };
  const auto sparse = [&](const Header& header, RgbaImage frame) {
    EXPECT_TRUE(publish::writeSparseHeader(header, frame));
    return frame;
  };
  Header altered = headerOf("VKF2", short_payload, 21);
  altered[20] ^= 0x10;
  const RgbaImage cover = publish::makeFrameCover(256, 128);
  const struct {
    const char* name;
    std::string_view codec;
    RgbaImage frame;
    const char* message;
  } cases[] = {
      {"legacy length 22", "frame-luma1", legacy(headerOf("VKF1", payload, 22)), "Invalid legacy frame payload"},
      {"legacy length 0", "frame-luma1", legacy(headerOf("VKF1", {}, 0)), "Invalid legacy frame payload"},
      {"legacy non-zero byte 5", "frame-luma1", legacy([&] {
         Header h = headerOf("VKF1", short_payload, 21);
         h[5] = 1;
         return h;
       }()),
       "Invalid legacy frame payload"},
      {"legacy digest", "frame-luma1", legacy(headerOf("VKF1", payload, 21)), "Legacy frame integrity failure"},
      {"legacy header read as sparse", "frame-luma1", legacy(headerOf("VKF2", short_payload, 21)),
       "Invalid legacy frame payload"},
      {"flat frame", "frame-luma1", RgbaImage{.width = 256, .height = 128, .pixels = Bytes(4 * 256 * 128, 255)},
       "Invalid legacy frame payload"},
      {"sparse length 22 falls back", "frame-luma2", sparse(headerOf("VKF2", payload, 22), cover),
       "Invalid legacy frame payload"},
      {"sparse length 0 falls back", "frame-luma2", sparse(headerOf("VKF2", {}, 0), cover),
       "Invalid legacy frame payload"},
      {"sparse digest", "frame-luma2", sparse(headerOf("VKF2", payload, 21), cover), "Sparse-frame integrity failure"},
      {"altered sparse payload does not fall back", "frame-luma2",
       sparse(altered, legacy(headerOf("VKF1", short_payload, 21))), "Sparse-frame integrity failure"},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.codec, c.frame), c.message) << c.name;
  // Without SHA-256 neither reading can check its payload.
  test::FailingCrypto failing;
  failing.fail_hashers = true;
  Bytes out;
  Failure decode_failure;
  EXPECT_FALSE(readLegacyFrame(legacyFrame(short_payload), failing, out, decode_failure));
  EXPECT_EQ(decode_failure.message, "Legacy frame integrity failure");
  EXPECT_FALSE(readSparseFrame(sparseFrame(short_payload, cover), failing, out, decode_failure));
  EXPECT_EQ(decode_failure.message, "Sparse-frame integrity failure");
}

TEST_F(FramePayloadTest, ScatterFollowsTheFrameSize) {
  EXPECT_EQ(frame::scatterStride(32768), 20251u);
  EXPECT_EQ(frame::scatterStart(256, 128), 4736u);
  // An even golden-ratio fraction is made odd, then raised until coprime.
  EXPECT_EQ(frame::scatterStride(300 * 200), 37087u);
  // Too few opaque candidates for 768 positions (only possible below the
  // frame checks' 256 x 128 minimum, where every window has 16 candidates
  // and 32,768 of them are opaque).
  RgbaImage small = publish::makeFrameCover(200, 100);
  SparsePositions positions{};
  EXPECT_TRUE(selectSparsePositions(small, positions));
  for (std::size_t p = 0; p < small.pixelCount(); p += 2) small.pixels[4 * p + 3] = 0;
  for (std::size_t p = 1; p < small.pixelCount(); p += 2) small.pixels[4 * p + 3] = p % 52 == 1 ? 255 : 0;
  EXPECT_FALSE(selectSparsePositions(small, positions));
}

}  // namespace
}  // namespace vesmara
