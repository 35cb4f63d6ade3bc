// The index document parser on arbitrary bytes: never a crash, and an
// accepted index keeps the promises its readers rely on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "index/index_document.h"
#include "index/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  vesmara::SiteIndex index;
  vesmara::Failure failure;
  if (!vesmara::parseIndexDocument(std::string_view(reinterpret_cast<const char*>(data), size), index, failure)) {
    if (failure.message.empty()) __builtin_trap();
    return 0;
  }
  if (vesmara::findResource(index, index.entry) == nullptr) __builtin_trap();
  for (std::size_t i = 0; i < index.resources.size(); ++i) {
    const vesmara::Resource& resource = index.resources[i];
    if (i > 0 && !(index.resources[i - 1].path < resource.path)) __builtin_trap();
    std::uint64_t sum = 0;
    for (const vesmara::ResourcePart& part : resource.parts) sum += part.plain_length;
    if (sum != resource.length || vesmara::findResource(index, resource.path) != &resource) __builtin_trap();
  }
  return 0;
}
