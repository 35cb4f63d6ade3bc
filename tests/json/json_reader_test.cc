#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"

namespace vesmara {
namespace {

struct ParseCase {
  std::string input;
  const char* message;  // empty when the parse succeeds
};

std::string parseMessage(const std::string& input, std::uint64_t limit = kIndexJsonLimit) {
  JsonValue value;
  Failure failure{.message = "stale"};
  const bool ok = parseJsonDocument(input, limit, value, failure);
  EXPECT_EQ(ok, failure.message.empty()) << input;
  return failure.message;
}

std::string nested(int depth, const std::string& inner) {
  return std::string(static_cast<std::size_t>(depth), '[') + inner + std::string(static_cast<std::size_t>(depth), ']');
}

TEST(JsonReader, AcceptsAndRejectsWithExactMessages) {
  const std::vector<ParseCase> cases = {
      // Accepted documents.
      {" {} ", ""},
      {"\t[ ]\r\n", ""},
      {"-0", ""},
      {"0.5e-3", ""},
      {"1E+2", ""},
      {"\"\\t\"", ""},
      {"{\"a\":[true,false,null,{\"b\":\"\\u00e9\"}]}", ""},
      {nested(33, ""), ""},
      // Structure.
      {"", "Incomplete JSON value"},
      {"   ", "Incomplete JSON value"},
      {"[1,", "Incomplete JSON value"},
      {"truex", "Trailing JSON bytes"},
      {"{} {}", "Trailing JSON bytes"},
      {std::string("1\0", 2), "Trailing JSON bytes"},
      {std::string("[\0]", 3), "Invalid JSON value"},
      {"+1", "Invalid JSON value"},
      {"[1,]", "Invalid JSON value"},
      {"tru", "Invalid JSON value"},
      {nested(34, ""), "JSON nesting limit exceeded"},
      {nested(33, "1"), "JSON nesting limit exceeded"},
      {"[1 2]", "Expected array comma"},
      {"[1", "Expected array comma"},
      {"{\"a\" 1}", "Expected object colon"},
      {"{\"a\":1 \"b\":2}", "Expected object comma"},
      {"{\"a\":1", "Expected object comma"},
      {"{\"a\":1,}", "Expected JSON string"},
      {"{a:1}", "Expected JSON string"},
      // Duplicate keys, also through escapes and ahead of later faults.
      {"{\"a\":1,\"a\":2}", "Duplicate JSON key"},
      {"{\"a\":1,\"\\u0061\":2}", "Duplicate JSON key"},
      {"{\"a\":1,\"a\":2,\"b\":}", "Duplicate JSON key"},
      {"{\"a\":1,\"a\":2 x", "Duplicate JSON key"},
      {"{\"a\":{\"x\":1,\"x\":2},\"b\":[", "Duplicate JSON key"},
      {"{\"a\":1,\"a\":[1 2]}", "Expected array comma"},
      {"{\"a\":1,\"b\":{\"a\":2}}", ""},
      {"{\"a\":1,\"b\":{\"a\":2,}", "Expected JSON string"},
      // Strings.
      {"\"", "Unterminated JSON string"},
      {"\"abc", "Unterminated JSON string"},
      {"\"\\n", "Unterminated JSON string"},
      {"\"a\tb\"", "Control byte in JSON string"},
      {"\"\\", "Incomplete JSON escape"},
      {"\"\\x\"", "Invalid JSON escape"},
      {"\"\\u12\"", "Invalid Unicode escape"},
      {"\"\\u12g4\"", "Invalid Unicode escape"},
      {"\"\\ud83d\"", "Incomplete surrogate pair"},
      {"\"\\ud83dx\"", "Incomplete surrogate pair"},
      {"\"\\ud83d\\u0041\"", "Invalid surrogate pair"},
      {"\"\\ud83d\\u00\"", "Invalid surrogate pair"},
      {"\"\\ude00\"", "Unpaired surrogate"},
      // Numbers.
      {"-", "Invalid JSON number"},
      {"-a", "Invalid JSON number"},
      {"01", "Leading zero in number"},
      {"-01", "Leading zero in number"},
      {"1.", "Invalid decimal number"},
      {"1.e5", "Invalid decimal number"},
      {"1e", "Invalid exponent"},
      {"1e+", "Invalid exponent"},
      // UTF-8 is checked over the whole input first.
      {"\"\xC0\x80\"", "Invalid UTF-8"},
      {"\"\xED\xA0\x80\"", "Invalid UTF-8"},
      {"\"\xF4\x90\x80\x80\"", "Invalid UTF-8"},
      {"[1,2,\"\xE2\x82\"]", "Invalid UTF-8"},
      {"] \xFF", "Invalid UTF-8"},
      {"\"\xF0\x90\x80\x80\"", ""},
  };
  for (const ParseCase& c : cases) {
    EXPECT_EQ(parseMessage(c.input), c.message) << "input: " << c.input;
  }
}

TEST(JsonReader, SizeLimitComesBeforeEveryOtherCheck) {
  EXPECT_EQ(parseMessage("[1] ", 4), "");
  EXPECT_EQ(parseMessage("[1]  ", 4), "JSON size limit exceeded");
  EXPECT_EQ(parseMessage("\xFF\xFF\xFF", 2), "JSON size limit exceeded");
}

TEST(JsonReader, FailureLeavesOutputUntouched) {
  JsonValue value;
  Failure failure;
  ASSERT_TRUE(parseJsonDocument("[7]", 100, value, failure));
  EXPECT_FALSE(parseJsonDocument("[8", 100, value, failure));
  ASSERT_EQ(value.kind(), JsonKind::Array);
  EXPECT_EQ((*value.elements().begin()).text(), "7");
  EXPECT_TRUE(parseJsonDocument("null", 100, value, failure));
  EXPECT_TRUE(failure.message.empty());
  EXPECT_EQ(value.kind(), JsonKind::Null);
}

TEST(JsonReader, DecodesEscapesToBytes) {
  const struct {
    const char* input;
    std::string decoded;
  } cases[] = {
      {"\"\\ud83d\\ude00\"", "\xF0\x9F\x98\x80"},
      {"\"\\u0000\"", std::string(1, '\0')},
      {"\"a\\u00e9\\u20AC\"", "a\xC3\xA9\xE2\x82\xAC"},
      {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"},
      {"\"\xE2\x82\xAC\"", "\xE2\x82\xAC"},
  };
  for (const auto& c : cases) {
    JsonValue value;
    Failure failure;
    ASSERT_TRUE(parseJsonDocument(c.input, 100, value, failure)) << c.input << ": " << failure.message;
    EXPECT_EQ(value.kind(), JsonKind::String);
    EXPECT_EQ(value.text(), c.decoded) << c.input;
  }
}

TEST(JsonReader, KeepsNumberTextVerbatimAndMembersInByteOrder) {
  JsonValue value;
  Failure failure;
  const std::string doc = "{\"b\":-0.10e+05,\"a\":{},\"\xC3\xA9\":1,\"B\":true,\"ab\":[],\"\":null}";
  ASSERT_TRUE(parseJsonDocument(doc, 1000, value, failure)) << failure.message;
  std::vector<std::string> keys;
  for (const auto& [key, member] : value.members()) keys.emplace_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "B", "a", "ab", "b", "\xC3\xA9"}));
  EXPECT_EQ(value.findMember("b")->text(), "-0.10e+05");
  EXPECT_EQ(value.findMember("B")->text(), "true");
  EXPECT_EQ(value.findMember("a")->kind(), JsonKind::Object);
  EXPECT_EQ(value.findMember("")->kind(), JsonKind::Null);
  EXPECT_FALSE(value.findMember("c"));
  EXPECT_FALSE(value.findMember("a")->findMember("b"));
  EXPECT_EQ(value.size(), 6u);
}

TEST(JsonReader, WalksNestedArraysInDocumentOrder) {
  JsonValue value;
  Failure failure;
  ASSERT_TRUE(parseJsonDocument("[[1,[2,3]],{\"k\":[4]},5,[]]", 1000, value, failure));
  std::vector<JsonKind> kinds;
  for (const JsonValue element : value.elements()) kinds.push_back(element.kind());
  EXPECT_EQ(kinds, (std::vector<JsonKind>{JsonKind::Array, JsonKind::Object, JsonKind::Number, JsonKind::Array}));
  std::string numbers;
  for (const JsonValue element : value.elements()) {
    if (element.kind() == JsonKind::Number) numbers += element.text();
    for (const JsonValue inner : element.elements()) {
      numbers += inner.text();
      for (const JsonValue innermost : inner.elements()) numbers += innermost.text();
    }
    if (auto k = element.findMember("k")) {
      for (const JsonValue inner : k->elements()) numbers += inner.text();
    }
  }
  EXPECT_EQ(numbers, "12345");
}

TEST(JsonReader, CopiesOutliveTheOriginal) {
  JsonValue copy;
  {
    JsonValue value;
    Failure failure;
    ASSERT_TRUE(parseJsonDocument("{\"key\":\"secret\"}", 100, value, failure));
    copy = *value.findMember("key");
  }
  EXPECT_EQ(copy.text(), "secret");
}

}  // namespace
}  // namespace vesmara
