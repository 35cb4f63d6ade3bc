#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "json/json.h"

namespace vesmara {
namespace {

JsonValue parse(const std::string& text) {
  JsonValue value;
  Failure failure;
  EXPECT_TRUE(parseJsonDocument(text, 1 << 20, value, failure)) << text << ": " << failure.message;
  return value;
}

TEST(JsonAccessors, ReadUnsignedAcceptsOnlyPlainDigitsWithin64Bits) {
  const struct {
    const char* text;
    bool ok;
    std::uint64_t value;
  } cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"18446744073709551615", true, 18446744073709551615ULL},
      {"18446744073709551616", false, 0},
      {"18446744073709551620", false, 0},
      {"99999999999999999999", false, 0},
      {"184467440737095516150", false, 0},
      {"-1", false, 0},
      {"-0", false, 0},
      {"1.0", false, 0},
      {"1e2", false, 0},
      {"\"7\"", false, 0},
      {"true", false, 0},
  };
  for (const auto& c : cases) {
    std::uint64_t out = 12345;
    EXPECT_EQ(readJsonUnsigned(parse(c.text), out), c.ok) << c.text;
    EXPECT_EQ(out, c.ok ? c.value : 12345u) << c.text;
  }
}

TEST(JsonAccessors, ReadFiniteDoubleIsCorrectlyRoundedAndRejectsOutOfRange) {
  const struct {
    const char* text;
    bool ok;
    double value;
  } cases[] = {
      {"0.5", true, 0.5},
      {"-0", true, -0.0},
      {"1E+2", true, 100.0},
      {"0.1", true, 0.1},
      {"2.2250738585072014e-308", true, 2.2250738585072014e-308},
      {"4.9406564584124654e-324", true, 4.9406564584124654e-324},
      {"1.7976931348623157e308", true, 1.7976931348623157e308},
      // Halfway between 1 and the next double: rounds to even.
      {"1.00000000000000011102230246251565404236316680908203125", true, 1.0},
      {"9007199254740993", true, 9007199254740992.0},
      {"1e400", false, 0},
      {"-1e400", false, 0},
      {"1.8e308", false, 0},
      {"1e-400", false, 0},
      {"\"1\"", false, 0},
  };
  for (const auto& c : cases) {
    double out = 99.0;
    ASSERT_EQ(readJsonFiniteDouble(parse(c.text), out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, c.value) << c.text;
      EXPECT_EQ(std::signbit(out), std::signbit(c.value)) << c.text;
    } else {
      EXPECT_EQ(out, 99.0) << c.text;
    }
  }
}

TEST(JsonAccessors, ReadFiniteDoubleIgnoresTheProcessLocale) {
  // A host process running with a decimal comma must still read "0.5".
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"}) {
    if ((chosen = std::setlocale(LC_NUMERIC, name)) != nullptr) break;
  }
  double out = 0;
  EXPECT_TRUE(readJsonFiniteDouble(parse("0.5"), out));
  EXPECT_EQ(out, 0.5);
  std::setlocale(LC_NUMERIC, "C");
}

TEST(JsonAccessors, MemberReaders) {
  const JsonValue object = parse("{\"n\":7,\"s\":\"text\",\"x\":1.5,\"t\":true}");
  std::uint64_t number = 0;
  EXPECT_TRUE(readRequiredUnsignedMember(object, "n", number));
  EXPECT_EQ(number, 7u);
  EXPECT_FALSE(readRequiredUnsignedMember(object, "missing", number));
  EXPECT_FALSE(readRequiredUnsignedMember(object, "x", number));
  EXPECT_FALSE(readRequiredUnsignedMember(parse("[7]"), "n", number));

  std::string text = "unchanged";
  EXPECT_TRUE(readOptionalStringMember(object, "missing", text));
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(readOptionalStringMember(object, "s", text));
  EXPECT_EQ(text, "text");
  EXPECT_FALSE(readOptionalStringMember(object, "t", text));
  EXPECT_FALSE(readJsonString(*object.findMember("n"), text));
}

}  // namespace
}  // namespace vesmara
