// The catalogue family: parse a caller's catalogue bytes and query the result.
#include <memory>
#include <string>
#include <string_view>

#include "abi/conventions.h"
#include "abi/handles.h"
#include "game/catalogue.h"
#include "json/json.h"

using vesmara::abi::MessageBuffer;
using vesmara::abi::Status;

extern "C" {

VKR_PREVIEW_API Status vkr_preview_catalogue_parse(const uint8_t* data, uint64_t size,
                                                   vkr_preview_catalogue** out_catalogue, char* message,
                                                   uint64_t message_capacity) {
  if (out_catalogue != nullptr) *out_catalogue = nullptr;
  MessageBuffer buffer(message, message_capacity);
  if (out_catalogue == nullptr || data == nullptr || !buffer.usable()) return VKR_PREVIEW_INVALID_ARGUMENT;
  return vesmara::abi::runContained(buffer, "Catalogue parse failed", [&]() -> Status {
    auto handle = std::make_unique<vkr_preview_catalogue>();
    vesmara::Failure failure;
    // A size beyond the address space cannot be viewed; the reader refuses it as over its limit.
    const std::string_view document(reinterpret_cast<const char*>(data),
                                    size > vesmara::kCatalogueJsonLimit ? vesmara::kCatalogueJsonLimit + 1 : size);
    if (!vesmara::parseCatalogue(document, handle->catalogue, failure)) {
      buffer.write(failure.message);
      return VKR_PREVIEW_INVALID_DATA;
    }
    *out_catalogue = handle.release();
    return VKR_PREVIEW_OK;
  });
}

VKR_PREVIEW_API Status vkr_preview_catalogue_item_count(vkr_preview_catalogue* catalogue, uint64_t* out_count) {
  if (out_count != nullptr) *out_count = 0;
  if (catalogue == nullptr || out_count == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
  *out_count = catalogue->catalogue.items.size();
  return VKR_PREVIEW_OK;
}

VKR_PREVIEW_API Status vkr_preview_catalogue_item_string(vkr_preview_catalogue* catalogue, uint64_t index,
                                                         uint32_t field, char* buffer, uint64_t capacity,
                                                         uint64_t* out_length) {
  if (out_length == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
  *out_length = 0;
  if (catalogue == nullptr || index >= catalogue->catalogue.items.size() || (capacity != 0 && buffer == nullptr)) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  const std::optional<std::string_view> text = catalogue->catalogue.items[index].field(field);
  if (!text) return VKR_PREVIEW_INVALID_ARGUMENT;
  return vesmara::abi::deliverString(*text, buffer, capacity, out_length);
}

VKR_PREVIEW_API Status vkr_preview_catalogue_revision(vkr_preview_catalogue* catalogue, uint64_t* out_revision) {
  if (out_revision != nullptr) *out_revision = 0;
  if (catalogue == nullptr || out_revision == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
  *out_revision = catalogue->catalogue.revision;
  return VKR_PREVIEW_OK;
}

VKR_PREVIEW_API void vkr_preview_catalogue_release(vkr_preview_catalogue* catalogue) { delete catalogue; }

}  // extern "C"
