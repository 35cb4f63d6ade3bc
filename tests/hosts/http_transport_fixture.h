// The library's own HTTP client of this build (libcurl on Linux, WinHTTP on
// Windows) against the loopback test origin: the cases both transports share
// are http_transport_test.cc, each transport's own cases use the same
// fixture.
#ifndef VESMARA_TESTS_HOSTS_HTTP_TRANSPORT_FIXTURE_H_
#define VESMARA_TESTS_HOSTS_HTTP_TRANSPORT_FIXTURE_H_

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/platform_http_host.h"
#include "support/test_origin.h"

namespace vesmara::test {

inline std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Short limits keep the suite fast; the defaults are checked separately.
// The stall limit is long enough for a loaded machine under a sanitizer.
inline constexpr auto kQuickStall = std::chrono::milliseconds(1000);
inline PlatformHttpOptions quickOptions() {
  PlatformHttpOptions options;
  options.connect_timeout = std::chrono::milliseconds(2000);
  options.limits.stall_timeout = kQuickStall;
  return options;
}

class HttpTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = TestOrigin::makeBytes(10240);
    origin_.addFile("/data/file.bin", file_);
  }

  std::unique_ptr<PlatformHttpHost> makeHost(PlatformHttpOptions options = quickOptions()) {
    std::string message = "junk";
    auto host = std::make_unique<PlatformHttpHost>(origin_.origin(), message, std::move(options));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(host->originValid());
    return host;
  }

  // Runs one fetch into a response prefilled with junk; a failure must
  // leave it empty and carry the transport's kind, and a success must leave
  // the failure clear.
  std::string run(const PlatformHttpHost& host, const std::function<bool(HttpResponse&, Failure&)>& fetch) {
    response_.status = 999;
    response_.valid = true;
    response_.content_range = "junk";
    response_.etag = "junk";
    response_.body = {1, 2, 3};
    Failure failure{"junk", FailureKind::Internal};
    const bool ok = fetch(response_, failure);
    EXPECT_EQ(ok, failure.message.empty()) << failure.message;
    EXPECT_EQ(failure.kind, ok                   ? FailureKind::None
                            : host.isCancelled() ? FailureKind::Cancelled
                                                 : FailureKind::Transport);
    if (!ok) {
      EXPECT_EQ(response_.status, 0u);
      EXPECT_FALSE(response_.valid);
      EXPECT_TRUE(response_.content_range.empty());
      EXPECT_TRUE(response_.etag.empty());
      EXPECT_TRUE(response_.body.empty());
    }
    return failure.message;
  }

  std::string range(PlatformHttpHost& host, std::string_view path, std::uint64_t first, std::uint64_t last,
                    std::uint64_t bound = 1 << 20) {
    return run(host, [&](HttpResponse& r, Failure& f) { return host.fetchRange(path, first, last, bound, r, f); });
  }
  std::string suffix(PlatformHttpHost& host, std::string_view path, std::uint64_t length,
                     std::uint64_t bound = 1 << 20) {
    return run(host, [&](HttpResponse& r, Failure& f) { return host.fetchSuffix(path, length, bound, r, f); });
  }
  std::string whole(PlatformHttpHost& host, std::string_view path, std::uint64_t bound = 1 << 20) {
    return run(host, [&](HttpResponse& r, Failure& f) { return host.fetchWhole(path, bound, r, f); });
  }

  TestOrigin origin_;  // declared first: outlives every host of a test
  std::string file_;
  HttpResponse response_;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_HOSTS_HTTP_TRANSPORT_FIXTURE_H_
