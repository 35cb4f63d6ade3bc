// Interface revision and capabilities.
#include "abi/conventions.h"

using vesmara::abi::Status;

extern "C" {

VKR_PREVIEW_API uint32_t vkr_preview_abi_revision(void) { return VKR_PREVIEW_ABI_REVISION; }

VKR_PREVIEW_API Status vkr_preview_capabilities(uint64_t* out_capabilities) {
  if (out_capabilities == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
  *out_capabilities = VKR_PREVIEW_CAPABILITIES;
  return VKR_PREVIEW_OK;
}

}  // extern "C"
