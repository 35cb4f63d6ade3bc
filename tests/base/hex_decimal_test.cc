#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "base/hex.h"

namespace vesmara {
namespace {

TEST(Hex, EncodesLowercaseAndRefusesUppercase) {
  const std::vector<std::uint8_t> bytes = {0x00, 0x9f, 0xA0, 0xff};
  EXPECT_EQ(encodeLowerHex(bytes), "009fa0ff");
  EXPECT_EQ(encodeLowerHex({}), "");

  std::array<std::uint8_t, 4> out{};
  EXPECT_TRUE(decodeLowerHex("009fa0ff", out));
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), bytes);
  EXPECT_FALSE(decodeLowerHex("009FA0FF", out));
  EXPECT_FALSE(decodeLowerHex("009fa0f", out));
  EXPECT_FALSE(decodeLowerHex("009fa0ff00", out));
  EXPECT_FALSE(decodeLowerHex("009fa0fg", out));

  EXPECT_TRUE(isLowerHex("0123456789abcdef", 16));
  EXPECT_FALSE(isLowerHex("0123456789abcdeF", 16));
  EXPECT_FALSE(isLowerHex("0123", 3));
}

TEST(Decimal, ParsesUnsignedWithLeadingZerosUpTo64Bits) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> value;
  } cases[] = {
      {"0", 0},
      {"007", 7},
      {"18446744073709551615", 18446744073709551615ULL},
      {"000018446744073709551615", 18446744073709551615ULL},
      {"18446744073709551616", std::nullopt},
      {"", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"*", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseUnsignedDecimal(c.text), c.value) << c.text;
  EXPECT_EQ(formatUnsignedDecimal(0), "0");
  EXPECT_EQ(formatUnsignedDecimal(18446744073709551615ULL), "18446744073709551615");
}

}  // namespace
}  // namespace vesmara

#include "base/base64url.h"

namespace vesmara {
namespace {

TEST(Base64Url, RoundTripsEveryLengthAndRefusesLooseForms) {
  std::vector<std::uint8_t> bytes;
  for (int length = 0; length < 40; ++length) {
    const std::string text = encodeBase64Url(bytes);
    EXPECT_EQ(text.size(), (bytes.size() * 4 + 2) / 3);
    std::vector<std::uint8_t> decoded = {9};
    ASSERT_TRUE(decodeBase64Url(text, decoded)) << text;
    EXPECT_EQ(decoded, bytes);
    bytes.push_back(static_cast<std::uint8_t>(length * 37 + 250));
  }
  const std::vector<std::uint8_t> hello = {'h', 'i', '?', 0xFB, 0xFF};
  EXPECT_EQ(encodeBase64Url(hello), "aGk_-_8");

  std::vector<std::uint8_t> out;
  for (const char* bad : {"aGk_-_8=", "aGk/", "aGk+", "aGk ", "a", "aGk_-_9", "AB", "aGk\n"}) {
    EXPECT_FALSE(decodeBase64Url(bad, out)) << bad;
  }
  EXPECT_TRUE(decodeBase64Url("AA", out));  // one zero byte, no leftover bits set
  EXPECT_EQ(out, std::vector<std::uint8_t>{0});
}

}  // namespace
}  // namespace vesmara
