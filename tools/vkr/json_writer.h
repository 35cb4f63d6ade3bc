// Machine-readable output (--json): one JSON document, indented, its
// strings escaped so that any bytes give valid JSON.
//
//   JsonWriter json;
//   json.beginObject();
//   json.key("entry").string(path);
//   json.key("resources").number(count);
//   json.endObject();
//   std::fputs(json.text().c_str(), stdout);
#ifndef VESMARA_TOOLS_VKR_JSON_WRITER_H_
#define VESMARA_TOOLS_VKR_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesmara::vkr {

// `text` as a JSON string, quotes included. Text that is not well-formed
// UTF-8 has each byte of 0x80 and above replaced by U+FFFD.
std::string quoteJson(std::string_view text);

class JsonWriter {
 public:
  JsonWriter& beginObject() { return open('{'); }
  JsonWriter& endObject() { return close('}'); }
  JsonWriter& beginArray() { return open('['); }
  JsonWriter& endArray() { return close(']'); }
  // The name of the next member of an object.
  JsonWriter& key(std::string_view name);
  JsonWriter& string(std::string_view value);
  JsonWriter& number(std::uint64_t value);
  JsonWriter& boolean(bool value);
  JsonWriter& null();

  // The document so far, ending in a line feed once it is complete.
  std::string text() const { return nesting_.empty() ? text_ + "\n" : text_; }

 private:
  JsonWriter& open(char bracket);
  JsonWriter& close(char bracket);
  void startValue();
  void newLine();

  std::string text_;
  std::vector<bool> nesting_;  // per open bracket: whether it is still empty
  bool after_key_ = false;
};

}  // namespace vesmara::vkr

#endif  // VESMARA_TOOLS_VKR_JSON_WRITER_H_
