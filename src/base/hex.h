// Lowercase hexadecimal, the only hex the library reads or writes: digests,
// keys and temporary names. Upper-case digits are refused everywhere.
#ifndef VESMARA_BASE_HEX_H_
#define VESMARA_BASE_HEX_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vesmara {

// Two characters per byte from "0123456789abcdef", high nibble first.
std::string encodeLowerHex(std::span<const std::uint8_t> bytes);

// True when `text` is exactly `length` characters, each 0-9 or a-f.
bool isLowerHex(std::string_view text, std::size_t length);

// Decodes exactly 2 * out.size() lowercase hex characters into `out`.
// On failure `out` may hold partial output; callers treat it as unset.
bool decodeLowerHex(std::string_view text, std::span<std::uint8_t> out);

}  // namespace vesmara

#endif  // VESMARA_BASE_HEX_H_
