// The UTF-8 rules every text the library accepts must pass.
#ifndef VESMARA_BASE_TEXT_H_
#define VESMARA_BASE_TEXT_H_

#include <cstdint>
#include <string_view>

namespace vesmara {

// True when `bytes` is well-formed UTF-8 in the strict sense: no overlong
// forms, no surrogates, nothing above U+10FFFF, no sequence cut off by the
// end. Bytes below 0x80 are accepted, the 0 byte included.
bool isWellFormedUtf8(std::string_view bytes);

// The rule every text argument of the C interface passes: a non-null pointer,
// 1 to `limit` bytes, no 0 byte, well-formed UTF-8.
bool passesTextRule(const void* data, std::uint64_t length, std::uint64_t limit);

}  // namespace vesmara

#endif  // VESMARA_BASE_TEXT_H_
