#include "base/base64url.h"

#include "base/wipe.h"

namespace vesmara {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int sextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

}  // namespace

bool decodeBase64Url(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() % 4 == 1) return false;  // a lone 6-bit group makes no byte
  // Tokens carry keys: what was decoded before a fault must not reach the heap unwiped.
  std::vector<std::uint8_t> bytes;
  const WipedOnExit<std::vector<std::uint8_t>> wipe_bytes(bytes);
  bytes.reserve(text.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const int sextet = sextetOf(c);
    if (sextet < 0) return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(sextet);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<std::uint8_t>(bits >> count));
      bits &= (1u << count) - 1;
    }
  }
  if (bits != 0) return false;  // the unused low bits of the last character
  out = std::move(bytes);
  return true;
}

std::string encodeBase64Url(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() * 4 + 2) / 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (const std::uint8_t byte : bytes) {
    bits = (bits << 8) | byte;
    count += 8;
    while (count >= 6) {
      count -= 6;
      text.push_back(kAlphabet[(bits >> count) & 0x3F]);
    }
    bits &= (1u << count) - 1;
  }
  if (count > 0) text.push_back(kAlphabet[(bits << (6 - count)) & 0x3F]);
  return text;
}

}  // namespace vesmara
