// Failure reporting shared by every internal step.
//
// A fallible step returns a bool and, when it returns false, leaves a fixed
// English message and a FailureKind in the caller's Failure. Only the exports
// translate a kind into a status (src/abi/conventions.h).
#ifndef VESMARA_BASE_FAILURE_H_
#define VESMARA_BASE_FAILURE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vesmara {

// The numbers are part of the interface contract: kinds outside 1 to 12
// (including None) translate to the internal-failure status.
enum class FailureKind : std::uint32_t {
  None = 0,
  Internal = 1,
  InvalidData = 2,
  Authentication = 3,
  Integrity = 4,
  Transport = 5,
  Output = 6,
  Unsupported = 7,
  Cancelled = 8,
  Provider = 9,
  NotFound = 10,
  WrongState = 11,
  RollbackRefused = 12,
};

struct Failure {
  std::string message;
  FailureKind kind = FailureKind::None;

  // Records a failure and returns false, so a step can end with
  // `return failure.fail(FailureKind::InvalidData, "...");`.
  bool fail(FailureKind failure_kind, std::string_view text) {
    kind = failure_kind;
    message.assign(text);
    return false;
  }

  void clear() {
    kind = FailureKind::None;
    message.clear();
  }
};

}  // namespace vesmara

#endif  // VESMARA_BASE_FAILURE_H_
