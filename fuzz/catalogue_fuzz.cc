// The catalogue parser on arbitrary bytes: never a crash, and every accepted
// catalogue satisfies the rules it was checked against.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "game/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  vesmara::Catalogue catalogue;
  vesmara::Failure failure;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!vesmara::parseCatalogue(input, catalogue, failure)) {
    if (failure.message.empty()) __builtin_trap();
    return 0;
  }
  if (catalogue.items.empty() || catalogue.items.size() > vesmara::kMaxCatalogueItems) __builtin_trap();
  if (!vesmara::isValidGameIdentifier(catalogue.game_id)) __builtin_trap();
  for (const vesmara::CatalogueItem& item : catalogue.items) {
    if (!vesmara::isValidGameIdentifier(item.id) || !vesmara::isValidItemPath(item.path)) __builtin_trap();
  }
  (void)vesmara::isCatalogueCompatible(catalogue, catalogue.game_id, catalogue.min_game_version);
  return 0;
}
