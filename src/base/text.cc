#include "base/text.h"

#include <cstring>

namespace vesmara {
namespace {

// Length of the sequence a lead byte starts, or 0 when the byte cannot start one.
int sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The second byte's range narrows after four lead bytes; the ranges exclude
// overlong forms (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
bool secondByteFits(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xE0:
      return second >= 0xA0 && second <= 0xBF;
    case 0xED:
      return second >= 0x80 && second <= 0x9F;
    case 0xF0:
      return second >= 0x90 && second <= 0xBF;
    case 0xF4:
      return second >= 0x80 && second <= 0x8F;
    default:
      return second >= 0x80 && second <= 0xBF;
  }
}

}  // namespace

bool isWellFormedUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Runs of ASCII are the common case in documents; skip them eight at a time.
    while (n - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p + i, sizeof word);
      if (word & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i == n) break;
    const unsigned char lead = p[i];
    const int length = sequenceLength(lead);
    if (length == 0) return false;
    if (length == 1) {
      ++i;
      continue;
    }
    if (n - i < static_cast<std::size_t>(length)) return false;
    if (!secondByteFits(lead, p[i + 1])) return false;
    for (int k = 2; k < length; ++k) {
      if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
    }
    i += static_cast<std::size_t>(length);
  }
  return true;
}

bool passesTextRule(const void* data, std::uint64_t length, std::uint64_t limit) {
  if (data == nullptr || length == 0 || length > limit) return false;
  const std::string_view text(static_cast<const char*>(data), static_cast<std::size_t>(length));
  if (text.find('\0') != std::string_view::npos) return false;
  return isWellFormedUtf8(text);
}

}  // namespace vesmara
