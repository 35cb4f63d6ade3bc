// A site whose resources hide in media carriers of every codec, published
// by the site builder with the media encoder, served by nginx over plain
// HTTP and over HTTPS and read through the library's exports.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hosts/platform.h"
#include "index/paths.h"
#include "media/media_test_support.h"
#include "publish/media/media_encoder.h"
#include "publish/origin_tree.h"
#include "publish/site_builder.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "vkr_preview.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

class MediaSiteTest : public testing::TestWithParam<test::Protocol> {};

TEST_P(MediaSiteTest, PartsInEveryCodecReadBack) {
  if (GetParam() == test::Protocol::Https && test::TestTls::get() == nullptr) {
    GTEST_SKIP() << "HTTPS: " << test::TestTls::unavailableReason();
  }
  const test::TempDir temp("vkr-media");
  const fs::path& work = temp.path();
  const auto crypto = defaultPlatform().makeCryptoHost();
  const std::vector<publish::SourceFile> sources = {
      {.name = "index.html", .mime = "text/html", .bytes = test::payloadBytes(500, 1)},
      {.name = "img/photo.bin", .mime = "image/x-test", .bytes = test::payloadBytes(40000, 2), .codec = "png-lsb1"},
      {.name = "members/map.bin",
       .mime = "application/octet-stream",
       .bytes = test::payloadBytes(9000, 3),
       .members = true,
       .codec = "png-lsb1"},
      {.name = "frame1.txt", .mime = "text/plain", .bytes = test::payloadBytes(21, 4), .codec = "frame-luma1"},
      {.name = "frame2.txt", .mime = "text/plain", .bytes = test::payloadBytes(12, 5), .codec = "frame-luma2"},
      {.name = "sound.bin",
       .mime = "application/octet-stream",
       .bytes = test::payloadBytes(700, 6),
       .codec = "wav-4fsk1"},
  };
  SecretKey member_key;
  std::fill(member_key.mutableBytes().begin(), member_key.mutableBytes().end(), 0x33);
  publish::SiteOptions options;
  options.seed = 11;
  options.member_key = member_key;
  options.part_size = 4096;  // several parts per pixel carrier and two in the audio carrier
  options.media_encoder = publish::makeMediaEncoder(*crypto, {.audio = {.format = {44100, 16, 2}, .copies = 2}});
  publish::BuiltSite site;
  Failure failure;
  ASSERT_TRUE(publish::buildSite(*crypto, sources, options, site, failure)) << failure.message;
  ASSERT_EQ(site.index.audio_carriers.size(), 1u);
  ASSERT_TRUE(publish::writeOriginTree(site.files, work / "site", failure)) << failure.message;

  test::NginxServer server(work / "site", GetParam());
  ASSERT_TRUE(server.started()) << server.error();
  const std::string origin = server.origin();
  char message[256] = {};
  vkr_preview_site* handle = nullptr;
  ASSERT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &handle, message, sizeof message),
            VKR_PREVIEW_OK)
      << message;
  for (const publish::SourceFile& source : sources) {
    const std::string path = siteRootPath("app/" + source.name);
    const std::uint8_t* key = source.members ? member_key.bytes().data() : nullptr;
    Bytes out(source.bytes.size() + 1);
    std::uint64_t length = 0;
    EXPECT_EQ(vkr_preview_site_read_memory(handle, path.data(), path.size(), key, key ? 32 : 0, out.data(), out.size(),
                                           &length, message, sizeof message),
              VKR_PREVIEW_OK)
        << source.name << ": " << message;
    out.resize(length);
    EXPECT_EQ(out, source.bytes) << source.name;
  }
  vkr_preview_site_release(handle);
}

INSTANTIATE_TEST_SUITE_P(, MediaSiteTest, testing::Values(test::Protocol::Http, test::Protocol::Https),
                         test::ProtocolName());

}  // namespace
}  // namespace vesmara
