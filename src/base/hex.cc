#include "base/hex.h"

namespace vesmara {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

int lowerHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string encodeLowerHex(std::span<const std::uint8_t> bytes) {
  std::string text(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return text;
}

bool isLowerHex(std::string_view text, std::size_t length) {
  if (text.size() != length) return false;
  for (const char c : text) {
    if (lowerHexValue(c) < 0) return false;
  }
  return true;
}

bool decodeLowerHex(std::string_view text, std::span<std::uint8_t> out) {
  if (text.size() != out.size() * 2) return false;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int high = lowerHexValue(text[2 * i]);
    const int low = lowerHexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<std::uint8_t>((high << 4) | low);
  }
  return true;
}

}  // namespace vesmara
