// Overwriting secrets before their memory is released.
#ifndef VESMARA_BASE_WIPE_H_
#define VESMARA_BASE_WIPE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace vesmara {

// Sets `size` bytes at `data` to zero in a way the compiler cannot drop as a
// dead store. Null with size 0 is allowed.
void wipeBytes(void* data, std::size_t size);

// Wipes the whole capacity (not just the size) of a container, then empties it.
void wipeString(std::string& text);

template <typename T>
void wipeVector(std::vector<T>& bytes) {
  static_assert(sizeof(T) == 1, "wipeVector is for byte vectors");
  bytes.resize(bytes.capacity());
  wipeBytes(bytes.data(), bytes.size());
  bytes.clear();
}

// Wipes a byte container's whole capacity when the scope ends, on every
// path out of it.
template <typename Bytes>
class WipedOnExit {
 public:
  explicit WipedOnExit(Bytes& bytes) : bytes_(bytes) {}
  ~WipedOnExit() {
    bytes_.resize(bytes_.capacity());
    wipeBytes(bytes_.data(), bytes_.size());
    bytes_.clear();
  }
  WipedOnExit(const WipedOnExit&) = delete;
  WipedOnExit& operator=(const WipedOnExit&) = delete;

 private:
  Bytes& bytes_;
};

}  // namespace vesmara

#endif  // VESMARA_BASE_WIPE_H_
