// What every export shares: the message buffer, the string getter, the
// failure-to-status translation and the exception boundary.
#ifndef VESMARA_ABI_CONVENTIONS_H_
#define VESMARA_ABI_CONVENTIONS_H_

#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "base/text.h"
#include "hosts/file_output.h"
#include "vkr_preview.h"

namespace vesmara::abi {

using Status = vkr_preview_status;

// Limits of the text arguments.
inline constexpr std::uint64_t kOriginLimit = 2048;
inline constexpr std::uint64_t kResourcePathLimit = 512;
inline constexpr std::uint64_t kDestinationLimit = 32767;
inline constexpr std::uint64_t kGameTextLimit = 128;

inline constexpr std::uint64_t kMemberKeyLength = 32;

// The caller's (message, message_capacity) pair. Constructing it empties the
// message, as every export does on entry.
class MessageBuffer {
 public:
  MessageBuffer(char* message, std::uint64_t capacity) : message_(message), capacity_(capacity) {
    if (message_ != nullptr && capacity_ != 0) message_[0] = '\0';
  }

  // False for a non-zero capacity with a null buffer (an invalid argument).
  bool usable() const { return !(capacity_ != 0 && message_ == nullptr); }

  // Copies as much of `text` as fits, always terminated; may cut inside a
  // UTF-8 sequence. Writes nothing when there is no room at all.
  void write(std::string_view text);

 private:
  char* message_;
  std::uint64_t capacity_;
};

// Member keys are absent (null, 0) or exactly 32 bytes.
inline bool isValidMemberKey(const std::uint8_t* key, std::uint64_t length) {
  return key == nullptr ? length == 0 : length == kMemberKeyLength;
}

inline bool isTextArgument(const char* text, std::uint64_t length, std::uint64_t limit) {
  return passesTextRule(text, length, limit);
}

// The last steps of the string getter protocol, after the export's own
// checks: reports the length, then copies when the buffer has room for the
// string and its terminator.
Status deliverString(std::string_view text, char* buffer, std::uint64_t capacity, std::uint64_t* out_length);

// The status for a FailureKind; None and unknown kinds are internal failures.
Status statusForKind(FailureKind kind);

// The status of a failed step in an export that works through a transport:
// cancelled whenever the transport says so, whatever the kind.
inline Status statusForFailure(FailureKind kind, bool transport_cancelled) {
  return transport_cancelled ? VKR_PREVIEW_CANCELLED : statusForKind(kind);
}

// The status of a file output that failed: 8 when the destination exists,
// 6 for every other output failure.
inline Status statusForOutputError(FileOutputError error) {
  return error == FileOutputError::TargetExists ? VKR_PREVIEW_TARGET_EXISTS : VKR_PREVIEW_OUTPUT_FAILURE;
}

// The status of a failed read into a file: cancelled when the transport
// says so, then the file output's own failure, then the step's kind.
inline Status statusForDownloadFailure(FailureKind kind, bool transport_cancelled, FileOutputError output_error) {
  if (transport_cancelled) return VKR_PREVIEW_CANCELLED;
  if (output_error != FileOutputError::None) return statusForOutputError(output_error);
  return statusForKind(kind);
}

// The caller's member key (32 bytes, or null), copied into a buffer that
// wipes itself on every path.
inline std::optional<SecretKey> copyMemberKey(const std::uint8_t* key) {
  if (key == nullptr) return std::nullopt;
  return SecretKey(std::span<const std::uint8_t, SecretKey::kSize>(key, SecretKey::kSize));
}

// Runs `work` (returning a Status) with every exception contained: an
// escaping exception writes `boundary` to the message and returns 4.
template <typename Work>
Status runContained(MessageBuffer& message, std::string_view boundary, Work&& work) noexcept {
  try {
    return work();
  } catch (...) {
    message.write(boundary);
    return VKR_PREVIEW_INTERNAL_FAILURE;
  }
}

// Runs `call` (returning a Status) with `handle` claimed. A handle that
// another call is using gives 15 at once, with neither the handle nor any
// argument touched; a null handle goes to `call` unclaimed, whose own checks
// refuse it.
template <typename Handle, typename Call>
Status callExclusive(Handle* handle, Call&& call) noexcept {
  if (handle == nullptr) return call();
  if (handle->busy.exchange(true, std::memory_order_acquire)) return VKR_PREVIEW_WRONG_STATE;
  const Status status = call();
  handle->busy.store(false, std::memory_order_release);
  return status;
}

}  // namespace vesmara::abi

#endif  // VESMARA_ABI_CONVENTIONS_H_
