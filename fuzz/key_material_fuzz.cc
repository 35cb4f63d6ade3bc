// External key material on arbitrary bytes: the key file parser, and the
// ICO credential reader (a favicon-shaped carrier served from memory).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "hosts/platform.h"
#include "index/external_index.h"
#include "index/paths.h"

namespace {

void checkLocator(const vesmara::PrivateIndexLocator& locator) {
  if (!vesmara::isExternalCarrierPath(locator.url) || locator.length < 17 || locator.length > 16777232 ||
      locator.offset > UINT64_MAX - locator.length) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  static const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  static vesmara::fuzz::NeverCancelled parent;
  const std::span<const std::uint8_t> material(data, size);
  vesmara::PrivateIndexLocator locator;
  vesmara::Failure failure;
  // Both readers see every input: the prefix decides only which one a load uses.
  if (vesmara::parseKeyFile(material, locator, failure)) checkLocator(locator);
  vesmara::PrivateIndexLocator from_credential;
  if (vesmara::readIcoCredential(parent, *crypto, material, from_credential, failure)) checkLocator(from_credential);
  return 0;
}
