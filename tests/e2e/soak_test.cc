// A soak through the public interface: eight threads read and download the
// resources of a published site, each through a site handle of its own,
// and take turns (under a mutex) with one shared handle whose calls another
// thread cancels; against nginx over plain HTTP and over HTTPS, for a
// bounded time. Every byte delivered is compared with the published content;
// a cancelled call returns 7 and delivers nothing (no buffer byte written, no
// file, no temporary).
//
// Each protocol runs for VKR_SOAK_SECONDS seconds (2 when unset);
// scripts/soak runs it for longer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
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
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 8;

std::chrono::milliseconds soakDuration() {
  const char* seconds = std::getenv("VKR_SOAK_SECONDS");
  const double value = seconds != nullptr ? std::atof(seconds) : 0;
  return std::chrono::milliseconds(static_cast<long long>((value > 0 ? value : 2) * 1000));
}

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What a call on the shared handle meets.
enum class SharedCancel {
  None,        // runs to the end
  DuringCall,  // cancelled when any other thread's call ends next
  BeforeCall,  // cancelled before it starts
};

// The operation of the running shared call, which the canceller cancels at
// the next event (another call ending) after it was posted.
class Canceller {
 public:
  Canceller() : thread_([this] { run(); }) {}
  ~Canceller() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void post(vkr_preview_operation* operation) {
    const std::lock_guard<std::mutex> lock(mutex_);
    posted_ = operation;
    endings_at_post_ = endings_;
    changed_.notify_all();
  }
  // After this the canceller no longer touches the operation.
  void retract() {
    const std::lock_guard<std::mutex> lock(mutex_);
    posted_ = nullptr;
  }
  // A call on some other handle ended.
  void callEnded() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++endings_;
    changed_.notify_all();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return stopping_ || (posted_ != nullptr && endings_ > endings_at_post_); });
      if (stopping_) return;
      vkr_preview_operation_cancel(posted_);
      posted_ = nullptr;
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  vkr_preview_operation* posted_ = nullptr;
  std::uint64_t endings_ = 0;
  std::uint64_t endings_at_post_ = 0;
  std::thread thread_;  // last: starts once the rest is ready
};

struct Tally {
  std::atomic<std::uint64_t> calls{0};
  std::atomic<std::uint64_t> shared_calls{0};
  std::atomic<std::uint64_t> cancelled{0};
  std::atomic<std::uint64_t> cancelled_during_call{0};
  std::atomic<std::uint64_t> bytes_checked{0};
};

class SoakTest : public testing::TestWithParam<test::Protocol> {
 protected:
  void SetUp() override {
    if (GetParam() == test::Protocol::Https && test::TestTls::get() == nullptr) {
      GTEST_SKIP() << "HTTPS: " << test::TestTls::unavailableReason();
    }
    key_.assign(32, 0x5A);
    sources_ = {
        {.name = "index.html", .mime = "text/html", .bytes = test::TestOrigin::makeByteVector(2000, 1)},
        {.name = "data/parts.bin",
         .mime = "application/octet-stream",
         .bytes = test::TestOrigin::makeByteVector(700000, 2)},
        {.name = "data/small.txt", .mime = "text/plain", .bytes = test::TestOrigin::makeByteVector(37, 3)},
        {.name = "members/guide.bin",
         .mime = "application/octet-stream",
         .bytes = test::TestOrigin::makeByteVector(150000, 4),
         .members = true},
        {.name = "members/note.txt",
         .mime = "text/plain",
         .bytes = test::TestOrigin::makeByteVector(900, 5),
         .members = true},
    };
    publish::SiteOptions options;
    options.part_size = 65536;
    options.carrier_count = 3;
    SecretKey key;
    std::copy(key_.begin(), key_.end(), key.mutableBytes().begin());
    options.member_key = key;
    const auto crypto = defaultPlatform().makeCryptoHost();
    publish::BuiltSite site;
    Failure failure;
    ASSERT_TRUE(publish::buildSite(*crypto, sources_, options, site, failure)) << failure.message;
    ASSERT_TRUE(publish::writeOriginTree(site.files, work_ / "site", failure)) << failure.message;
    server_ = std::make_unique<test::NginxServer>(work_ / "site", GetParam());
    ASSERT_TRUE(server_->started()) << server_->error();
  }

  vkr_preview_site* openSite() {
    const std::string origin = server_->origin();
    vkr_preview_site* site = nullptr;
    char message[256] = {};
    EXPECT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message, sizeof message),
              VKR_PREVIEW_OK)
        << message;
    return site;
  }

  // One read or download of `source` on `site`, under `operation` when one
  // is given; "" when its outcome is sound, else what was wrong.
  std::string exercise(vkr_preview_site* site, vkr_preview_operation* operation, const publish::SourceFile& source,
                       bool download, const fs::path& folder, bool may_cancel, Tally& tally,
                       vkr_preview_status& status) {
    const std::string path = siteRootPath("app/" + source.name);
    const std::uint8_t* key = source.members ? key_.data() : nullptr;
    const std::uint64_t key_length = source.members ? key_.size() : 0;
    char message[256] = {};
    Bytes delivered;
    if (download) {
      const std::string destination = (folder / "out.bin").string();
      std::uint64_t written = 99;
      status = operation != nullptr
                   ? vkr_preview_site_download_operation(site, operation, path.data(), path.size(), key, key_length,
                                                         destination.data(), destination.size(), &written, message,
                                                         sizeof message)
                   : vkr_preview_site_download(site, path.data(), path.size(), key, key_length, destination.data(),
                                               destination.size(), &written, message, sizeof message);
      if (status == VKR_PREVIEW_OK) {
        if (written != source.bytes.size()) return "download reported " + std::to_string(written) + " bytes";
        delivered = readFile(destination);
        fs::remove(destination);
      } else if (written != 0) {
        return "a failed download reported " + std::to_string(written) + " bytes";
      }
      if (!fs::is_empty(folder)) return "the download left a file behind";
    } else {
      Bytes buffer(source.bytes.size(), 0xA5);
      std::uint64_t length = 0;
      status =
          operation != nullptr
              ? vkr_preview_site_read_memory_operation(site, operation, path.data(), path.size(), key, key_length,
                                                       buffer.data(), buffer.size(), &length, message, sizeof message)
              : vkr_preview_site_read_memory(site, path.data(), path.size(), key, key_length, buffer.data(),
                                             buffer.size(), &length, message, sizeof message);
      if (status != VKR_PREVIEW_OK && buffer != Bytes(source.bytes.size(), 0xA5)) {
        return "a failed read wrote into the buffer";
      }
      if (status == VKR_PREVIEW_OK) {
        if (length != source.bytes.size()) return "read reported " + std::to_string(length) + " bytes";
        delivered = std::move(buffer);
      }
    }
    ++tally.calls;
    if (status == VKR_PREVIEW_CANCELLED && may_cancel) {
      ++tally.cancelled;
      return "";
    }
    if (status != VKR_PREVIEW_OK) return "status " + std::to_string(status) + ": " + message;
    if (delivered != source.bytes) return "the bytes delivered differ from the published ones";
    tally.bytes_checked += delivered.size();
    return "";
  }

  const test::TempDir temp_{"vkr-soak"};
  const fs::path work_ = temp_.path();
  Bytes key_;
  std::vector<publish::SourceFile> sources_;
  std::unique_ptr<test::NginxServer> server_;
};

TEST_P(SoakTest, EveryByteDeliveredIsPublishedAndEveryCancelDeliversNothing) {
  vkr_preview_site* shared = openSite();
  ASSERT_NE(shared, nullptr);
  std::mutex shared_mutex;
  std::uint64_t shared_turns = 0;  // guarded by shared_mutex
  Tally tally;
  std::atomic<bool> failed{false};
  const auto duration = soakDuration();
  const auto start = Clock::now();
  const auto deadline = start + duration;
  {
    Canceller canceller;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const fs::path folder = work_ / ("thread-" + std::to_string(t));
        fs::create_directory(folder);
        vkr_preview_site* own = openSite();
        if (own == nullptr) {
          failed = true;
          return;
        }
        std::mt19937 random(static_cast<std::uint32_t>(t + 1));
        while (!failed && Clock::now() < deadline) {
          const publish::SourceFile& source = sources_[random() % sources_.size()];
          const bool download = random() % 3 == 0;
          std::string fault;
          vkr_preview_status status = VKR_PREVIEW_OK;
          if (random() % 4 == 0) {
            const std::lock_guard<std::mutex> lock(shared_mutex);
            const auto cancel = static_cast<SharedCancel>(shared_turns++ % 3);
            vkr_preview_operation* operation = nullptr;
            if (vkr_preview_operation_prepare(&operation) != VKR_PREVIEW_OK) {
              fault = "no operation";
            } else {
              if (cancel == SharedCancel::BeforeCall) vkr_preview_operation_cancel(operation);
              if (cancel == SharedCancel::DuringCall) canceller.post(operation);
              fault =
                  exercise(shared, operation, source, download, folder, cancel != SharedCancel::None, tally, status);
              canceller.retract();
              vkr_preview_operation_release(operation);
              if (fault.empty() && cancel == SharedCancel::BeforeCall && status != VKR_PREVIEW_CANCELLED) {
                fault = "a call cancelled before it started ran";
              }
              if (cancel == SharedCancel::DuringCall && status == VKR_PREVIEW_CANCELLED) ++tally.cancelled_during_call;
            }
            ++tally.shared_calls;
          } else {
            fault = exercise(own, nullptr, source, download, folder, /*may_cancel=*/false, tally, status);
            canceller.callEnded();
          }
          if (!fault.empty() && !failed.exchange(true)) {
            ADD_FAILURE() << source.name << (download ? " download" : " read") << ": " << fault;
          }
        }
        vkr_preview_site_release(own);
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  vkr_preview_site_release(shared);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::cout << "soak over " << test::protocolName(GetParam()) << ": " << kThreads << " threads, " << seconds << " s, "
            << tally.calls << " calls (" << tally.shared_calls << " on the shared site, " << tally.cancelled
            << " cancelled, " << tally.cancelled_during_call << " of them while running), " << tally.bytes_checked
            << " bytes checked\n";
  EXPECT_FALSE(failed);
  EXPECT_GT(tally.bytes_checked, 0u);
  EXPECT_GT(tally.cancelled, 0u);
}

INSTANTIATE_TEST_SUITE_P(, SoakTest, testing::Values(test::Protocol::Http, test::Protocol::Https),
                         test::ProtocolName());

}  // namespace
}  // namespace vesmara
