// Reads of a loaded site: a resource into caller memory, or to a file.
#include <optional>
#include <string_view>

#include "abi/conventions.h"
#include "abi/handles.h"
#include "abi/operation.h"

using vesmara::abi::MessageBuffer;
using vesmara::abi::Status;

namespace {

const vesmara::SecretKey* keyPointer(const std::optional<vesmara::SecretKey>& key) { return key ? &*key : nullptr; }

Status readMemory(vkr_preview_site* site, const char* path, std::uint64_t path_length, const std::uint8_t* member_key,
                  std::uint64_t member_key_length, std::uint8_t* buffer, std::uint64_t capacity,
                  std::uint64_t* out_length, MessageBuffer& message) {
  if (out_length != nullptr) *out_length = 0;
  if (site == nullptr || out_length == nullptr ||
      !vesmara::abi::isTextArgument(path, path_length, vesmara::abi::kResourcePathLimit) ||
      (capacity != 0 && buffer == nullptr) || !message.usable() ||
      !vesmara::abi::isValidMemberKey(member_key, member_key_length)) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  const std::string_view resource_path(path, path_length);
  vesmara::Failure failure;
  const vesmara::Resource* resource = site->findForMemoryRead(resource_path, failure);
  if (resource == nullptr) {
    message.write(failure.message);
    return vesmara::abi::statusForKind(failure.kind);
  }
  *out_length = resource->length;
  if (buffer == nullptr && capacity == 0) return VKR_PREVIEW_OK;
  if (capacity < resource->length) return VKR_PREVIEW_BUFFER_TOO_SMALL;
  *out_length = 0;
  return vesmara::abi::runContained(message, "Native in-memory read failed", [&]() -> Status {
    const std::optional<vesmara::SecretKey> key = vesmara::abi::copyMemberKey(member_key);
    const std::span<std::uint8_t> destination(buffer, static_cast<std::size_t>(resource->length));
    if (!site->readIntoMemory(resource_path, keyPointer(key), destination, failure)) {
      message.write(failure.message);
      return vesmara::abi::statusForFailure(failure.kind, site->transport().isCancelled());
    }
    *out_length = resource->length;
    return VKR_PREVIEW_OK;
  });
}

Status download(vkr_preview_site* site, const char* path, std::uint64_t path_length, const std::uint8_t* member_key,
                std::uint64_t member_key_length, const char* destination, std::uint64_t destination_length,
                std::uint64_t* out_written, MessageBuffer& message) {
  if (out_written != nullptr) *out_written = 0;
  if (site == nullptr || out_written == nullptr ||
      !vesmara::abi::isTextArgument(path, path_length, vesmara::abi::kResourcePathLimit) ||
      !vesmara::abi::isTextArgument(destination, destination_length, vesmara::abi::kDestinationLimit) ||
      !message.usable() || !vesmara::abi::isValidMemberKey(member_key, member_key_length)) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  if (!site->loaded()) return VKR_PREVIEW_WRONG_STATE;
  return vesmara::abi::runContained(message, "Native resource download failed", [&]() -> Status {
    const std::optional<vesmara::SecretKey> key = vesmara::abi::copyMemberKey(member_key);
    vesmara::DownloadFailure failure;
    if (!site->download(std::string_view(path, path_length), keyPointer(key),
                        std::string_view(destination, destination_length), *out_written, failure)) {
      message.write(failure.failure.message);
      return vesmara::abi::statusForDownloadFailure(failure.failure.kind, site->transport().isCancelled(),
                                                    failure.output_error);
    }
    return VKR_PREVIEW_OK;
  });
}

}  // namespace

extern "C" {

VKR_PREVIEW_API Status vkr_preview_site_read_memory(vkr_preview_site* site, const char* path, uint64_t path_length,
                                                    const uint8_t* member_key, uint64_t member_key_length,
                                                    uint8_t* buffer, uint64_t capacity, uint64_t* out_length,
                                                    char* message, uint64_t message_capacity) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    MessageBuffer buffer_message(message, message_capacity);
    return readMemory(site, path, path_length, member_key, member_key_length, buffer, capacity, out_length,
                      buffer_message);
  });
}

VKR_PREVIEW_API Status vkr_preview_site_read_memory_operation(vkr_preview_site* site, vkr_preview_operation* operation,
                                                              const char* path, uint64_t path_length,
                                                              const uint8_t* member_key, uint64_t member_key_length,
                                                              uint8_t* buffer, uint64_t capacity, uint64_t* out_length,
                                                              char* message, uint64_t message_capacity) {
  return vesmara::abi::callUnderOperation(site, operation, out_length, message, message_capacity,
                                          [&](MessageBuffer& buffer_message) {
                                            return readMemory(site, path, path_length, member_key, member_key_length,
                                                              buffer, capacity, out_length, buffer_message);
                                          });
}

VKR_PREVIEW_API Status vkr_preview_site_download(vkr_preview_site* site, const char* path, uint64_t path_length,
                                                 const uint8_t* member_key, uint64_t member_key_length,
                                                 const char* destination, uint64_t destination_length,
                                                 uint64_t* out_written, char* message, uint64_t message_capacity) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    MessageBuffer buffer_message(message, message_capacity);
    return download(site, path, path_length, member_key, member_key_length, destination, destination_length,
                    out_written, buffer_message);
  });
}

VKR_PREVIEW_API Status vkr_preview_site_download_operation(vkr_preview_site* site, vkr_preview_operation* operation,
                                                           const char* path, uint64_t path_length,
                                                           const uint8_t* member_key, uint64_t member_key_length,
                                                           const char* destination, uint64_t destination_length,
                                                           uint64_t* out_written, char* message,
                                                           uint64_t message_capacity) {
  return vesmara::abi::callUnderOperation(
      site, operation, out_written, message, message_capacity, [&](MessageBuffer& buffer_message) {
        return download(site, path, path_length, member_key, member_key_length, destination, destination_length,
                        out_written, buffer_message);
      });
}

}  // extern "C"
