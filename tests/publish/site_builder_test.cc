#include "publish/site_builder.h"

#include <gtest/gtest.h>

#include "hosts/platform.h"
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

// Bytes in memory standing in for a file on disk; its stream may end early,
// as a file cut short while it is published does.
class BytesContent : public SourceContent {
 public:
  BytesContent(test::Bytes bytes, std::size_t readable) : bytes_(std::move(bytes)), readable_(readable) {}
  std::uint64_t length() const override { return bytes_.size(); }

  std::unique_ptr<SourceStream> open(Failure&) const override { return std::make_unique<Stream>(*this); }

 private:
  struct Stream : SourceStream {
    explicit Stream(const BytesContent& of) : content(of) {}
    bool read(std::span<std::uint8_t> out, Failure& failure) override {
      if (at + out.size() > content.readable_) return failure.fail(FailureKind::InvalidData, "cut short");
      std::copy_n(content.bytes_.begin() + static_cast<std::ptrdiff_t>(at), out.size(), out.begin());
      at += out.size();
      return true;
    }
    const BytesContent& content;
    std::size_t at = 0;
  };

  test::Bytes bytes_;
  std::size_t readable_;
};

// A file read a part at a time gives the origin the same bytes in memory
// give, and one that ends early fails the build instead of shrinking.
TEST(SiteBuilderTest, StreamedFilesPublishAsFilesInMemoryDo) {
  const test::Bytes page(300, 'h');
  const test::Bytes members(1000, 'm');
  SiteOptions options;
  options.part_size = 128;
  options.seed = 3;
  options.member_key.emplace();
  const auto crypto = defaultPlatform().makeCryptoHost();
  const auto build = [&](std::size_t readable, BuiltSite& site, Failure& failure) {
    const std::vector<SourceFile> sources = {
        {.name = "index.html", .mime = "text/html", .content = std::make_shared<BytesContent>(page, page.size())},
        {.name = "m.bin",
         .mime = "application/octet-stream",
         .members = true,
         .content = std::make_shared<BytesContent>(members, readable)},
    };
    return buildSite(*crypto, sources, options, site, failure);
  };
  BuiltSite in_memory;
  BuiltSite streamed;
  Failure failure;
  ASSERT_TRUE(buildSite(*crypto,
                        {{.name = "index.html", .mime = "text/html", .bytes = page},
                         {.name = "m.bin", .mime = "application/octet-stream", .bytes = members, .members = true}},
                        options, in_memory, failure))
      << failure.message;
  ASSERT_TRUE(build(members.size(), streamed, failure)) << failure.message;
  EXPECT_TRUE(streamed.files == in_memory.files);
  EXPECT_EQ(streamed.index_digest, in_memory.index_digest);
  EXPECT_FALSE(build(members.size() - 1, streamed, failure));
  EXPECT_EQ(failure.message, "cut short");
}

}  // namespace
}  // namespace vesmara::publish
