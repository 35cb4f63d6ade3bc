// Unsigned decimal text, as documents and HTTP headers write numbers.
#ifndef VESMARA_BASE_DECIMAL_H_
#define VESMARA_BASE_DECIMAL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesmara {

// One or more digits 0-9 and nothing else, at most 2^64 - 1; leading zeros
// are allowed. Overflow is refused before it happens.
std::optional<std::uint64_t> parseUnsignedDecimal(std::string_view text);

// The shortest decimal form of `value` ("0" for zero).
std::string formatUnsignedDecimal(std::uint64_t value);

}  // namespace vesmara

#endif  // VESMARA_BASE_DECIMAL_H_
