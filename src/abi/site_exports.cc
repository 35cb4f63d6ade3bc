// The site family: prepare, load, open, query, release.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "abi/conventions.h"
#include "abi/handles.h"
#include "abi/operation.h"
#include "hosts/callback_http_host.h"
#include "hosts/platform.h"
#include "index/carrier_format.h"
#include "index/external_index.h"

using vesmara::abi::MessageBuffer;
using vesmara::abi::Status;

namespace {

using vesmara::carrier::kMaxExternalInput;

constexpr std::string_view kPrepareBoundary = "Native site preparation failed";
constexpr std::string_view kCallbackBoundary = "Caller transport preparation failed";
constexpr std::string_view kLoadBoundary = "Native site open failed";

std::unique_ptr<vkr_preview_site> makeSite(std::unique_ptr<vesmara::HttpHost> transport) {
  return std::make_unique<vkr_preview_site>(vesmara::defaultPlatform(), std::move(transport));
}

Status prepareSite(const char* origin, std::uint64_t origin_length, vkr_preview_site** out_site,
                   MessageBuffer& message) {
  if (out_site == nullptr || !vesmara::abi::isTextArgument(origin, origin_length, vesmara::abi::kOriginLimit) ||
      !message.usable()) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  return vesmara::abi::runContained(message, kPrepareBoundary, [&]() -> Status {
    std::string refusal;
    auto transport = vesmara::defaultPlatform().makeHttpHost(std::string_view(origin, origin_length), refusal);
    if (transport == nullptr) {
      message.write(refusal);
      return VKR_PREVIEW_INVALID_ARGUMENT;
    }
    *out_site = makeSite(std::move(transport)).release();
    return VKR_PREVIEW_OK;
  });
}

// A view of the external key material when it passes the argument rule.
std::optional<std::span<const std::uint8_t>> externalInput(const std::uint8_t* external, std::uint64_t length) {
  if (external == nullptr || length < 1 || length > kMaxExternalInput) return std::nullopt;
  return std::span<const std::uint8_t>(external, static_cast<std::size_t>(length));
}

// Loads the index once: hosted when `external` is empty, external otherwise.
Status loadSite(vkr_preview_site& site, std::optional<std::span<const std::uint8_t>> external, MessageBuffer& message) {
  if (site.loadStarted()) return VKR_PREVIEW_WRONG_STATE;
  return vesmara::abi::runContained(message, kLoadBoundary, [&]() -> Status {
    vesmara::Failure failure;
    if (site.load(external, failure)) return VKR_PREVIEW_OK;
    message.write(failure.message);
    return vesmara::abi::statusForFailure(failure.kind, site.transport().isCancelled());
  });
}

Status loadHosted(vkr_preview_site* site, MessageBuffer& message) {
  if (site == nullptr || !message.usable()) return VKR_PREVIEW_INVALID_ARGUMENT;
  return loadSite(*site, std::nullopt, message);
}

Status loadExternal(vkr_preview_site* site, const std::uint8_t* external, std::uint64_t external_length,
                    MessageBuffer& message) {
  if (site == nullptr || !message.usable()) return VKR_PREVIEW_INVALID_ARGUMENT;
  const auto input = externalInput(external, external_length);
  if (!input) return VKR_PREVIEW_INVALID_ARGUMENT;
  return loadSite(*site, input, message);
}

// Prepare and load in one call; nothing is left behind on failure.
template <typename Load>
Status openSite(const char* origin, std::uint64_t origin_length, vkr_preview_site** out_site, char* message,
                std::uint64_t message_capacity, Load&& load) {
  if (out_site == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
  *out_site = nullptr;
  MessageBuffer buffer(message, message_capacity);
  vkr_preview_site* prepared = nullptr;
  Status status = prepareSite(origin, origin_length, &prepared, buffer);
  if (status != VKR_PREVIEW_OK) return status;
  std::unique_ptr<vkr_preview_site> site(prepared);
  status = load(*site, buffer);
  if (status == VKR_PREVIEW_OK) *out_site = site.release();
  return status;
}

const vesmara::Resource* resourceAt(const vkr_preview_site& site, std::uint64_t index) {
  const auto& resources = site.index().resources;
  return index < resources.size() ? &resources[index] : nullptr;
}

// The checks every resource string getter shares, in their order.
Status checkResourceGetter(vkr_preview_site* site, std::uint64_t index, char* buffer, std::uint64_t capacity,
                           std::uint64_t* out_length, const vesmara::Resource*& resource) {
  if (out_length != nullptr) *out_length = 0;
  if (site == nullptr || out_length == nullptr || (capacity != 0 && buffer == nullptr)) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  if (!site->loaded()) return VKR_PREVIEW_WRONG_STATE;
  resource = resourceAt(*site, index);
  return resource == nullptr ? VKR_PREVIEW_INVALID_ARGUMENT : VKR_PREVIEW_OK;
}

// The checks of the index-wide string getters, in their order.
Status deliverIndexString(vkr_preview_site* site, char* buffer, std::uint64_t capacity, std::uint64_t* out_length,
                          const std::string vesmara::SiteIndex::*field) {
  if (out_length != nullptr) *out_length = 0;
  if (site == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
  if (!site->loaded()) return VKR_PREVIEW_WRONG_STATE;
  if (out_length == nullptr || (capacity != 0 && buffer == nullptr)) return VKR_PREVIEW_INVALID_ARGUMENT;
  return vesmara::abi::deliverString(site->index().*field, buffer, capacity, out_length);
}

}  // namespace

extern "C" {

VKR_PREVIEW_API Status vkr_preview_site_prepare(const char* origin, uint64_t origin_length, vkr_preview_site** out_site,
                                                char* message, uint64_t message_capacity) {
  if (out_site != nullptr) *out_site = nullptr;
  MessageBuffer buffer(message, message_capacity);
  return prepareSite(origin, origin_length, out_site, buffer);
}

VKR_PREVIEW_API Status vkr_preview_site_prepare_callback(const char* origin, uint64_t origin_length,
                                                         vkr_preview_http_callback callback, void* user_data,
                                                         vkr_preview_site** out_site, char* message,
                                                         uint64_t message_capacity) {
  if (out_site != nullptr) *out_site = nullptr;
  MessageBuffer buffer(message, message_capacity);
  if (out_site == nullptr || callback == nullptr ||
      !vesmara::abi::isTextArgument(origin, origin_length, vesmara::abi::kOriginLimit) || !buffer.usable()) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  return vesmara::abi::runContained(buffer, kCallbackBoundary, [&]() -> Status {
    std::string refusal;
    auto transport =
        vesmara::makeCallbackHttpHost(std::string_view(origin, origin_length), callback, user_data, refusal);
    if (transport == nullptr) {
      buffer.write(refusal);
      return VKR_PREVIEW_INVALID_ARGUMENT;
    }
    *out_site = makeSite(std::move(transport)).release();
    return VKR_PREVIEW_OK;
  });
}

VKR_PREVIEW_API Status vkr_preview_site_open_hosted(const char* origin, uint64_t origin_length,
                                                    vkr_preview_site** out_site, char* message,
                                                    uint64_t message_capacity) {
  return openSite(origin, origin_length, out_site, message, message_capacity,
                  [](vkr_preview_site& site, MessageBuffer& buffer) { return loadHosted(&site, buffer); });
}

VKR_PREVIEW_API Status vkr_preview_site_open_external(const char* origin, uint64_t origin_length,
                                                      const uint8_t* external, uint64_t external_length,
                                                      vkr_preview_site** out_site, char* message,
                                                      uint64_t message_capacity) {
  return openSite(origin, origin_length, out_site, message, message_capacity,
                  [&](vkr_preview_site& site, MessageBuffer& buffer) {
                    return loadExternal(&site, external, external_length, buffer);
                  });
}

VKR_PREVIEW_API Status vkr_preview_site_load_hosted(vkr_preview_site* site, char* message, uint64_t message_capacity) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    MessageBuffer buffer(message, message_capacity);
    return loadHosted(site, buffer);
  });
}

VKR_PREVIEW_API Status vkr_preview_site_load_hosted_operation(vkr_preview_site* site, vkr_preview_operation* operation,
                                                              char* message, uint64_t message_capacity) {
  return vesmara::abi::callUnderOperation(site, operation, nullptr, message, message_capacity,
                                          [&](MessageBuffer& buffer) { return loadHosted(site, buffer); });
}

VKR_PREVIEW_API Status vkr_preview_site_load_external(vkr_preview_site* site, const uint8_t* external,
                                                      uint64_t external_length, char* message,
                                                      uint64_t message_capacity) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    MessageBuffer buffer(message, message_capacity);
    return loadExternal(site, external, external_length, buffer);
  });
}

VKR_PREVIEW_API Status vkr_preview_site_load_external_operation(vkr_preview_site* site,
                                                                vkr_preview_operation* operation,
                                                                const uint8_t* external, uint64_t external_length,
                                                                char* message, uint64_t message_capacity) {
  return vesmara::abi::callUnderOperation(
      site, operation, nullptr, message, message_capacity,
      [&](MessageBuffer& buffer) { return loadExternal(site, external, external_length, buffer); });
}

VKR_PREVIEW_API Status vkr_preview_site_entry_path(vkr_preview_site* site, char* buffer, uint64_t capacity,
                                                   uint64_t* out_length) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    return deliverIndexString(site, buffer, capacity, out_length, &vesmara::SiteIndex::entry);
  });
}

VKR_PREVIEW_API Status vkr_preview_site_member_key_id(vkr_preview_site* site, char* buffer, uint64_t capacity,
                                                      uint64_t* out_length) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    return deliverIndexString(site, buffer, capacity, out_length, &vesmara::SiteIndex::member_key_id);
  });
}

VKR_PREVIEW_API Status vkr_preview_site_resource_count(vkr_preview_site* site, uint64_t* out_count) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    if (out_count != nullptr) *out_count = 0;
    if (site == nullptr || out_count == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    if (!site->loaded()) return VKR_PREVIEW_WRONG_STATE;
    *out_count = site->index().resources.size();
    return VKR_PREVIEW_OK;
  });
}

VKR_PREVIEW_API Status vkr_preview_site_resource_length(vkr_preview_site* site, uint64_t index, uint64_t* out_length) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    if (out_length != nullptr) *out_length = 0;
    if (site == nullptr || out_length == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    if (!site->loaded()) return VKR_PREVIEW_WRONG_STATE;
    const vesmara::Resource* resource = resourceAt(*site, index);
    if (resource == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    *out_length = resource->length;
    return VKR_PREVIEW_OK;
  });
}

VKR_PREVIEW_API Status vkr_preview_site_resource_path(vkr_preview_site* site, uint64_t index, char* buffer,
                                                      uint64_t capacity, uint64_t* out_length) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    const vesmara::Resource* resource = nullptr;
    const Status status = checkResourceGetter(site, index, buffer, capacity, out_length, resource);
    if (status != VKR_PREVIEW_OK) return status;
    return vesmara::abi::deliverString(resource->path, buffer, capacity, out_length);
  });
}

VKR_PREVIEW_API Status vkr_preview_site_resource_string(vkr_preview_site* site, uint64_t index, uint32_t field,
                                                        char* buffer, uint64_t capacity, uint64_t* out_length) {
  return vesmara::abi::callExclusive(site, [&]() -> Status {
    const vesmara::Resource* resource = nullptr;
    const Status status = checkResourceGetter(site, index, buffer, capacity, out_length, resource);
    if (status != VKR_PREVIEW_OK) return status;
    const vesmara::SiteIndex& index_data = site->index();
    std::string_view text;
    switch (field) {
      case VKR_PREVIEW_RESOURCE_PATH:
        text = resource->path;
        break;
      case VKR_PREVIEW_RESOURCE_SHA256:
        text = resource->sha256;
        break;
      case VKR_PREVIEW_RESOURCE_MIME:
        text = resource->mime;
        break;
      case VKR_PREVIEW_RESOURCE_ACCESS:
        text = vesmara::effectiveAccess(index_data, *resource);
        break;
      case VKR_PREVIEW_RESOURCE_DELIVERY:
        text = vesmara::effectiveDelivery(*resource);
        break;
      default:
        return VKR_PREVIEW_INVALID_ARGUMENT;
    }
    return vesmara::abi::deliverString(text, buffer, capacity, out_length);
  });
}

VKR_PREVIEW_API void vkr_preview_site_release(vkr_preview_site* site) { delete site; }

}  // extern "C"
