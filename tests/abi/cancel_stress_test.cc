// Cancellation at every point of a multi-part download and of a load: every
// outcome is either complete success or a clean cancellation, never
// anything in between. Run under ThreadSanitizer by CI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hosts/platform.h"
#include "index/paths.h"
#include "publish/site_builder.h"
#include "support/temp_dir.h"
#include "support/test_origin.h"
#include "vkr_preview.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// An origin served through the caller transport that cancels the running
// operation from another thread when it receives request number `cancel_at`.
struct CancellingOrigin {
  std::string origin = "https://stress.example";
  std::map<std::string, Bytes> files;
  std::atomic<vkr_preview_operation*> operation{nullptr};
  int cancel_at = -1;
  int requests = 0;
  std::string url;
  std::string range;
  Bytes body;
};

uint32_t serve(void* user_data, uint32_t kind, const uint8_t* path, uint64_t path_length, uint64_t first, uint64_t last,
               uint64_t, vkr_preview_http_response* response) {
  auto& server = *static_cast<CancellingOrigin*>(user_data);
  if (++server.requests == server.cancel_at) {
    std::thread([&server] { vkr_preview_operation_cancel(server.operation.load()); }).join();
  }
  const std::string name(reinterpret_cast<const char*>(path), path_length);
  const Bytes& bytes = server.files.at(name);
  if (kind == VKR_PREVIEW_FETCH_SUFFIX) {
    first = bytes.size() - first;
    last = bytes.size() - 1;
  }
  server.body.assign(bytes.begin() + static_cast<std::ptrdiff_t>(first),
                     bytes.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  server.url = server.origin + name;
  server.range = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(bytes.size());
  response->status = 206;
  response->final_url = reinterpret_cast<const uint8_t*>(server.url.data());
  response->final_url_length = server.url.size();
  response->content_range = reinterpret_cast<const uint8_t*>(server.range.data());
  response->content_range_length = server.range.size();
  response->body = server.body.data();
  response->body_length = server.body.size();
  return 0;
}

class CancelStressTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string bytes = test::TestOrigin::makeBytes(200000, 11);
    publish::SiteOptions options;
    options.part_size = 20000;  // ten parts
    options.carrier_count = 3;
    const std::vector<publish::SourceFile> sources = {
        {.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}},
        {.name = "data.bin", .mime = "application/octet-stream", .bytes = Bytes(bytes.begin(), bytes.end())}};
    Failure failure;
    auto crypto = defaultPlatform().makeCryptoHost();
    ASSERT_TRUE(publish::buildSite(*crypto, sources, options, site_, failure)) << failure.message;
    expected_ = sources[1].bytes;
  }

  publish::BuiltSite site_;
  Bytes expected_;
  const test::TempDir temp_{"vkr-stress"};
  const fs::path directory_ = temp_.path();
  char message_[256] = {};
};

TEST_F(CancelStressTest, CancelAtEveryRequestOfALoadAndADownload) {
  int outcomes_cancelled = 0;
  int outcomes_complete = 0;
  for (int cancel_at = 1; cancel_at <= 16; ++cancel_at) {
    CancellingOrigin server;
    server.files = site_.files;
    vkr_preview_site* site = nullptr;
    ASSERT_EQ(vkr_preview_site_prepare_callback(server.origin.data(), server.origin.size(), serve, &server, &site,
                                                message_, sizeof message_),
              VKR_PREVIEW_OK);
    server.cancel_at = cancel_at;
    vkr_preview_operation* operation = nullptr;
    ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
    server.operation = operation;
    const vkr_preview_status loaded = vkr_preview_site_load_hosted_operation(site, operation, message_, sizeof message_);
    vkr_preview_operation_release(operation);
    ASSERT_TRUE(loaded == VKR_PREVIEW_OK || loaded == VKR_PREVIEW_CANCELLED) << loaded << " " << message_;
    if (loaded == VKR_PREVIEW_OK) {
      ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
      server.operation = operation;
      const fs::path target = directory_ / ("data-" + std::to_string(cancel_at) + ".bin");
      const std::string destination = target.string();
      const std::string path = siteRootPath("app/data.bin");
      std::uint64_t written = 0;
      const vkr_preview_status status =
          vkr_preview_site_download_operation(site, operation, path.data(), path.size(), nullptr, 0,
                                              destination.data(), destination.size(), &written, message_,
                                              sizeof message_);
      vkr_preview_operation_release(operation);
      if (status == VKR_PREVIEW_OK) {
        ++outcomes_complete;
        {
          std::ifstream in(target, std::ios::binary);  // closed before the removal, which Windows requires
          EXPECT_EQ(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), expected_);
        }
        fs::remove(target);
      } else {
        ++outcomes_cancelled;
        EXPECT_EQ(status, VKR_PREVIEW_CANCELLED) << message_;
      }
    } else {
      ++outcomes_cancelled;
    }
    EXPECT_TRUE(fs::is_empty(directory_)) << "cancel at request " << cancel_at;
    vkr_preview_site_release(site);
  }
  EXPECT_GT(outcomes_cancelled, 0);
  EXPECT_GT(outcomes_complete, 0);
}

TEST_F(CancelStressTest, CancelAtRandomMomentsOverHttp) {
  test::TestOrigin origin;
  for (const auto& [path, bytes] : site_.files) origin.addFile(path, bytes);
  const std::string origin_text = origin.origin();
  vkr_preview_site* site = nullptr;
  ASSERT_EQ(vkr_preview_site_open_hosted(origin_text.data(), origin_text.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_OK);
  std::mt19937 random(42);
  for (int round = 0; round < 30; ++round) {
    vkr_preview_operation* operation = nullptr;
    ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
    const auto delay = std::chrono::microseconds(random() % 8000);
    std::thread canceller([operation, delay] {
      std::this_thread::sleep_for(delay);
      vkr_preview_operation_cancel(operation);
    });
    const fs::path target = directory_ / "data.bin";
    const std::string destination = target.string();
    const std::string path = siteRootPath("app/data.bin");
    std::uint64_t written = 0;
    const vkr_preview_status status =
        vkr_preview_site_download_operation(site, operation, path.data(), path.size(), nullptr, 0, destination.data(),
                                            destination.size(), &written, message_, sizeof message_);
    canceller.join();
    vkr_preview_operation_release(operation);
    if (status == VKR_PREVIEW_OK) {
      EXPECT_EQ(fs::file_size(target), expected_.size());
      fs::remove(target);
    } else {
      EXPECT_EQ(status, VKR_PREVIEW_CANCELLED) << message_;
    }
    EXPECT_TRUE(fs::is_empty(directory_));
  }
  vkr_preview_site_release(site);
}

}  // namespace
}  // namespace vesmara
