// The sink of in-memory reads: a private buffer of exactly the resource's
// length, wiped on abort and on release.
#ifndef VESMARA_RETRIEVAL_MEMORY_OUTPUT_H_
#define VESMARA_RETRIEVAL_MEMORY_OUTPUT_H_

#include <cstdint>
#include <span>

#include "base/secure_bytes.h"
#include "hosts/output_host.h"

namespace vesmara {

class PrivateMemoryOutput final : public OutputHost {
 public:
  // Reserves `expected_length` bytes at once, so the buffer never grows.
  explicit PrivateMemoryOutput(std::uint64_t expected_length);
  ~PrivateMemoryOutput() override;

  // Refused (and the sink failed for good) after a failure, after commit,
  // for null data with a length, and past the expected length.
  bool write(const std::uint8_t* data, std::uint64_t length) override;
  // Succeeds once, when exactly the expected length was written.
  bool commit() override;
  void abort() override;

  bool committed() const { return committed_; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  SecureBytes bytes_;
  std::uint64_t expected_length_;
  bool failed_ = false;
  bool committed_ = false;
};

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_MEMORY_OUTPUT_H_
