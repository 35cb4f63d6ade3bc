#include "support/site_fixture.h"

#include <gtest/gtest.h>

#include "base/hex.h"
#include "index/paths.h"
#include "publish/carrier_writer.h"
#include "publish/index_writer.h"

namespace vesmara::test {

std::string sha256Hex(CryptoHost& crypto, std::span<const std::uint8_t> bytes) {
  Sha256Digest digest{};
  EXPECT_TRUE(computeSha256(crypto, bytes, digest));
  return encodeLowerHex(digest);
}

SiteIndex makeSiteIndex(std::size_t resources) {
  SiteIndex index;
  index.entry = siteRootPath("app/index.html");
  for (std::size_t i = 0; i < resources; ++i) {
    Resource resource;
    resource.path = i == 0 ? index.entry : siteRootPath("app/r" + std::to_string(1000 + i) + ".bin");
    resource.mime = i == 0 ? "text/html" : "application/octet-stream";
    resource.length = 10 + i;
    resource.sha256 = std::string(64, 'a');
    ResourcePart part;
    part.url = "/c/carrier.bin";
    part.offset = 100 * i;
    part.length = resource.length;
    part.plain_length = resource.length;
    part.sha256 = std::string(64, 'b');
    resource.parts.push_back(part);
    index.resources.push_back(resource);
  }
  return index;
}

BuiltSite buildSite(CryptoHost& crypto, const SiteIndex& index, std::uint16_t footer_version,
                    const std::vector<std::uint8_t>& icon) {
  BuiltSite site;
  Failure failure;
  EXPECT_TRUE(publish::writeIndexDocument(index, site.document, failure)) << failure.message;
  EXPECT_TRUE(publish::buildContainer(crypto, publish::defaultBootstrap(), site.document, site.container, failure))
      << failure.message;
  EXPECT_TRUE(publish::buildFavicon(crypto, icon.empty() ? publish::defaultIcon() : icon, site.container,
                                    footer_version, site.favicon, failure))
      << failure.message;
  return site;
}

}  // namespace vesmara::test
