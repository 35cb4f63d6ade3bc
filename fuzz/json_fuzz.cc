// The strict JSON reader on arbitrary bytes: it must never crash, and a
// document it accepts must be readable through every accessor.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "json/json.h"

namespace {

void walk(const vesmara::JsonValue& value, int depth) {
  std::uint64_t unsigned_value = 0;
  double double_value = 0;
  std::string text;
  (void)vesmara::readJsonUnsigned(value, unsigned_value);
  (void)vesmara::readJsonFiniteDouble(value, double_value);
  (void)vesmara::readJsonString(value, text);
  (void)value.text();
  if (depth > 40) __builtin_trap();  // the reader's nesting limit must hold
  for (const vesmara::JsonValue element : value.elements()) walk(element, depth + 1);
  std::string previous;
  bool first = true;
  for (const auto& [key, member] : value.members()) {
    if (!first && !(previous < key)) __builtin_trap();  // members strictly in byte order
    if (!value.findMember(key)) __builtin_trap();
    previous.assign(key);
    first = false;
    walk(member, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  vesmara::JsonValue value;
  vesmara::Failure failure;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (vesmara::parseJsonDocument(input, vesmara::kIndexJsonLimit, value, failure)) {
    if (!failure.message.empty()) __builtin_trap();
    walk(value, 0);
  } else if (failure.message.empty()) {
    __builtin_trap();
  }
  return 0;
}
