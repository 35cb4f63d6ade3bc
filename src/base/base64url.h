// Unpadded base64url (A-Z a-z 0-9 - _), the alphabet of key tokens.
#ifndef VESMARA_BASE_BASE64URL_H_
#define VESMARA_BASE_BASE64URL_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesmara {

// Strict decoding: no padding, no blanks, no character outside the alphabet,
// no dangling 6-bit group, and unused bits of the last character must be zero.
bool decodeBase64Url(std::string_view text, std::vector<std::uint8_t>& out);

std::string encodeBase64Url(std::span<const std::uint8_t> bytes);

}  // namespace vesmara

#endif  // VESMARA_BASE_BASE64URL_H_
