// Builds small sites with the publisher's writers for the index tests: an
// index, its container and the favicon that carries it.
#ifndef VESMARA_TESTS_SUPPORT_SITE_FIXTURE_H_
#define VESMARA_TESTS_SUPPORT_SITE_FIXTURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "hosts/crypto_host.h"
#include "index/site_index.h"

namespace vesmara::test {

// A valid index with `resources` public resources (an HTML entry first),
// each of one part in "/c/carrier.bin".
SiteIndex makeSiteIndex(std::size_t resources = 2);

struct BuiltSite {
  std::string document;
  std::vector<std::uint8_t> container;
  std::vector<std::uint8_t> favicon;
};

// Document, container and favicon for `index`; fails the calling test on error.
BuiltSite buildSite(CryptoHost& crypto, const SiteIndex& index, std::uint16_t footer_version = 1,
                    const std::vector<std::uint8_t>& icon = {});

std::string sha256Hex(CryptoHost& crypto, std::span<const std::uint8_t> bytes);

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_SITE_FIXTURE_H_
