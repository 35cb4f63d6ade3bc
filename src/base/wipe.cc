#include "base/wipe.h"

#include <cstring>

namespace vesmara {
namespace {

// Calling memset through a volatile pointer keeps the compiler from proving
// the store dead and removing it, without any platform-specific call.
void* (*volatile const kMemset)(void*, int, std::size_t) = std::memset;

}  // namespace

void wipeBytes(void* data, std::size_t size) {
  if (size != 0) kMemset(data, 0, size);
}

void wipeString(std::string& text) {
  text.resize(text.capacity());
  wipeBytes(text.data(), text.size());
  text.clear();
}

}  // namespace vesmara
