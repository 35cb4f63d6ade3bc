// Operations and the direct cancel of a site.
#include <new>

#include "abi/handles.h"
#include "abi/operation.h"

using vesmara::abi::Status;

extern "C" {

VKR_PREVIEW_API Status vkr_preview_operation_prepare(vkr_preview_operation** out_operation) {
  if (out_operation == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
  *out_operation = new (std::nothrow) vkr_preview_operation();
  return *out_operation == nullptr ? VKR_PREVIEW_INTERNAL_FAILURE : VKR_PREVIEW_OK;
}

VKR_PREVIEW_API void vkr_preview_operation_cancel(vkr_preview_operation* operation) {
  if (operation != nullptr) vesmara::abi::cancelOperation(*operation);
}

VKR_PREVIEW_API void vkr_preview_operation_release(vkr_preview_operation* operation) { delete operation; }

VKR_PREVIEW_API void vkr_preview_site_cancel(vkr_preview_site* site) {
  if (site != nullptr) site->transport().cancel();
}

}  // extern "C"
