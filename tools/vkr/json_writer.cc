#include "vkr/json_writer.h"

#include <cstdio>

#include "base/text.h"

namespace vesmara::vkr {

std::string quoteJson(std::string_view text) {
  const bool well_formed = isWellFormedUtf8(text);
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else if (byte >= 0x80 && !well_formed) {
      quoted += "\\ufffd";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

JsonWriter& JsonWriter::key(std::string_view name) {
  startValue();
  text_ += quoteJson(name) + ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view value) {
  startValue();
  text_ += quoteJson(value);
  return *this;
}

JsonWriter& JsonWriter::number(std::uint64_t value) {
  startValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  startValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  startValue();
  text_ += "null";
  return *this;
}

JsonWriter& JsonWriter::open(char bracket) {
  startValue();
  text_ += bracket;
  nesting_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
  const bool empty = nesting_.back();
  nesting_.pop_back();
  if (!empty) newLine();
  text_ += bracket;
  return *this;
}

// A value after a key follows it on its line; any other value inside a
// bracket starts a line of its own, after a comma unless it is the first.
void JsonWriter::startValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (nesting_.empty()) return;
  if (!nesting_.back()) text_ += ',';
  nesting_.back() = false;
  newLine();
}

void JsonWriter::newLine() { text_ += "\n" + std::string(2 * nesting_.size(), ' '); }

}  // namespace vesmara::vkr
