#include "media/pixel_payload.h"

#include <gtest/gtest.h>

#include <string>

#include "base/byte_writer.h"
#include "hosts/platform.h"
#include "hosts/png_codec.h"
#include "media/media_decoder.h"
#include "media/media_test_support.h"
#include "media/pixel_payload_format.h"
#include "publish/media/pixel_carrier_writer.h"

namespace vesmara {
namespace {

using test::Bytes;

class PixelPayloadTest : public testing::Test {
 protected:
  // Decodes a png-lsb1 carrier; returns the decode_failure.message.
  std::string decode(const Bytes& png, Bytes& out) {
    Failure decode_failure;
    const bool decoded = decoder_->decode("png-lsb1", png, nullptr, *crypto_, out, decode_failure);
    EXPECT_EQ(decoded, decode_failure.message.empty());
    return decode_failure.message;
  }

  std::string readImage(const RgbaImage& image) {
    Bytes png;
    EXPECT_TRUE(encodeRgbaPng(image.width, image.height, image.pixels, png));
    Bytes out;
    return decode(png, out);
  }

  // Writes `stream` as the image's bit stream, whatever it holds.
  static void writeStream(RgbaImage& image, const Bytes& stream) {
    const pixel_payload::PixelSlots slots(image.pixels);
    pixel_payload::SlotWalk walk(slots.count());
    for (const std::uint8_t byte : stream) {
      for (int bit = 7; bit >= 0; --bit) {
        std::uint8_t& sample = image.pixels[slots.byteOf(walk.next())];
        sample = static_cast<std::uint8_t>((sample & 0xFE) | (byte >> bit & 1));
      }
    }
  }

  static RgbaImage opaqueImage(std::uint32_t width, std::uint32_t height) {
    return {.width = width, .height = height, .pixels = Bytes(std::size_t{4} * width * height, 255)};
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  std::unique_ptr<MediaDecoder> decoder_ = makeMediaDecoder(defaultPlatform().makePngDecoder());
};

TEST_F(PixelPayloadTest, GeneratedCoversRoundTrip) {
  for (const std::size_t length : {1, 1000, 70000}) {
    const Bytes payload = test::payloadBytes(length, static_cast<std::uint32_t>(length));
    Bytes png;
    Failure failure;
    ASSERT_TRUE(publish::writePixelCarrier(*crypto_, payload, {}, png, failure)) << failure.message;
    Bytes out;
    EXPECT_EQ(decode(png, out), "") << length;
    EXPECT_EQ(out, payload);
  }
}

TEST_F(PixelPayloadTest, OnlyOpaquePixelsCarryBits) {
  RgbaImage cover = publish::makePixelCover(3000);
  for (std::size_t p = 0; p < cover.pixelCount(); p += 3) cover.pixels[4 * p + 3] = p % 2 == 0 ? 254 : 0;
  Bytes cover_png;
  ASSERT_TRUE(encodeRgbaPng(cover.width, cover.height, cover.pixels, cover_png));
  const Bytes payload = test::payloadBytes(1500, 2);
  Bytes png;
  Failure failure;
  ASSERT_TRUE(publish::writePixelCarrier(*crypto_, payload, cover_png, png, failure)) << failure.message;
  Bytes out;
  EXPECT_EQ(decode(png, out), "");
  EXPECT_EQ(out, payload);
  RgbaImage written;
  Failure error;
  ASSERT_TRUE(decodePngCarrier(png, *defaultPlatform().makePngDecoder(), written, error));
  for (std::size_t p = 0; p < cover.pixelCount(); p += 3) {
    ASSERT_TRUE(
        std::equal(cover.pixels.begin() + 4 * p, cover.pixels.begin() + 4 * p + 4, written.pixels.begin() + 4 * p))
        << p;
  }
  EXPECT_FALSE(publish::writePixelCarrier(*crypto_, test::payloadBytes(3000), cover_png, png, failure));
}

TEST_F(PixelPayloadTest, LosslessReencodingKeepsThePayloadAndOneFlippedBitIsCaught) {
  const Bytes payload = test::payloadBytes(4000, 3);
  RgbaImage image = publish::makePixelCover(payload.size());
  Failure failure;
  ASSERT_TRUE(publish::embedPixelPayload(*crypto_, payload, image, failure)) << failure.message;
  const struct {
    int level;
    PngFilters filters;
  } encodings[] = {{0, PngFilters::None}, {1, PngFilters::Sub}, {9, PngFilters::Paeth}, {6, PngFilters::Average}};
  for (const auto& encoding : encodings) {
    Bytes png;
    ASSERT_TRUE(encodeRgbaPng(image.width, image.height, image.pixels, png, encoding.level, encoding.filters));
    Bytes out;
    EXPECT_EQ(decode(png, out), "") << encoding.level;
    EXPECT_EQ(out, payload);
  }
  // The low bit of the slot carrying payload bit 3 flips.
  const pixel_payload::PixelSlots slots(image.pixels);
  pixel_payload::SlotWalk walk(slots.count());
  for (std::size_t bit = 0; bit < 8 * pixel_payload::kHeaderLength + 3; ++bit) walk.next();
  image.pixels[slots.byteOf(walk.next())] ^= 1;
  EXPECT_EQ(readImage(image), "Pixel payload integrity failure");
}

TEST_F(PixelPayloadTest, HeaderAndCapacityRules) {
  // 236 opaque pixels: 708 slots, an 88-byte stream, so 44 payload bytes fit.
  const RgbaImage base = opaqueImage(236, 1);
  const Bytes payload = test::payloadBytes(45, 4);
  Sha256Digest digest{};
  ASSERT_TRUE(computeSha256(*crypto_, std::span(payload).first(44), digest));
  const auto streamOf = [&](std::string_view magic, std::uint32_t length) {
    Bytes stream;
    ByteWriter writer(stream);
    writer.writeText(magic);
    writer.writeU32(length);
    writer.writeBytes(digest);
    writer.writeBytes(std::span(payload).first(std::min<std::size_t>(length, 44)));
    return stream;
  };
  const struct {
    const char* name;
    Bytes stream;
    const char* message;
  } cases[] = {
      {"exactly fills the stream", streamOf(std::string_view("VKRPX1\0\0", 8), 44), ""},
      {"one byte longer than the stream", streamOf(std::string_view("VKRPX1\0\0", 8), 45),
       "Invalid pixel payload length"},
      {"empty", streamOf(std::string_view("VKRPX1\0\0", 8), 0), "Invalid pixel payload length"},
      {"over 16 MiB", streamOf(std::string_view("VKRPX1\0\0", 8), 16777217), "Invalid pixel payload length"},
      {"non-zero seventh byte", streamOf(std::string_view("VKRPX1\1\0", 8), 44), "No VesmaraWeb pixel payload"},
      {"other magic", streamOf(std::string_view("VKRPX2\0\0", 8), 44), "No VesmaraWeb pixel payload"},
      {"digest of other bytes", streamOf(std::string_view("VKRPX1\0\0", 8), 43), "Pixel payload integrity failure"},
  };
  for (const auto& c : cases) {
    RgbaImage image = base;
    writeStream(image, c.stream);
    EXPECT_EQ(readImage(image), c.message) << c.name;
  }
  // Hidden but not checkable without SHA-256.
  RgbaImage image = base;
  writeStream(image, cases[0].stream);
  test::FailingCrypto failing;
  failing.fail_hashers = true;
  Bytes out;
  Failure decode_failure;
  EXPECT_FALSE(readPixelPayload(image, failing, out, decode_failure));
  EXPECT_EQ(decode_failure.message, "Pixel payload integrity failure");
}

TEST_F(PixelPayloadTest, OpaquePixelCountAndStride) {
  RgbaImage image = opaqueImage(118, 2);
  for (std::size_t p = 118; p < 236; ++p) image.pixels[4 * p + 3] = p % 2 == 0 ? 0 : 254;
  EXPECT_EQ(readImage(image), "No VesmaraWeb pixel payload");  // 354 slots: enough to look
  image.pixels[3] = 254;
  EXPECT_EQ(readImage(image), "PNG has too few opaque pixels");
  EXPECT_EQ(readImage(RgbaImage{.width = 20, .height = 20, .pixels = Bytes(1600, 0)}), "PNG has too few opaque pixels");

  EXPECT_EQ(pixel_payload::strideFor(354), 65537u);
  EXPECT_EQ(pixel_payload::strideFor(196611), 65539u);
  // 65,537 opaque pixels: the payload is spread with the second stride.
  RgbaImage wide = opaqueImage(65537, 1);
  const Bytes payload = test::payloadBytes(20000, 5);
  Failure failure;
  ASSERT_TRUE(publish::embedPixelPayload(*crypto_, payload, wide, failure)) << failure.message;
  Bytes out;
  EXPECT_TRUE(readPixelPayload(wide, *crypto_, out, failure)) << failure.message;
  EXPECT_EQ(out, payload);
}

TEST_F(PixelPayloadTest, CodecDispatch) {
  Bytes png;
  Failure failure;
  ASSERT_TRUE(publish::writePixelCarrier(*crypto_, test::payloadBytes(10), {}, png, failure));
  const AudioCarrier audio;
  const struct {
    std::string codec;
    const AudioCarrier* audio;
    const char* message;
  } cases[] = {
      {"PNG-LSB1", nullptr, "Media codec is not supported by the Windows adapter"},
      {"", nullptr, "Media codec is not supported by the Windows adapter"},
      {std::string("png-lsb1\0", 9), nullptr, "Media codec is not supported by the Windows adapter"},
      {"wav-4fsk1", nullptr, "Missing audio carrier metadata"},
      {"wav-4fsk1", &audio, "Expected bounded PCM WAV carrier"},
      {"frame-luma1", nullptr, "Frame dimensions are too small"},
      {"frame-luma2", &audio, "Frame dimensions are too small"},
      {"png-lsb1", &audio, ""},
  };
  for (const auto& c : cases) {
    Bytes out(3, 7);
    Failure decode_failure;
    const bool decoded = decoder_->decode(c.codec, png, c.audio, *crypto_, out, decode_failure);
    EXPECT_EQ(decoded, decode_failure.message.empty());
    EXPECT_EQ(decode_failure.message, c.message) << c.codec;
  }
}

}  // namespace
}  // namespace vesmara
