// A published site served by nginx and read through the library's own
// HTTP client, as a host application would, over plain HTTP and over HTTPS.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <curl/curl.h>
#endif

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hosts/platform.h"
#include "index/paths.h"
#include "publish/origin_tree.h"
#include "publish/site_builder.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_origin.h"
#include "vkr_preview.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class NginxSiteTest : public testing::TestWithParam<test::Protocol> {
 protected:
  void SetUp() override {
    if (GetParam() == test::Protocol::Https && test::TestTls::get() == nullptr) {
      GTEST_SKIP() << "HTTPS: " << test::TestTls::unavailableReason();
    }
    member_key_.assign(32, 0x77);
  }

  publish::BuiltSite publishTree(const std::vector<publish::SourceFile>& sources, publish::SiteOptions options,
                                 const std::string& name) {
    SecretKey key;
    std::copy(member_key_.begin(), member_key_.end(), key.mutableBytes().begin());
    options.member_key = key;
    publish::BuiltSite site;
    Failure failure;
    EXPECT_TRUE(publish::buildSite(*crypto_, sources, options, site, failure)) << failure.message;
    EXPECT_TRUE(publish::writeOriginTree(site.files, work_ / name, failure)) << failure.message;
    return site;
  }

  Bytes readResource(vkr_preview_site* site, const std::string& path, const std::uint8_t* key,
                     vkr_preview_status expected = VKR_PREVIEW_OK) {
    std::uint64_t length = 0;
    EXPECT_EQ(vkr_preview_site_read_memory(site, path.data(), path.size(), nullptr, 0, nullptr, 0, &length, message_,
                                           sizeof message_),
              VKR_PREVIEW_OK);
    Bytes out(length);
    EXPECT_EQ(vkr_preview_site_read_memory(site, path.data(), path.size(), key, key ? 32 : 0, out.data(), out.size(),
                                           &length, message_, sizeof message_),
              expected)
        << path << ": " << message_;
    return out;
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  const test::TempDir temp_{"vkr-e2e"};
  const fs::path work_ = temp_.path();
  Bytes member_key_;
  char message_[256] = {};
};

TEST_P(NginxSiteTest, EveryResourceReadsBackByteForByte) {
  const std::vector<publish::SourceFile> sources = {
      {.name = "index.html", .mime = "text/html; charset=utf-8", .bytes = test::TestOrigin::makeByteVector(3000, 1)},
      {.name = "css/site.css", .mime = "text/css", .bytes = test::TestOrigin::makeByteVector(700, 2)},
      {.name = "media/big.bin",
       .mime = "application/octet-stream",
       .bytes = test::TestOrigin::makeByteVector(5000000, 3)},
      {.name = "members/guide.pdf",
       .mime = "application/pdf",
       .bytes = test::TestOrigin::makeByteVector(1500000, 4),
       .members = true},
      {.name = "members/note.txt",
       .mime = "text/plain",
       .bytes = test::TestOrigin::makeByteVector(10, 5),
       .members = true},
      {.name = "tiny-parts.bin",
       .mime = "application/octet-stream",
       .bytes = test::TestOrigin::makeByteVector(300000, 6)},
  };
  publish::SiteOptions options;
  options.part_size = 1048576;
  options.carrier_count = 5;
  publishTree(sources, options, "site");
  publish::SiteOptions small;
  small.part_size = 1000;  // 300 adjacent parts in one carrier: coalesced requests
  small.carrier_count = 1;
  small.encode = false;
  publishTree({sources[0], sources[5]}, small, "small");

  vkr_preview_site* site = nullptr;
  test::NginxServer site_server(work_ / "site", GetParam());
  ASSERT_TRUE(site_server.started()) << site_server.error();
  const std::string origin = site_server.origin();
  ASSERT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_OK)
      << message_;
  for (const publish::SourceFile& source : sources) {
    const std::string path = siteRootPath("app/" + source.name);
    EXPECT_EQ(readResource(site, path, source.members ? member_key_.data() : nullptr), source.bytes) << source.name;
  }
  // Members resources: a wrong key and no key are refused.
  Bytes wrong(32, 0x78);
  readResource(site, siteRootPath("app/members/note.txt"), wrong.data(), VKR_PREVIEW_AUTHENTICATION_FAILED);
  EXPECT_STREQ(message_, "Member key or part authentication failed");
  readResource(site, siteRootPath("app/members/note.txt"), nullptr, VKR_PREVIEW_AUTHENTICATION_FAILED);
  EXPECT_STREQ(message_, "Member content key required");

  // A download of the largest resource.
  const std::string target = (work_ / "big.bin").string();
  const std::string path = siteRootPath("app/media/big.bin");
  std::uint64_t written = 0;
  ASSERT_EQ(vkr_preview_site_download(site, path.data(), path.size(), nullptr, 0, target.data(), target.size(),
                                      &written, message_, sizeof message_),
            VKR_PREVIEW_OK)
      << message_;
  EXPECT_EQ(written, 5000000u);
  EXPECT_EQ(fs::file_size(target), 5000000u);
  vkr_preview_site_release(site);

  test::NginxServer small_server(work_ / "small", GetParam());
  ASSERT_TRUE(small_server.started()) << small_server.error();
  const std::string small_origin = small_server.origin();
  ASSERT_EQ(vkr_preview_site_open_hosted(small_origin.data(), small_origin.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_OK)
      << message_;
  EXPECT_EQ(readResource(site, siteRootPath("app/tiny-parts.bin"), nullptr), sources[5].bytes);
  vkr_preview_site_release(site);
}

TEST_P(NginxSiteTest, ExternalIndexWithKeyFileAndCredential) {
  const std::vector<publish::SourceFile> sources = {
      {.name = "index.html", .mime = "text/html", .bytes = test::TestOrigin::makeByteVector(100, 1)},
      {.name = "data.bin", .mime = "application/octet-stream", .bytes = test::TestOrigin::makeByteVector(200000, 2)},
  };
  publish::SiteOptions options;
  options.external_index_path = "/assets/catalogue.dat";
  const publish::BuiltSite built = publishTree(sources, options, "site");
  test::NginxServer server(work_ / "site", GetParam());
  ASSERT_TRUE(server.started()) << server.error();
  const std::string origin = server.origin();
  const std::vector<Bytes> materials = {Bytes(built.key_file.begin(), built.key_file.end()), built.credential};
  for (const Bytes& material : materials) {
    vkr_preview_site* site = nullptr;
    ASSERT_EQ(vkr_preview_site_open_external(origin.data(), origin.size(), material.data(), material.size(), &site,
                                             message_, sizeof message_),
              VKR_PREVIEW_OK)
        << message_;
    EXPECT_EQ(readResource(site, siteRootPath("app/data.bin"), nullptr), sources[1].bytes);
    vkr_preview_site_release(site);
  }
  // The hosted load finds no index behind this origin's favicon, a plain
  // icon shorter than a footer.
  vkr_preview_site* site = nullptr;
  EXPECT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_INTEGRITY_FAILURE);
  EXPECT_STREQ(message_, "Favicon footer response is unavailable or unsafe");
}

#ifndef _WIN32
std::size_t appendText(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// What the shipped configuration promises a CDN in front of it: ranges,
// strong tags, nothing compressed, nothing to transform.
TEST_P(NginxSiteTest, OriginConfigurationServesRangesUntransformed) {
  publishTree({{.name = "index.html", .mime = "text/html", .bytes = test::TestOrigin::makeByteVector(5000, 1)}}, {},
              "site");
  test::NginxServer server(work_ / "site", GetParam());
  ASSERT_TRUE(server.started()) << server.error();
  CURL* curl = curl_easy_init();
  const std::string url = server.origin() + "/favicon.ico";
  std::string headers;
  std::string body;
  curl_slist* fields = curl_slist_append(nullptr, "Accept-Encoding: gzip, br");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, fields);
  curl_easy_setopt(curl, CURLOPT_RANGE, "-128");
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, appendText);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendText);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(fields);
  curl_easy_cleanup(curl);
  EXPECT_EQ(status, 206) << headers;
  EXPECT_EQ(body.size(), 128u);
  // HTTP/2 names fields in lower case.
  std::transform(headers.begin(), headers.end(), headers.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_NE(headers.find("\r\netag: \""), std::string::npos) << headers;  // strong: no W/
  EXPECT_NE(headers.find("\r\ncache-control: public, no-cache, no-transform\r\n"), std::string::npos) << headers;
  EXPECT_EQ(headers.find("content-encoding"), std::string::npos) << headers;
}
#endif

INSTANTIATE_TEST_SUITE_P(, NginxSiteTest, testing::Values(test::Protocol::Http, test::Protocol::Https),
                         test::ProtocolName());

}  // namespace
}  // namespace vesmara
