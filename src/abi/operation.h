// Operations: one-shot cancellation tokens that bind a handle's transport
// for the duration of exactly one call.
#ifndef VESMARA_ABI_OPERATION_H_
#define VESMARA_ABI_OPERATION_H_

#include <cstdint>
#include <mutex>

#include "abi/conventions.h"
#include "hosts/http_host.h"

// Every field is guarded by the mutex; the three flags never return to false.
struct vkr_preview_operation {
  std::mutex mutex;
  vesmara::HttpHost* bound_transport = nullptr;
  bool started = false;
  bool finished = false;
  bool cancel_requested = false;
};

namespace vesmara::abi {

// Runs `call` (the plain export, returning a Status) under `operation` with
// `transport` bound: refused with 15 when the operation was used before,
// with 7 (without running the call) when it was cancelled before; otherwise
// the transport's flag is cleared before and after the call, and a cancel
// during the call reaches the transport. The mutex is never held while the
// call runs. A lock that fails ends the process rather than letting an
// exception cross the C interface.
template <typename Call>
Status runUnderOperation(vkr_preview_operation& operation, HttpHost& transport, Call&& call) noexcept {
  {
    const std::lock_guard<std::mutex> lock(operation.mutex);
    if (operation.started || operation.finished) return VKR_PREVIEW_WRONG_STATE;
    operation.started = true;
    if (operation.cancel_requested) {
      operation.finished = true;
      return VKR_PREVIEW_CANCELLED;
    }
    transport.resetCancel();
    operation.bound_transport = &transport;
  }
  const Status status = call();
  {
    const std::lock_guard<std::mutex> lock(operation.mutex);
    operation.bound_transport->resetCancel();
    operation.bound_transport = nullptr;
    operation.finished = true;
  }
  return status;
}

// The shape every `_operation` export shares: the handle is claimed (see
// callExclusive), `*out` (when given) is zeroed and the message emptied, a
// null handle or operation is an invalid argument, and `call(message)` —
// the plain export's body — runs under the operation with the handle's
// transport bound.
template <typename Handle, typename Call>
Status callUnderOperation(Handle* handle, vkr_preview_operation* operation, std::uint64_t* out, char* message,
                          std::uint64_t message_capacity, Call&& call) noexcept {
  return callExclusive(handle, [&] {
    if (out != nullptr) *out = 0;
    MessageBuffer buffer(message, message_capacity);
    if (handle == nullptr || operation == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    return runUnderOperation(*operation, handle->transport(), [&] { return call(buffer); });
  });
}

// Sets the operation's cancel request and cancels the transport bound to it, if any.
inline void cancelOperation(vkr_preview_operation& operation) noexcept {
  const std::lock_guard<std::mutex> lock(operation.mutex);
  operation.cancel_requested = true;
  if (operation.bound_transport != nullptr) operation.bound_transport->cancel();
}

}  // namespace vesmara::abi

#endif  // VESMARA_ABI_OPERATION_H_
