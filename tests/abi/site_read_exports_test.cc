#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "hosts/platform.h"
#include "index/paths.h"
#include "publish/carrier_writer.h"
#include "publish/index_writer.h"
#include "publish/site_builder.h"
#include "support/temp_dir.h"
#include "support/test_origin.h"
#include "vkr_preview.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> entriesOf(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  return names;
}

class SiteReadTest : public testing::Test {
 protected:
  void SetUp() override {
    key_.assign(32, 0x42);
    SecretKey member_key;
    std::copy(key_.begin(), key_.end(), member_key.mutableBytes().begin());
    publish::SiteOptions options;
    options.member_key = member_key;
    options.part_size = 100000;
    options.seed = 3;
    big_ = test::TestOrigin::makeByteVector(1000000, 9);
    secret_ = test::TestOrigin::makeByteVector(5000, 10);
    const std::vector<publish::SourceFile> sources = {
        {.name = "index.html", .mime = "text/html", .bytes = {'h', 'i'}},
        {.name = "big.bin", .mime = "application/octet-stream", .bytes = big_},
        {.name = "secret.txt", .mime = "text/plain", .bytes = secret_, .members = true},
    };
    Failure failure;
    ASSERT_TRUE(publish::buildSite(*crypto_, sources, options, built_, failure)) << failure.message;
    for (const auto& [path, bytes] : built_.files) origin_.addFile(path, bytes);
    const std::string origin = origin_.origin();
    ASSERT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site_, message_, sizeof message_),
              VKR_PREVIEW_OK)
        << message_;
    origin_.clearLog();
  }

  void TearDown() override { vkr_preview_site_release(site_); }

  vkr_preview_status readMemory(const std::string& name, Bytes& out, bool with_key = false) {
    const std::string path = siteRootPath("app/" + name);
    std::uint64_t length = 0;
    out.assign(2000000, 0);
    const vkr_preview_status status =
        vkr_preview_site_read_memory(site_, path.data(), path.size(), with_key ? key_.data() : nullptr,
                                     with_key ? 32 : 0, out.data(), out.size(), &length, message_, sizeof message_);
    out.resize(status == VKR_PREVIEW_OK ? length : 0);
    return status;
  }

  vkr_preview_status download(const std::string& name, const fs::path& destination, std::uint64_t& written,
                              vkr_preview_operation* operation = nullptr) {
    const std::string path = siteRootPath("app/" + name);
    const std::string target = destination.string();
    return operation == nullptr
               ? vkr_preview_site_download(site_, path.data(), path.size(), nullptr, 0, target.data(), target.size(),
                                           &written, message_, sizeof message_)
               : vkr_preview_site_download_operation(site_, operation, path.data(), path.size(), nullptr, 0,
                                                     target.data(), target.size(), &written, message_, sizeof message_);
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  test::TestOrigin origin_;
  publish::BuiltSite built_;
  vkr_preview_site* site_ = nullptr;
  Bytes key_, big_, secret_;
  const test::TempDir temp_{"vkr-read"};
  const fs::path directory_ = temp_.path();
  char message_[256] = {};
};

TEST_F(SiteReadTest, ReadIntoMemory) {
  Bytes out;
  ASSERT_EQ(readMemory("big.bin", out), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(out, big_);
  ASSERT_EQ(readMemory("secret.txt", out, true), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(out, secret_);
  EXPECT_EQ(readMemory("secret.txt", out), VKR_PREVIEW_AUTHENTICATION_FAILED);
  EXPECT_STREQ(message_, "Member content key required");
  EXPECT_EQ(readMemory("nothing.bin", out), VKR_PREVIEW_NOT_FOUND);
  EXPECT_STREQ(message_, "Resource absent from index");
}

TEST_F(SiteReadTest, LengthQueriesAndCapacity) {
  const std::string path = siteRootPath("app/secret.txt");
  std::uint64_t length = 0;
  origin_.clearLog();
  EXPECT_EQ(vkr_preview_site_read_memory(site_, path.data(), path.size(), nullptr, 0, nullptr, 0, &length, message_,
                                         sizeof message_),
            VKR_PREVIEW_OK);
  EXPECT_EQ(length, secret_.size());
  EXPECT_EQ(origin_.requestCount(), 0u);  // a length query fetches nothing

  Bytes buffer(secret_.size() + 1, 0xEE);
  EXPECT_EQ(vkr_preview_site_read_memory(site_, path.data(), path.size(), key_.data(), 32, buffer.data(),
                                         secret_.size() - 1, &length, message_, sizeof message_),
            VKR_PREVIEW_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, secret_.size());
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(vkr_preview_site_read_memory(site_, path.data(), path.size(), key_.data(), 32, buffer.data(),
                                         secret_.size(), &length, message_, sizeof message_),
            VKR_PREVIEW_OK);
  EXPECT_TRUE(std::equal(secret_.begin(), secret_.end(), buffer.begin()));
  EXPECT_EQ(buffer.back(), 0xEE);  // no terminator after the data

  const struct {
    const std::uint8_t* key;
    std::uint64_t key_length;
  } bad_keys[] = {{key_.data(), 31}, {key_.data(), 33}, {nullptr, 32}, {key_.data(), 0}};
  for (const auto& k : bad_keys) {
    EXPECT_EQ(vkr_preview_site_read_memory(site_, path.data(), path.size(), k.key, k.key_length, nullptr, 0, &length,
                                           message_, sizeof message_),
              VKR_PREVIEW_INVALID_ARGUMENT);
  }
  EXPECT_EQ(
      vkr_preview_site_read_memory(site_, path.data(), 0, nullptr, 0, nullptr, 0, &length, message_, sizeof message_),
      VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_read_memory(site_, path.data(), path.size(), nullptr, 0, nullptr, 5, &length, message_,
                                         sizeof message_),
            VKR_PREVIEW_INVALID_ARGUMENT);
}

TEST_F(SiteReadTest, DownloadAppearsOnlyWhenVerified) {
  std::uint64_t written = 0;
  const fs::path target = directory_ / "big.bin";
  ASSERT_EQ(download("big.bin", target, written), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(written, big_.size());
  std::ifstream in(target, std::ios::binary);
  const Bytes read_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(read_back, big_);

  // An existing destination is never touched.
  EXPECT_EQ(download("big.bin", target, written), VKR_PREVIEW_TARGET_EXISTS);
  EXPECT_STREQ(message_, "Output target already exists");
  EXPECT_EQ(fs::file_size(target), big_.size());

  // A path not in the index creates nothing.
  EXPECT_EQ(download("none.bin", directory_ / "none.bin", written), VKR_PREVIEW_NOT_FOUND);

  // A corrupt last part: no destination and no temporary file.
  const std::string url = built_.index.resources[0].parts.back().url;
  Bytes carrier = built_.files[url];
  carrier[built_.index.resources[0].parts.back().offset] ^= 1;
  origin_.addFile(url, carrier);
  EXPECT_EQ(download("big.bin", directory_ / "broken.bin", written), VKR_PREVIEW_INTEGRITY_FAILURE);
  EXPECT_EQ(entriesOf(directory_), std::vector<std::string>{"big.bin"});
}

TEST_F(SiteReadTest, CancelledDownloadLeavesNothingAndTheNextOperationWorks) {
  origin_.setGlobalBehaviour({.stallMidBody = std::chrono::milliseconds(20000)});
  vkr_preview_operation* operation = nullptr;
  ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
  bool stalled = false;
  std::thread canceller([&] {
    stalled = origin_.waitForStalls(1);  // half a carrier is out, the rest held back
    vkr_preview_operation_cancel(operation);
  });
  std::uint64_t written = 0;
  EXPECT_EQ(download("big.bin", directory_ / "big.bin", written, operation), VKR_PREVIEW_CANCELLED);
  canceller.join();
  EXPECT_TRUE(stalled);
  vkr_preview_operation_release(operation);
  EXPECT_TRUE(entriesOf(directory_).empty());

  origin_.clearBehaviours();
  ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
  const std::string path = siteRootPath("app/big.bin");
  Bytes out(big_.size());
  std::uint64_t length = 0;
  EXPECT_EQ(vkr_preview_site_read_memory_operation(site_, operation, path.data(), path.size(), nullptr, 0, out.data(),
                                                   out.size(), &length, message_, sizeof message_),
            VKR_PREVIEW_OK);
  EXPECT_EQ(out, big_);
  EXPECT_EQ(vkr_preview_site_read_memory_operation(site_, operation, path.data(), path.size(), nullptr, 0, out.data(),
                                                   out.size(), &length, message_, sizeof message_),
            VKR_PREVIEW_WRONG_STATE);
  vkr_preview_operation_release(operation);

  // A direct cancel stays until an operation-bound call clears it.
  vkr_preview_site_cancel(site_);
  EXPECT_EQ(readMemory("big.bin", out), VKR_PREVIEW_CANCELLED);
  EXPECT_STREQ(message_, "Download cancelled");
}

TEST_F(SiteReadTest, ServerKilledMidDownloadLeavesNothing) {
  origin_.setGlobalBehaviour({.closeMidBody = true});
  std::uint64_t written = 0;
  EXPECT_EQ(download("big.bin", directory_ / "big.bin", written), VKR_PREVIEW_TRANSPORT_FAILURE);
  EXPECT_TRUE(entriesOf(directory_).empty());
}

TEST_F(SiteReadTest, InMemoryLimitComesBeforeAnyRequest) {
  // A site whose index names a resource of 64 MiB + 1 (its carriers need not
  // exist: nothing is fetched).
  SiteIndex index = built_.index;
  Resource huge = index.resources[0];
  huge.path = siteRootPath("app/huge.bin");
  huge.length = 67108865;
  huge.parts.clear();
  for (std::uint64_t left = huge.length; left > 0;) {
    ResourcePart part = index.resources[0].parts[0];
    part.length = part.plain_length = std::min<std::uint64_t>(left, 4194304);
    left -= part.length;
    huge.parts.push_back(part);
  }
  index.resources.insert(index.resources.begin() + 1, huge);
  std::string document;
  Failure failure;
  Bytes container;
  Bytes favicon;
  ASSERT_TRUE(publish::writeIndexDocument(index, document, failure)) << failure.message;
  ASSERT_TRUE(publish::buildContainer(*crypto_, publish::defaultBootstrap(), document, container, failure));
  ASSERT_TRUE(publish::buildFavicon(*crypto_, publish::defaultIcon(), container, 1, favicon, failure));
  test::TestOrigin other;
  other.addFile("/favicon.ico", favicon);
  const std::string origin = other.origin();
  vkr_preview_site* site = nullptr;
  ASSERT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_OK)
      << message_;
  other.clearLog();
  const std::string path = siteRootPath("app/huge.bin");
  std::uint64_t length = 7;
  Bytes buffer(16);
  EXPECT_EQ(vkr_preview_site_read_memory(site, path.data(), path.size(), nullptr, 0, nullptr, 0, &length, message_,
                                         sizeof message_),
            VKR_PREVIEW_UNSUPPORTED);
  EXPECT_STREQ(message_, "Resource exceeds in-memory read limit; use file download");
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(vkr_preview_site_read_memory(site, path.data(), path.size(), nullptr, 0, buffer.data(), buffer.size(),
                                         &length, message_, sizeof message_),
            VKR_PREVIEW_UNSUPPORTED);
  EXPECT_EQ(other.requestCount(), 0u);
  vkr_preview_site_release(site);
}

}  // namespace
}  // namespace vesmara
