// A small writer of compact JSON text for the documents the publisher
// produces. It writes exactly what the strict reader accepts: strings are
// escaped (quote, backslash and control bytes), numbers are written as plain
// unsigned digits or as the shortest text that reads back to the same double.
#ifndef VESMARA_PUBLISH_JSON_WRITER_H_
#define VESMARA_PUBLISH_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesmara::publish {

class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();

  // The key of the next member; the next value call writes its value.
  JsonWriter& key(std::string_view name);

  JsonWriter& string(std::string_view value);
  JsonWriter& number(std::uint64_t value);
  JsonWriter& number(double value);
  JsonWriter& boolean(bool value);

  // Convenience: key followed by value.
  JsonWriter& member(std::string_view name, std::string_view value) { return key(name).string(value); }
  JsonWriter& member(std::string_view name, const char* value) { return key(name).string(value); }
  JsonWriter& member(std::string_view name, std::uint64_t value) { return key(name).number(value); }
  JsonWriter& member(std::string_view name, double value) { return key(name).number(value); }

  const std::string& text() const { return text_; }
  std::string take() { return std::move(text_); }

 private:
  void separate();

  std::string text_;
  std::vector<bool> first_in_level_;  // one entry per open container
  bool after_key_ = false;
};

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_JSON_WRITER_H_
