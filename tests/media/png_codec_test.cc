// The PNG decoding the carriers stand on: every PNG layout must reach them
// as the 8-bit RGBA samples stored, and the decoder's failures must map onto
// the carriers' messages.
#include "hosts/png_codec.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>

#include "base/byte_writer.h"
#include "hosts/platform.h"
#include "media/media_test_support.h"
#include "media/png_carrier.h"
#include "support/wine.h"

namespace vesmara {
namespace {

using test::Bytes;

std::uint32_t crc32Of(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// `png` with a chunk inserted right after IHDR (which ends at byte 33).
Bytes withChunk(const Bytes& png, std::string_view type, const Bytes& data) {
  Bytes chunk;
  ByteWriter writer(chunk);
  writer.writeU32BigEndian(static_cast<std::uint32_t>(data.size()));
  writer.writeText(type);
  writer.writeBytes(data);
  writer.writeU32BigEndian(crc32Of(std::span(chunk).subspan(4)));
  Bytes out;
  ByteWriter joined(out);
  joined.writeBytes(std::span(png).first(33));
  joined.writeBytes(chunk);
  joined.writeBytes(std::span(png).subspan(33));
  return out;
}

Bytes encoded(const PngEncoding& encoding, const Bytes& samples) {
  Bytes png;
  EXPECT_TRUE(encodePng(encoding, samples, png));
  return png;
}

// Decodes through the carriers' bounded step; returns the decode_failure.message.
std::string decode(const Bytes& png, Bytes& rgba) {
  RgbaImage image;
  Failure decode_failure;
  rgba.clear();
  if (decodePngCarrier(png, *defaultPlatform().makePngDecoder(), image, decode_failure)) rgba = image.pixels;
  return decode_failure.message;
}

TEST(PngCodecTest, EveryLayoutDecodesToStoredEightBitRgba) {
  const struct {
    const char* name;
    PngEncoding encoding;
    Bytes samples;
    Bytes rgba;
  } cases[] = {
      {"RGBA 8", {.width = 2, .height = 1}, {1, 2, 3, 4, 250, 251, 252, 255}, {1, 2, 3, 4, 250, 251, 252, 255}},
      {"RGB 8",
       {.width = 1, .height = 2, .colour_type = PngColourType::Rgb},
       {7, 8, 9, 10, 11, 12},
       {7, 8, 9, 255, 10, 11, 12, 255}},
      {"RGB 16 keeps the high byte",
       {.width = 1, .height = 1, .colour_type = PngColourType::Rgb, .bit_depth = 16},
       {0x12, 0xFF, 0x34, 0x80, 0x56, 0x7F},
       {0x12, 0x34, 0x56, 255}},
      {"RGBA 16", {.width = 1, .height = 1, .bit_depth = 16}, {1, 0xFF, 2, 0, 3, 0x99, 0xFE, 0xFF}, {1, 2, 3, 0xFE}},
      {"grey 1 widened",
       {.width = 8, .height = 1, .colour_type = PngColourType::Grey, .bit_depth = 1},
       {0b10100000},
       {255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255,
        0,   0,   0,   255, 0, 0, 0, 255, 0,   0,   0,   255, 0, 0, 0, 255}},
      {"grey 2 widened",
       {.width = 4, .height = 1, .colour_type = PngColourType::Grey, .bit_depth = 2},
       {0b00011011},
       {0, 0, 0, 255, 85, 85, 85, 255, 170, 170, 170, 255, 255, 255, 255, 255}},
      {"grey 4 widened",
       {.width = 2, .height = 1, .colour_type = PngColourType::Grey, .bit_depth = 4},
       {0x1E},
       {17, 17, 17, 255, 238, 238, 238, 255}},
      {"grey 8 with tRNS",
       {.width = 2, .height = 1, .colour_type = PngColourType::Grey, .transparency = {0, 9}},
       {9, 10},
       {9, 9, 9, 0, 10, 10, 10, 255}},
      {"grey-alpha 16",
       {.width = 1, .height = 1, .colour_type = PngColourType::GreyAlpha, .bit_depth = 16},
       {0xAB, 0x01, 0x7F, 0xFF},
       {0xAB, 0xAB, 0xAB, 0x7F}},
      {"RGB with tRNS",
       {.width = 2, .height = 1, .colour_type = PngColourType::Rgb, .transparency = {0, 1, 0, 2, 0, 3}},
       {1, 2, 3, 1, 2, 4},
       {1, 2, 3, 0, 1, 2, 4, 255}},
      {"palette with tRNS",
       {.width = 3,
        .height = 1,
        .colour_type = PngColourType::Palette,
        .palette = {10, 20, 30, 40, 50, 60, 70, 80, 90},
        .transparency = {128, 0}},
       {0, 1, 2},
       {10, 20, 30, 128, 40, 50, 60, 0, 70, 80, 90, 255}},
  };
  for (const auto& c : cases) {
    Bytes rgba;
    EXPECT_EQ(decode(encoded(c.encoding, c.samples), rgba), "") << c.name;
    EXPECT_EQ(rgba, c.rgba) << c.name;
  }
}

TEST(PngCodecTest, NoGammaOrColourCorrection) {
  const Bytes samples = {1, 2, 3, 101, 102, 103};
  const Bytes png = encoded({.width = 2, .height = 1, .colour_type = PngColourType::Rgb}, samples);
  Bytes rgba;
  const Bytes gamma = {0, 0, 0x3A, 0x98};  // 0.15
  EXPECT_EQ(decode(withChunk(png, "gAMA", gamma), rgba), "");
  EXPECT_EQ(rgba, (Bytes{1, 2, 3, 255, 101, 102, 103, 255}));
  EXPECT_EQ(decode(withChunk(png, "sRGB", {0}), rgba), "");
  EXPECT_EQ(rgba, (Bytes{1, 2, 3, 255, 101, 102, 103, 255}));
}

TEST(PngCodecTest, FailuresMapOntoCarrierMessages) {
  const Bytes png = encoded({.width = 4, .height = 4}, Bytes(64, 200));
  Bytes truncated(png.begin(), png.end() - 20);
  Bytes corrupt = png;
  corrupt[45] ^= 0xFF;  // inside the image data
  Bytes bad_crc = png;
  bad_crc[29] ^= 1;  // the header chunk's CRC
  Bytes wide_header = png;
  wide_header[16] = 0x80;  // a width the PNG format does not allow
  const struct {
    const char* name;
    Bytes png;
    const char* message;
  } cases[] = {
      {"32 bytes", Bytes(png.begin(), png.begin() + 32), "Expected a bounded PNG carrier"},
      {"33 bytes pass the size test", Bytes(png.begin(), png.begin() + 33), "PNG decode failed"},
      {"bad signature",
       [&] {
         Bytes b = png;
         b[1] = 'p';
         return b;
       }(),
       "Expected a bounded PNG carrier"},
      {"no IHDR first",
       [&] {
         Bytes b = png;
         b[12] = 'i';
         return b;
       }(),
       "Expected a bounded PNG carrier"},
      {"zero width",
       [&] {
         Bytes b = png;
         b[19] = 0;
         return b;
       }(),
       "PNG pixel count exceeds limit"},
      {"4097 x 4097",
       [&] {
         Bytes b = png;
         b[18] = b[22] = 0x10;
         b[19] = b[23] = 1;
         return b;
       }(),
       "PNG pixel count exceeds limit"},
      {"header CRC", bad_crc, "PNG decode failed"},
      {"width out of range",
       [&] {
         Bytes b = wide_header;
         b[20] = b[21] = b[22] = 0;
         b[23] = 0;
         return b;
       }(),
       "PNG pixel count exceeds limit"},
      {"animated", withChunk(png, "acTL", {0, 0, 0, 2, 0, 0, 0, 0}), "PNG frame count is invalid"},
      {"truncated data", truncated, "PNG pixel copy failed"},
      {"corrupt data", corrupt, "PNG pixel copy failed"},
  };
  // Wine's imaging component ignores the header chunk's CRC and decodes the
  // image data while it opens the file.
  const std::map<std::string_view, std::string_view> under_wine = {
      {"header CRC", ""}, {"truncated data", "PNG decode failed"}, {"corrupt data", "PNG decode failed"}};
  for (const auto& c : cases) {
    Bytes rgba;
    const auto differs = under_wine.find(c.name);
    if (test::runningUnderWine() && differs != under_wine.end()) {
      EXPECT_EQ(decode(c.png, rgba), differs->second) << c.name;
      continue;
    }
    EXPECT_EQ(decode(c.png, rgba), c.message) << c.name;
  }
}

TEST(PngCodecTest, WidestImageWithinThePixelBoundDecodes) {
  if (test::runningUnderWine()) {
    GTEST_SKIP() << "Wine's imaging component needs minutes to convert a row of 16,777,216 pixels";
  }
  const Bytes wide = encoded({.width = 16777216, .height = 1, .colour_type = PngColourType::Grey, .bit_depth = 1},
                             Bytes(2097152, 0xFF));
  Bytes rgba;
  EXPECT_EQ(decode(wide, rgba), "");
  EXPECT_EQ(rgba.size(), 67108864u);
  EXPECT_EQ(rgba[67108863], 255);
  Bytes wider = wide;
  wider[19] = 1;  // 16,777,217 pixels
  EXPECT_EQ(decode(wider, rgba), "PNG pixel count exceeds limit");
}

}  // namespace
}  // namespace vesmara
