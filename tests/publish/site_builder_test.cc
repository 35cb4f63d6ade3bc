#include "publish/site_builder.h"

#include <gtest/gtest.h>

#include "media/media_test_support.h"

namespace vesmara::publish {
namespace {

// A site whose build leaves a wrong digest behind is worse than no site:
// whichever hash of a build fails, the build fails as a provider failure.
TEST(SiteBuilderTest, EveryHashingFailureFailsTheBuild) {
  const std::vector<SourceFile> sources = {
      {.name = "index.html", .mime = "text/html", .bytes = test::Bytes(300, 'h')},
      {.name = "m.bin", .mime = "application/octet-stream", .bytes = test::Bytes(100, 'm'), .members = true},
  };
  for (const bool external : {false, true}) {
    SiteOptions options;
    options.part_size = 128;
    options.member_key.emplace();
    if (external) options.external_index_path = "/assets/index.dat";
    test::FailingCrypto crypto;
    BuiltSite site;
    Failure failure;
    ASSERT_TRUE(buildSite(crypto, sources, options, site, failure)) << failure.message;
    const std::size_t hashes = crypto.hashers_made;
    for (std::size_t failing = 1; failing <= hashes; ++failing) {
      crypto.hashers_made = 0;
      crypto.fail_hasher = failing;
      failure.clear();
      EXPECT_FALSE(buildSite(crypto, sources, options, site, failure)) << external << " " << failing;
      EXPECT_EQ(failure.kind, FailureKind::Provider) << external << " " << failing << " " << failure.message;
    }
  }
}

}  // namespace
}  // namespace vesmara::publish
