#include "abi/conventions.h"

#include <algorithm>
#include <cstring>

namespace vesmara::abi {

void MessageBuffer::write(std::string_view text) {
  if (message_ == nullptr || capacity_ == 0) return;
  const std::uint64_t room = capacity_ - 1;
  const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(text.size(), room));
  if (count != 0) std::memcpy(message_, text.data(), count);
  message_[count] = '\0';
}

Status deliverString(std::string_view text, char* buffer, std::uint64_t capacity, std::uint64_t* out_length) {
  *out_length = text.size();
  if (buffer == nullptr && capacity == 0) return VKR_PREVIEW_OK;
  if (capacity <= text.size()) return VKR_PREVIEW_BUFFER_TOO_SMALL;
  if (!text.empty()) std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return VKR_PREVIEW_OK;
}

Status statusForKind(FailureKind kind) {
  switch (kind) {
    case FailureKind::InvalidData:
      return VKR_PREVIEW_INVALID_DATA;
    case FailureKind::Authentication:
      return VKR_PREVIEW_AUTHENTICATION_FAILED;
    case FailureKind::Integrity:
      return VKR_PREVIEW_INTEGRITY_FAILURE;
    case FailureKind::Transport:
      return VKR_PREVIEW_TRANSPORT_FAILURE;
    case FailureKind::Output:
      return VKR_PREVIEW_OUTPUT_FAILURE;
    case FailureKind::Unsupported:
      return VKR_PREVIEW_UNSUPPORTED;
    case FailureKind::Cancelled:
      return VKR_PREVIEW_CANCELLED;
    case FailureKind::NotFound:
      return VKR_PREVIEW_NOT_FOUND;
    case FailureKind::WrongState:
      return VKR_PREVIEW_WRONG_STATE;
    case FailureKind::RollbackRefused:
      return VKR_PREVIEW_ROLLBACK_REFUSED;
    case FailureKind::Internal:
    case FailureKind::Provider:
    case FailureKind::None:
      break;
  }
  return VKR_PREVIEW_INTERNAL_FAILURE;
}

}  // namespace vesmara::abi
