// Key files: a 32-byte key (a member content key, an encoding key, the key
// of a standalone recording) kept in a file as 64 lowercase hex digits and a
// line feed. A file of exactly 32 raw bytes is accepted as well.
#ifndef VESMARA_TOOLS_COMMON_KEY_FILE_H_
#define VESMARA_TOOLS_COMMON_KEY_FILE_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>

#ifdef _WIN32
#include <windows.h>
// Key bytes are wiped with explicit_bzero, a wipe the compiler may not drop;
// Windows calls it SecureZeroMemory.
inline void explicit_bzero(void* data, size_t length) { SecureZeroMemory(data, length); }
#endif

namespace vesmara::tools {

// A key that is zeroed when it goes out of scope.
class Key {
 public:
  static constexpr std::size_t kSize = 32;
  Key() = default;
  Key(const Key& other) = default;
  Key& operator=(const Key& other) = default;
  ~Key();

  std::span<const std::uint8_t, kSize> bytes() const { return bytes_; }
  std::span<std::uint8_t, kSize> mutableBytes() { return bytes_; }

 private:
  std::array<std::uint8_t, kSize> bytes_{};
};

// Reads the key in `path`; throws CommandError naming the file when it
// cannot be read or holds anything else than one key.
Key readKeyFile(const std::string& path);

// Parses the contents of a key file; false when they are not one key.
bool parseKeyFile(std::span<const std::uint8_t> contents, Key& key);

// The text of a key file for `key`.
std::string formatKeyFile(const Key& key);

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_KEY_FILE_H_
