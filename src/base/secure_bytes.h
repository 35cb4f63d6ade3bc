// Byte buffers for secrets: keys, member plaintext, opened private indexes.
// Their storage is wiped before it goes back to the heap, on every path
// (destruction, reallocation while growing, exceptions), so a caller cannot
// forget to wipe a copy.
#ifndef VESMARA_BASE_SECURE_BYTES_H_
#define VESMARA_BASE_SECURE_BYTES_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/wipe.h"

namespace vesmara {

// std::allocator that zeroes every block it hands back. Stateless, so
// containers using it swap and move like ordinary ones.
template <typename T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }

  void deallocate(T* pointer, std::size_t count) noexcept {
    wipeBytes(pointer, count * sizeof(T));
    std::allocator<T>().deallocate(pointer, count);
  }

  template <typename U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

// A byte vector whose every released block is wiped. Converts implicitly to
// std::span<const std::uint8_t> like any contiguous container. Note that
// clear() and shrinking resize() keep the bytes in the capacity until the
// block is released; wipeAndClear() removes them at once.
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// Zeroes the whole capacity, then empties the vector.
inline void wipeAndClear(SecureBytes& bytes) {
  bytes.resize(bytes.capacity());
  wipeBytes(bytes.data(), bytes.size());
  bytes.clear();
}

// A 32-byte key (AES-256, and every other key of the library) that wipes
// itself when it goes out of scope. Copies are independent keys that wipe
// themselves too.
class SecretKey {
 public:
  static constexpr std::size_t kSize = 32;

  SecretKey() = default;
  explicit SecretKey(std::span<const std::uint8_t, kSize> bytes) { assign(bytes); }
  SecretKey(const SecretKey& other) = default;
  SecretKey& operator=(const SecretKey& other) = default;
  ~SecretKey() { wipe(); }

  void assign(std::span<const std::uint8_t, kSize> bytes) { std::copy(bytes.begin(), bytes.end(), bytes_.begin()); }
  void wipe() { wipeBytes(bytes_.data(), bytes_.size()); }

  std::span<const std::uint8_t, kSize> bytes() const { return bytes_; }
  // For filling in place (hex decoding, random generation).
  std::span<std::uint8_t, kSize> mutableBytes() { return bytes_; }

 private:
  std::array<std::uint8_t, kSize> bytes_{};
};

}  // namespace vesmara

#endif  // VESMARA_BASE_SECURE_BYTES_H_
