// A site whose platform fails underneath it: a full disk, a refused commit,
// a broken hash or cipher provider, a PNG decoder that cannot start. Whatever
// fails, the read reports it and nothing reaches the caller: the memory
// buffer keeps its bytes and the destination folder stays empty.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "index/paths.h"
#include "publish/media/media_encoder.h"
#include "publish/site_builder.h"
#include "retrieval/site.h"
#include "support/fault_platform.h"
#include "support/temp_dir.h"
#include "support/test_origin.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A tmpfs of a few KiB on a new directory, for one test. Mounting needs
// root (CAP_SYS_ADMIN); without it the tests that need one are skipped.
class SmallTmpfs {
 public:
#ifdef _WIN32
  explicit SmallTmpfs(const char*) : error_("Windows has no tmpfs") {}
#else
  explicit SmallTmpfs(const char* options) {
    char pattern[] = "/tmp/vkr-small-disk-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      error_ = std::strerror(errno);
      return;
    }
    path_ = pattern;
    if (::mount("tmpfs", pattern, "tmpfs", MS_NOSUID | MS_NODEV, options) == 0) {
      mounted_ = true;
    } else {
      error_ = std::strerror(errno);
    }
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
#endif
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
  bool mounted_ = false;
  std::string error_;
};

class SiteFaultTest : public testing::Test {
 protected:
  void SetUp() override {
    std::fill(member_key_.mutableBytes().begin(), member_key_.mutableBytes().end(), 0x42);
    const auto crypto = defaultPlatform().makeCryptoHost();
    publish::SiteOptions options;
    options.member_key = member_key_;
    options.part_size = 65536;
    options.seed = 5;
    options.media_encoder = publish::makeMediaEncoder(*crypto);
    const std::vector<publish::SourceFile> sources = {
        {.name = "index.html", .mime = "text/html", .bytes = {'h', 'i'}},
        {.name = "big.bin", .mime = "application/octet-stream", .bytes = test::TestOrigin::makeByteVector(200000, 1)},
        {.name = "secret.txt", .mime = "text/plain", .bytes = Bytes(3000, 's'), .members = true},
        {.name = "photo.bin", .mime = "image/x-test", .bytes = Bytes(5000, 'p'), .codec = "png-lsb1"},
    };
    publish::BuiltSite built;
    Failure build;
    ASSERT_TRUE(publish::buildSite(*crypto, sources, options, built, build)) << build.message;
    for (const auto& [path, bytes] : built.files) origin_.addFile(path, bytes);
    std::string refusal;
    site_ = std::make_unique<Site>(platform_, platform_.makeHttpHost(origin_.origin(), refusal));
    Failure failure;
    ASSERT_TRUE(site_->load(std::nullopt, failure)) << failure.message;
  }

  test::TestOrigin origin_;
  test::FaultPlatform platform_;
  std::unique_ptr<Site> site_;
  SecretKey member_key_;
  const test::TempDir temp_{"vkr-fault"};
  const fs::path directory_ = temp_.path();
};

TEST_F(SiteFaultTest, EveryHostFailureIsReportedAndDeliversNothing) {
  const struct {
    const char* name;
    void (*set)(test::Faults&);
    const char* resource;
    FailureKind kind;
    const char* message;
    bool reaches_disk;  // the failure needs a file sink
  } table[] = {
      {"disk full after one part", [](test::Faults& f) { f.file_write_limit = 65536; }, "big.bin", FailureKind::Output,
       "Output write failed", true},
      {"commit refused", [](test::Faults& f) { f.file_commit_fails = true; }, "big.bin", FailureKind::Output,
       "Output commit failed", true},
      {"hasher fails", [](test::Faults& f) { f.hashers_fail = true; }, "index.html", FailureKind::Provider,
       "Part SHA-256 provider failed", false},
      {"keystream fails", [](test::Faults& f) { f.keystream_fails = true; }, "index.html", FailureKind::Provider,
       "Website decoding failed", false},
      {"GCM provider fails", [](test::Faults& f) { f.gcm_provider_fails = true; }, "secret.txt", FailureKind::Provider,
       "Member AES-GCM provider failed", false},
      {"PNG decoder unavailable", [](test::Faults& f) { f.png_decoder_unavailable = true; }, "photo.bin",
       FailureKind::Integrity, "Windows PNG decoder is unavailable", false},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    platform_.faults() = {};
    row.set(platform_.faults());
    const std::string path = siteRootPath(std::string("app/") + row.resource);
    const SecretKey* key = std::string(row.resource) == "secret.txt" ? &member_key_ : nullptr;

    DownloadFailure download;
    std::uint64_t written = 99;
    EXPECT_FALSE(site_->download(path, key, (directory_ / "out").string(), written, download));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(download.failure.kind, row.kind);
    EXPECT_EQ(download.failure.message, row.message);
    EXPECT_EQ(download.output_error, row.reaches_disk ? FileOutputError::WriteFailed : FileOutputError::None);
    EXPECT_TRUE(fs::is_empty(directory_));

    if (row.reaches_disk) continue;
    Failure failure;
    const Resource* resource = site_->findForMemoryRead(path, failure);
    ASSERT_NE(resource, nullptr);
    Bytes buffer(resource->length, 0xA5);
    EXPECT_FALSE(site_->readIntoMemory(path, key, buffer, failure));
    EXPECT_EQ(failure.kind, row.kind);
    EXPECT_EQ(failure.message, row.message);
    EXPECT_EQ(buffer, Bytes(resource->length, 0xA5));
  }
}

// A resource larger than the free space fails before any of it is fetched,
// on a real file system that runs full (the sink reserves the length first).
TEST_F(SiteFaultTest, FullDiskFailsBeforeAnyFetch) {
  const SmallTmpfs disk("size=128k");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.error() << "); needs root";
  const struct {
    const char* resource;
    bool fits;
  } table[] = {{"big.bin", false}, {"secret.txt", true}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.resource);
    const std::size_t requests = origin_.requestCount();
    DownloadFailure download;
    std::uint64_t written = 99;
    EXPECT_EQ(site_->download(siteRootPath(std::string("app/") + row.resource), &member_key_,
                              (disk.path() / row.resource).string(), written, download),
              row.fits);
    if (row.fits) {
      EXPECT_EQ(written, 3000u);
      continue;
    }
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(download.failure.kind, FailureKind::Output);
    EXPECT_EQ(download.failure.message, "Output space reservation failed");
    EXPECT_EQ(download.output_error, FileOutputError::WriteFailed);
    EXPECT_EQ(origin_.requestCount(), requests) << "nothing fetched";
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(disk.path())) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"secret.txt"});
}

}  // namespace
}  // namespace vesmara
