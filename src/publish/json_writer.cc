#include "publish/json_writer.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "base/decimal.h"

namespace vesmara::publish {

void JsonWriter::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_in_level_.empty()) {
    if (!first_in_level_.back()) text_.push_back(',');
    first_in_level_.back() = false;
  }
}

JsonWriter& JsonWriter::beginObject() {
  separate();
  text_.push_back('{');
  first_in_level_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  text_.push_back('}');
  first_in_level_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  separate();
  text_.push_back('[');
  first_in_level_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  text_.push_back(']');
  first_in_level_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  string(name);
  text_.push_back(':');
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view value) {
  separate();
  static constexpr char kHex[] = "0123456789abcdef";
  text_.push_back('"');
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      text_.push_back('\\');
      text_.push_back(c);
    } else if (byte < 0x20) {
      text_ += "\\u00";
      text_.push_back(kHex[byte >> 4]);
      text_.push_back(kHex[byte & 0x0F]);
    } else {
      text_.push_back(c);
    }
  }
  text_.push_back('"');
  return *this;
}

JsonWriter& JsonWriter::number(std::uint64_t value) {
  separate();
  text_ += formatUnsignedDecimal(value);
  return *this;
}

JsonWriter& JsonWriter::number(double value) {
  if (!std::isfinite(value)) throw std::invalid_argument("JSON numbers must be finite");
  separate();
  char digits[32];
  // The shortest text that reads back to exactly this double.
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text_.append(digits, result.ptr);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  separate();
  text_ += value ? "true" : "false";
  return *this;
}

}  // namespace vesmara::publish
