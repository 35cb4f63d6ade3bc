#include "retrieval/memory_output.h"

#include <new>

namespace vesmara {

PrivateMemoryOutput::PrivateMemoryOutput(std::uint64_t expected_length) : expected_length_(expected_length) {
  bytes_.reserve(static_cast<std::size_t>(expected_length));
}

PrivateMemoryOutput::~PrivateMemoryOutput() {
  wipeAndClear(bytes_);
  failed_ = true;
}

bool PrivateMemoryOutput::write(const std::uint8_t* data, std::uint64_t length) {
  if (failed_ || committed_ || (data == nullptr && length != 0) || length > expected_length_ - bytes_.size()) {
    failed_ = true;
    return false;
  }
  if (length == 0) return true;
  try {
    bytes_.insert(bytes_.end(), data, data + length);
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return false;
  }
  return true;
}

bool PrivateMemoryOutput::commit() {
  if (failed_ || committed_ || bytes_.size() != expected_length_) return false;
  committed_ = true;
  return true;
}

void PrivateMemoryOutput::abort() {
  wipeAndClear(bytes_);
  failed_ = true;
}

}  // namespace vesmara
