// The hosted carrier reader (footer, container, manifest, sections) on an
// arbitrary favicon served from memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#include "index/hosted_index.h"
#include "index/memory_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  static const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  static vesmara::fuzz::NeverCancelled parent;
  vesmara::MemoryHost host(vesmara::SecureBytes(data, data + size), parent);
  vesmara::LoadedIndex holder;
  vesmara::Failure failure;
  if (vesmara::loadHostedIndex(host, *crypto, holder, failure)) {
    if (holder.digest.size() != 64 || failure.kind != vesmara::FailureKind::None) __builtin_trap();
  }
  return 0;
}
