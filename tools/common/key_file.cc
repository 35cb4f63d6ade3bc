#include "common/key_file.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "common/command_error.h"
#include "common/files.h"

namespace vesmara::tools {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

int digitValue(std::uint8_t c) {
  const char* found = std::find(kDigits, kDigits + 16, static_cast<char>(c));
  return found == kDigits + 16 ? -1 : static_cast<int>(found - kDigits);
}

}  // namespace

Key::~Key() { explicit_bzero(bytes_.data(), bytes_.size()); }

bool parseKeyFile(std::span<const std::uint8_t> contents, Key& key) {
  if (contents.size() == Key::kSize) {
    std::copy(contents.begin(), contents.end(), key.mutableBytes().begin());
    return true;
  }
  // Hex digits, then at most one line ending.
  std::span<const std::uint8_t> text = contents;
  if (!text.empty() && text.back() == '\n') text = text.first(text.size() - 1);
  if (!text.empty() && text.back() == '\r') text = text.first(text.size() - 1);
  if (text.size() != 2 * Key::kSize) return false;
  for (std::size_t i = 0; i < Key::kSize; ++i) {
    const int high = digitValue(text[2 * i]);
    const int low = digitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    key.mutableBytes()[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

Key readKeyFile(const std::string& path) {
  std::vector<std::uint8_t> contents = readFile(path, 1024);
  Key key;
  const bool parsed = parseKeyFile(contents, key);
  explicit_bzero(contents.data(), contents.size());
  if (!parsed) fail("key file " + path + " must hold a 32-byte key: 64 lowercase hex digits (or 32 raw bytes)");
  return key;
}

std::string formatKeyFile(const Key& key) {
  std::string text;
  for (const std::uint8_t byte : key.bytes()) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text + "\n";
}

}  // namespace vesmara::tools
