#include "base/decimal.h"

#include <charconv>

namespace vesmara {

std::optional<std::uint64_t> parseUnsignedDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    // 18446744073709551615 = 1844674407370955161 * 10 + 5.
    if (value > 1844674407370955161ULL || (value == 1844674407370955161ULL && digit >= 6)) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::string formatUnsignedDecimal(std::uint64_t value) {
  char digits[20];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

}  // namespace vesmara
