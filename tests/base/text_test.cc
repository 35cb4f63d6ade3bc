#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace vesmara {
namespace {

TEST(TextRule, Utf8SequencesAtTheirBoundaries) {
  const struct {
    std::string bytes;
    bool ok;
  } cases[] = {
      {"plain ascii", true},
      {std::string("a\0b", 3), true},  // 0 bytes are well-formed; the text rule refuses them separately
      {"\xC2\x80", true},
      {"\xDF\xBF", true},
      {"\xC0\x80", false},               // overlong
      {"\xC1\xBF", false},               // overlong
      {"\x80", false},                   // continuation byte as lead
      {"\xE0\xA0\x80", true},
      {"\xE0\x9F\xBF", false},           // overlong three-byte form
      {"\xED\x9F\xBF", true},            // U+D7FF
      {"\xED\xA0\x80", false},           // surrogate
      {"\xEF\xBF\xBF", true},
      {"\xF0\x90\x80\x80", true},        // U+10000
      {"\xF0\x8F\xBF\xBF", false},       // overlong four-byte form
      {"\xF4\x8F\xBF\xBF", true},        // U+10FFFF
      {"\xF4\x90\x80\x80", false},       // above U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {"\xE2\x82", false},               // cut off by the end
      {"abcdefgh\xE2\x82", false},       // cut off after a fast-path run
      {"\xE2\x28\xA1", false},           // bad continuation
      {"12345678\xC3\xA9" "12345678", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isWellFormedUtf8(c.bytes), c.ok) << testing::PrintToString(c.bytes);
  }
}

TEST(TextRule, LengthNullAndZeroBytes) {
  const std::string origin(2048, 'a');
  EXPECT_TRUE(passesTextRule(origin.data(), 2048, 2048));
  EXPECT_FALSE(passesTextRule(origin.data(), 2049, 2048));
  EXPECT_FALSE(passesTextRule(origin.data(), 0, 2048));
  EXPECT_FALSE(passesTextRule(nullptr, 0, 2048));
  EXPECT_FALSE(passesTextRule(nullptr, 3, 2048));
  EXPECT_FALSE(passesTextRule("a\0b", 3, 2048));
  EXPECT_TRUE(passesTextRule("\xF0\x90\x80\x80", 4, 4));
  EXPECT_FALSE(passesTextRule("\xF0\x90\x80\x80", 3, 4));
}

}  // namespace
}  // namespace vesmara
