#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "hosts/platform.h"
#include "index/carrier_format.h"
#include "index/paths.h"
#include "publish/site_builder.h"
#include "support/site_fixture.h"
#include "support/test_origin.h"
#include "vkr_preview.h"

namespace vesmara {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string getString(vkr_preview_status (*getter)(vkr_preview_site*, char*, uint64_t, uint64_t*),
                      vkr_preview_site* site) {
  char buffer[600];
  std::uint64_t length = 0;
  EXPECT_EQ(getter(site, buffer, sizeof buffer, &length), VKR_PREVIEW_OK);
  return std::string(buffer, length);
}

std::string resourceString(vkr_preview_site* site, std::uint64_t index, std::uint32_t field) {
  char buffer[600];
  std::uint64_t length = 0;
  EXPECT_EQ(vkr_preview_site_resource_string(site, index, field, buffer, sizeof buffer, &length), VKR_PREVIEW_OK);
  return std::string(buffer, length);
}

class SiteExportsTest : public testing::Test {
 protected:
  void SetUp() override {
    SiteIndex index = test::makeSiteIndex(3);
    index.member_key_id = "members-2026";
    index.resources[0].access = "public";
    index.resources[1].access = "public";
    index.resources[1].delivery = "download";
    ResourcePart& part = index.resources[2].parts[0];  // a members resource: no "access"
    part.length = part.plain_length + 16;
    part.nonce = std::string(24, '0');
    site_ = test::buildSite(*crypto_, index);
    origin_.addFile("/favicon.ico", site_.favicon);
  }

  vkr_preview_site* prepare(const std::string& origin) {
    vkr_preview_site* site = nullptr;
    EXPECT_EQ(vkr_preview_site_prepare(origin.data(), origin.size(), &site, message_, sizeof message_), VKR_PREVIEW_OK)
        << message_;
    return site;
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  test::TestOrigin origin_;
  test::BuiltSite site_;
  char message_[256] = {};
};

TEST_F(SiteExportsTest, PrepareLoadAndQuery) {
  vkr_preview_site* site = prepare(origin_.origin() + "/");
  EXPECT_EQ(origin_.requestCount(), 0u);  // preparing makes no request
  ASSERT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(origin_.requestCount(), 2u);

  EXPECT_EQ(getString(vkr_preview_site_entry_path, site), siteRootPath("app/index.html"));
  EXPECT_EQ(getString(vkr_preview_site_member_key_id, site), "members-2026");
  std::uint64_t count = 0;
  ASSERT_EQ(vkr_preview_site_resource_count(site, &count), VKR_PREVIEW_OK);
  ASSERT_EQ(count, 3u);
  std::uint64_t length = 0;
  EXPECT_EQ(vkr_preview_site_resource_length(site, 2, &length), VKR_PREVIEW_OK);
  EXPECT_EQ(length, 12u);
  EXPECT_EQ(vkr_preview_site_resource_length(site, 3, &length), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(length, 0u);

  EXPECT_EQ(resourceString(site, 0, VKR_PREVIEW_RESOURCE_ACCESS), "public");
  EXPECT_EQ(resourceString(site, 2, VKR_PREVIEW_RESOURCE_ACCESS), "members");
  EXPECT_EQ(resourceString(site, 0, VKR_PREVIEW_RESOURCE_DELIVERY), "app");
  EXPECT_EQ(resourceString(site, 1, VKR_PREVIEW_RESOURCE_DELIVERY), "download");
  EXPECT_EQ(resourceString(site, 1, VKR_PREVIEW_RESOURCE_MIME), "application/octet-stream");
  EXPECT_EQ(resourceString(site, 1, VKR_PREVIEW_RESOURCE_SHA256), std::string(64, 'a'));
  EXPECT_EQ(resourceString(site, 1, VKR_PREVIEW_RESOURCE_PATH), siteRootPath("app/r1001.bin"));
  char buffer[8];
  EXPECT_EQ(vkr_preview_site_resource_string(site, 0, 6, buffer, sizeof buffer, &length), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_resource_string(site, 0, 0, buffer, sizeof buffer, &length), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_resource_path(site, 0, buffer, sizeof buffer, &length), VKR_PREVIEW_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, siteRootPath("app/index.html").size());

  // A site is loaded once.
  EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_WRONG_STATE);
  EXPECT_STREQ(message_, "");
  EXPECT_EQ(vkr_preview_site_resource_count(site, &count), VKR_PREVIEW_OK);
  vkr_preview_site_release(site);
}

TEST_F(SiteExportsTest, PrepareRefusals) {
  vkr_preview_site* site = reinterpret_cast<vkr_preview_site*>(0x1);
  const std::string plain = "http://example.com";
  EXPECT_EQ(vkr_preview_site_prepare(plain.data(), plain.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(site, nullptr);
  EXPECT_STREQ(message_, "Plain HTTP is restricted to loopback development");

  const std::string good = origin_.origin();
  EXPECT_EQ(vkr_preview_site_prepare(good.data(), good.size(), nullptr, message_, sizeof message_),
            VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_prepare(good.data(), 0, &site, message_, sizeof message_), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_prepare(good.data(), good.size(), &site, nullptr, 4), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(
      vkr_preview_site_prepare_callback(good.data(), good.size(), nullptr, nullptr, &site, message_, sizeof message_),
      VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_STREQ(message_, "");
  EXPECT_EQ(site, nullptr);
}

TEST_F(SiteExportsTest, StatesPreparedSpentLoaded) {
  vkr_preview_site* site = prepare(origin_.origin());
  std::uint64_t length = 99;
  char buffer[8];
  // Prepared: queries are refused; the entry path checks the state before out_length.
  EXPECT_EQ(vkr_preview_site_entry_path(site, buffer, sizeof buffer, nullptr), VKR_PREVIEW_WRONG_STATE);
  EXPECT_EQ(vkr_preview_site_resource_path(site, 0, buffer, sizeof buffer, nullptr), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_resource_count(site, &length), VKR_PREVIEW_WRONG_STATE);
  // External input outside 1 to 1 MiB is an argument error that keeps the site Prepared.
  const Bytes big(carrier::kMaxExternalInput + 1, 'x');
  EXPECT_EQ(vkr_preview_site_load_external(site, big.data(), 0, message_, sizeof message_), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_load_external(site, big.data(), big.size(), message_, sizeof message_),
            VKR_PREVIEW_INVALID_ARGUMENT);
  // A failed load leaves the site Spent.
  origin_.removeFile("/favicon.ico");
  EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_TRANSPORT_FAILURE);
  EXPECT_STRNE(message_, "");
  origin_.addFile("/favicon.ico", site_.favicon);
  EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_WRONG_STATE);
  EXPECT_EQ(vkr_preview_site_resource_count(site, &length), VKR_PREVIEW_WRONG_STATE);
  vkr_preview_site_release(site);

  // A cancel before the first load: 7 without a request, and the site is Spent.
  site = prepare(origin_.origin());
  origin_.clearLog();
  vkr_preview_site_cancel(site);
  EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_CANCELLED);
  EXPECT_STREQ(message_, "");
  EXPECT_EQ(origin_.requestCount(), 0u);
  EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_WRONG_STATE);
  vkr_preview_site_release(site);
  vkr_preview_site_release(nullptr);
  vkr_preview_site_cancel(nullptr);
}

TEST_F(SiteExportsTest, OpenLeavesNothingBehindOnFailure) {
  const std::string origin = origin_.origin();
  vkr_preview_site* site = reinterpret_cast<vkr_preview_site*>(0x1);
  EXPECT_EQ(vkr_preview_site_open_external(origin.data(), origin.size(), nullptr, 5, &site, message_, sizeof message_),
            VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(site, nullptr);
  ASSERT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_OK);
  ASSERT_NE(site, nullptr);
  vkr_preview_site_release(site);

  origin_.setGlobalBehaviour({.wrongContentRange = true});
  site = reinterpret_cast<vkr_preview_site*>(0x1);
  EXPECT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_INTEGRITY_FAILURE);
  EXPECT_STREQ(message_, "Invalid favicon footer range");
  EXPECT_EQ(site, nullptr);
}

TEST_F(SiteExportsTest, LoadOverTheWire) {
  const auto load_message = [&]() {
    vkr_preview_site* site = prepare(origin_.origin());
    const vkr_preview_status status = vkr_preview_site_load_hosted(site, message_, sizeof message_);
    vkr_preview_site_release(site);
    return std::make_pair(status, std::string(message_));
  };
  // A server that ignores ranges sends the whole favicon twice; it is accepted.
  origin_.setGlobalBehaviour({.ignoreRanges = true});
  EXPECT_EQ(load_message(), std::make_pair(VKR_PREVIEW_OK, std::string()));
  // A favicon replaced between the two requests: different strong ETags.
  origin_.setGlobalBehaviour({.changeEtag = true});
  EXPECT_EQ(load_message(),
            std::make_pair(VKR_PREVIEW_INTEGRITY_FAILURE, std::string("Favicon changed during index load")));
  // A weak first ETag skips the comparison.
  origin_.setGlobalBehaviour({.changeEtag = true, .etag = std::string("W/\"weak\"")});
  EXPECT_EQ(load_message().first, VKR_PREVIEW_OK);
  origin_.setGlobalBehaviour({.content_range = std::string("bytes 0-127/129")});
  EXPECT_EQ(load_message(), std::make_pair(VKR_PREVIEW_INTEGRITY_FAILURE, std::string("Invalid favicon footer range")));
  origin_.clearBehaviours();
  origin_.addFile("/favicon.ico", std::string(127, 'x'));
  EXPECT_EQ(load_message(), std::make_pair(VKR_PREVIEW_INTEGRITY_FAILURE,
                                           std::string("Favicon footer response is unavailable or unsafe")));
}

TEST_F(SiteExportsTest, Operations) {
  vkr_preview_operation* operation = nullptr;
  ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
  EXPECT_EQ(vkr_preview_operation_prepare(nullptr), VKR_PREVIEW_INVALID_ARGUMENT);
  vkr_preview_site* site = prepare(origin_.origin());

  // Cancelled before use: 7, no request, and the site stays Prepared.
  vkr_preview_operation_cancel(operation);
  EXPECT_EQ(vkr_preview_site_load_hosted_operation(site, operation, message_, sizeof message_), VKR_PREVIEW_CANCELLED);
  EXPECT_EQ(origin_.requestCount(), 0u);
  EXPECT_EQ(vkr_preview_site_load_hosted_operation(site, operation, message_, sizeof message_),
            VKR_PREVIEW_WRONG_STATE);
  vkr_preview_operation_release(operation);

  // A direct cancel does not reach an operation-bound call: binding clears it.
  vkr_preview_site_cancel(site);
  ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
  EXPECT_EQ(vkr_preview_site_load_hosted_operation(site, operation, message_, sizeof message_), VKR_PREVIEW_OK)
      << message_;
  vkr_preview_operation_cancel(operation);  // after the call: no effect
  std::uint64_t count = 0;
  EXPECT_EQ(vkr_preview_site_resource_count(site, &count), VKR_PREVIEW_OK);
  EXPECT_EQ(vkr_preview_site_load_hosted_operation(site, operation, message_, sizeof message_),
            VKR_PREVIEW_WRONG_STATE);
  EXPECT_EQ(vkr_preview_site_load_hosted_operation(nullptr, operation, message_, sizeof message_),
            VKR_PREVIEW_INVALID_ARGUMENT);
  vkr_preview_operation_release(operation);
  vkr_preview_operation_release(nullptr);
  vkr_preview_operation_cancel(nullptr);
  vkr_preview_site_release(site);
}

TEST_F(SiteExportsTest, CancelDuringAStalledLoad) {
  origin_.setGlobalBehaviour({.stallBeforeHead = std::chrono::milliseconds(20000)});
  std::size_t stalls = 0;
  for (const bool through_operation : {false, true}) {
    vkr_preview_site* site = prepare(origin_.origin());
    vkr_preview_operation* operation = nullptr;
    ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
    std::chrono::steady_clock::time_point cancelled_at;
    bool stalled = false;
    std::thread canceller([&, stall = ++stalls] {
      stalled = origin_.waitForStalls(stall);  // the load is stuck on its request
      cancelled_at = std::chrono::steady_clock::now();
      if (through_operation) {
        vkr_preview_operation_cancel(operation);
      } else {
        vkr_preview_site_cancel(site);
      }
    });
    const vkr_preview_status status =
        through_operation ? vkr_preview_site_load_hosted_operation(site, operation, message_, sizeof message_)
                          : vkr_preview_site_load_hosted(site, message_, sizeof message_);
    const auto returned_at = std::chrono::steady_clock::now();
    canceller.join();
    ASSERT_TRUE(stalled);
    EXPECT_EQ(status, VKR_PREVIEW_CANCELLED) << message_;
    EXPECT_LT(returned_at - cancelled_at, std::chrono::seconds(5));
    EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_WRONG_STATE);
    vkr_preview_operation_release(operation);
    vkr_preview_site_release(site);
  }
}

// The caller transport: every request goes to this callback, which serves
// files from memory.
struct MemoryOrigin {
  std::string origin;
  std::map<std::string, Bytes> files;
  std::string url;  // kept alive until the next call
  Bytes body;
  int calls = 0;
  bool cancel_next = false;
};

uint32_t serveFromMemory(void* user_data, uint32_t kind, const uint8_t* path, uint64_t path_length, uint64_t first,
                         uint64_t last, uint64_t bound, vkr_preview_http_response* response) {
  auto& server = *static_cast<MemoryOrigin*>(user_data);
  ++server.calls;
  if (server.cancel_next) return VKR_PREVIEW_CALLBACK_CANCELLED;
  const std::string name(reinterpret_cast<const char*>(path), path_length);
  const auto file = server.files.find(name);
  if (file == server.files.end()) return 1;
  const Bytes& bytes = file->second;
  if (kind == VKR_PREVIEW_FETCH_SUFFIX) {
    first = bytes.size() - std::min<std::uint64_t>(first, bytes.size());
    last = bytes.size() - 1;
  } else if (kind == VKR_PREVIEW_FETCH_WHOLE) {
    first = 0;
    last = bytes.size() - 1;
  }
  server.body.assign(bytes.begin() + first, bytes.begin() + last + 1);
  if (server.body.size() > bound) return 1;
  server.url = server.origin + name;
  response->status = kind == VKR_PREVIEW_FETCH_WHOLE ? 200 : 206;
  response->final_url = reinterpret_cast<const uint8_t*>(server.url.data());
  response->final_url_length = server.url.size();
  response->body = server.body.data();
  response->body_length = server.body.size();
  static thread_local std::string range;
  range = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(bytes.size());
  if (kind != VKR_PREVIEW_FETCH_WHOLE) {
    response->content_range = reinterpret_cast<const uint8_t*>(range.data());
    response->content_range_length = range.size();
  }
  return 0;
}

TEST_F(SiteExportsTest, CallerTransport) {
  MemoryOrigin server{.origin = "https://sites.example"};
  server.files["/favicon.ico"] = site_.favicon;
  const std::string origin = server.origin + "/";
  vkr_preview_site* site = nullptr;
  ASSERT_EQ(vkr_preview_site_prepare_callback(origin.data(), origin.size(), serveFromMemory, &server, &site, message_,
                                              sizeof message_),
            VKR_PREVIEW_OK);
  EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(server.calls, 2);

  vkr_preview_site_release(site);

  // A published site with real parts, read through the callback.
  publish::SiteOptions options;
  options.seed = 5;
  publish::BuiltSite published;
  Failure failure;
  ASSERT_TRUE(publish::buildSite(*crypto_,
                                 {{.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}},
                                  {.name = "r1001.bin", .mime = "text/plain", .bytes = Bytes(11, 'x')}},
                                 options, published, failure))
      << failure.message;
  server.files.clear();
  for (const auto& [path, bytes] : published.files) server.files[path] = bytes;
  ASSERT_EQ(vkr_preview_site_prepare_callback(origin.data(), origin.size(), serveFromMemory, &server, &site, message_,
                                              sizeof message_),
            VKR_PREVIEW_OK);
  ASSERT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_OK) << message_;

  // A callback answering "cancelled" during a read leaves the site cancelled:
  // the next plain read fails at once without calling it; an operation-bound
  // read clears the flag and succeeds.
  const std::string path = siteRootPath("app/r1001.bin");
  Bytes out(100);
  std::uint64_t length = 0;
  server.cancel_next = true;
  EXPECT_EQ(vkr_preview_site_read_memory(site, path.data(), path.size(), nullptr, 0, out.data(), out.size(), &length,
                                         message_, sizeof message_),
            VKR_PREVIEW_CANCELLED);
  server.cancel_next = false;
  const int calls = server.calls;
  EXPECT_EQ(vkr_preview_site_read_memory(site, path.data(), path.size(), nullptr, 0, out.data(), out.size(), &length,
                                         message_, sizeof message_),
            VKR_PREVIEW_CANCELLED);
  EXPECT_EQ(server.calls, calls);
  vkr_preview_operation* operation = nullptr;
  ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
  EXPECT_EQ(vkr_preview_site_read_memory_operation(site, operation, path.data(), path.size(), nullptr, 0, out.data(),
                                                   out.size(), &length, message_, sizeof message_),
            VKR_PREVIEW_OK)
      << message_;
  EXPECT_EQ(length, 11u);
  vkr_preview_operation_release(operation);
  vkr_preview_site_release(site);

  // A callback that answers "cancelled" leaves the site cancelled.
  server.cancel_next = true;
  ASSERT_EQ(vkr_preview_site_prepare_callback(origin.data(), origin.size(), serveFromMemory, &server, &site, message_,
                                              sizeof message_),
            VKR_PREVIEW_OK);
  EXPECT_EQ(vkr_preview_site_load_hosted(site, message_, sizeof message_), VKR_PREVIEW_CANCELLED);
  EXPECT_STREQ(message_, "HTTP read cancelled");
  vkr_preview_site_release(site);
}

// A caller transport that holds its first request until released, so that
// a load stays in progress while other threads use the same handle.
struct HeldOrigin {
  std::promise<void> entered;
  std::shared_future<void> release;
};

uint32_t holdRequest(void* user_data, uint32_t, const uint8_t*, uint64_t, uint64_t, uint64_t, uint64_t,
                     vkr_preview_http_response*) {
  auto& origin = *static_cast<HeldOrigin*>(user_data);
  origin.entered.set_value();
  origin.release.wait();
  return 1;
}

TEST_F(SiteExportsTest, AHandleInUseRefusesEveryOtherCallUntouched) {
  std::promise<void> release;
  HeldOrigin held{.release = release.get_future().share()};
  const std::string origin = "https://sites.example";
  vkr_preview_site* site = nullptr;
  ASSERT_EQ(vkr_preview_site_prepare_callback(origin.data(), origin.size(), holdRequest, &held, &site, message_,
                                              sizeof message_),
            VKR_PREVIEW_OK);
  std::thread loader([site] { vkr_preview_site_load_hosted(site, nullptr, 0); });
  held.entered.get_future().wait();

  const std::string path = siteRootPath("app/index.html");
  vkr_preview_operation* operation = nullptr;
  ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
  std::uint64_t length = 7;
  std::uint8_t buffer[8];
  char message[16] = "untouched";
  const std::pair<const char*, vkr_preview_status> calls[] = {
      {"load", vkr_preview_site_load_hosted(site, message, sizeof message)},
      {"load under an operation", vkr_preview_site_load_hosted_operation(site, operation, message, sizeof message)},
      {"count", vkr_preview_site_resource_count(site, &length)},
      {"entry", vkr_preview_site_entry_path(site, nullptr, 0, &length)},
      {"read", vkr_preview_site_read_memory(site, path.data(), path.size(), nullptr, 0, buffer, sizeof buffer, &length,
                                            message, sizeof message)},
      {"download", vkr_preview_site_download(site, path.data(), path.size(), nullptr, 0, "/tmp/x", 6, &length, message,
                                             sizeof message)},
  };
  for (const auto& [name, status] : calls) EXPECT_EQ(status, VKR_PREVIEW_WRONG_STATE) << name;
  EXPECT_EQ(length, 7u);
  EXPECT_STREQ(message, "untouched");

  release.set_value();
  loader.join();
  // The refused operation was never started: it still serves one call.
  EXPECT_EQ(vkr_preview_site_resource_count(site, nullptr), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_site_load_hosted_operation(site, operation, message, sizeof message), VKR_PREVIEW_WRONG_STATE);
  vkr_preview_operation_release(operation);
  vkr_preview_site_release(site);
}

}  // namespace
}  // namespace vesmara
