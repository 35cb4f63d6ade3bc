// Requests sent ahead by the libcurl transport: taken over by the fetch that
// asks for exactly them, abandoned or sent again otherwise, and never
// changing what a fetch returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "hosts/posix/curl_http_host.h"
#include "support/test_origin.h"

namespace vesmara {
namespace {

using std::chrono::milliseconds;
using test::TestOrigin;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kBound = 1 << 20;

class CurlPrefetchTest : public testing::Test {
 protected:
  void SetUp() override {
    origin_.addFile("/a.bin", a_);
    origin_.addFile("/b.bin", b_);
    // A slow first answer: the request ahead goes out while it arrives.
    origin_.setBehaviour("/a.bin", {.drip = TestOrigin::Pace{4096, milliseconds(10)}});
  }

  CurlHttpHost host(bool pipelining = true) {
    CurlHttpOptions options;
    options.limits.stall_timeout = milliseconds(2000);
    options.pipelining = pipelining;
    std::string message;
    return CurlHttpHost(origin_.origin(), message, options);
  }

  // Fetches all of /a.bin, expecting its bytes.
  void fetchA(CurlHttpHost& transport) {
    HttpResponse response;
    Failure failure;
    ASSERT_TRUE(transport.fetchRange("/a.bin", 0, a_.size() - 1, kBound, response, failure)) << failure.message;
    EXPECT_EQ(response.body, a_);
  }

  // The requests as "path range", in order.
  std::vector<std::string> requests() const {
    std::vector<std::string> lines;
    for (const auto& request : origin_.requests()) lines.push_back(request.path + " " + request.range);
    return lines;
  }

  TestOrigin origin_;
  const Bytes a_ = TestOrigin::makeByteVector(65536, 1);
  const Bytes b_ = TestOrigin::makeByteVector(200000, 2);
};

TEST_F(CurlPrefetchTest, NextFetchTakesOverOrAbandonsTheRequestAhead) {
  const struct {
    const char* name;
    bool pipelining;
    std::uint64_t next_first;  // of /b.bin, whose prefetch starts at 0
    std::vector<std::string> requests;
    bool second_connection;
  } cases[] = {
      {"taken over", true, 0, {"/a.bin bytes=0-65535", "/b.bin bytes=0-199999"}, true},
      {"pipelining off", false, 0, {"/a.bin bytes=0-65535", "/b.bin bytes=0-199999"}, false},
      {"another range", true, 1, {"/a.bin bytes=0-65535", "/b.bin bytes=0-199999", "/b.bin bytes=1-199999"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    origin_.clearLog();
    CurlHttpHost transport = host(c.pipelining);
    transport.prefetchRange("/b.bin", 0, b_.size() - 1, kBound);
    fetchA(transport);
    HttpResponse response;
    Failure failure;
    ASSERT_TRUE(transport.fetchRange("/b.bin", c.next_first, b_.size() - 1, kBound, response, failure))
        << failure.message;
    EXPECT_EQ(response.body, Bytes(b_.begin() + static_cast<std::ptrdiff_t>(c.next_first), b_.end()));
    EXPECT_EQ(response.status, 206u);
    EXPECT_EQ(requests(), c.requests);
    const auto log = origin_.requests();
    EXPECT_EQ(log.front().remotePort != log[1].remotePort, c.second_connection);
  }
}

// Hints go out together once the answer under way is partial, and are taken
// over in order; a hint for an object already answered whole is never sent
// (that answer may hold its range already).
TEST_F(CurlPrefetchTest, RequestsAheadGoOutTogetherButNotAfterAWholeAnswer) {
  const std::uint64_t half_a = a_.size() / 2;
  const std::uint64_t half_b = b_.size() / 2;
  const struct {
    const char* name;
    bool whole_b;
    std::vector<std::string> requests;
  } cases[] = {
      {"partial answers",
       false,
       {"/a.bin bytes=0-32767", "/a.bin bytes=32768-65535", "/b.bin bytes=0-99999", "/b.bin bytes=100000-199999"}},
      {"b answered whole", true, {"/a.bin bytes=0-32767", "/a.bin bytes=32768-65535", "/b.bin bytes=0-99999"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    origin_.clearLog();
    origin_.setBehaviour("/b.bin", {.ignoreRanges = c.whole_b});
    CurlHttpHost transport = host();
    HttpResponse response;
    Failure failure;
    // While the first half of /a.bin drips in, its second half and the first
    // half of /b.bin go ahead together, and /b.bin's answer arrives.
    transport.prefetchRange("/a.bin", half_a, a_.size() - 1, kBound);
    transport.prefetchRange("/b.bin", 0, half_b - 1, kBound);
    ASSERT_TRUE(transport.fetchRange("/a.bin", 0, half_a - 1, kBound, response, failure)) << failure.message;
    transport.prefetchRange("/b.bin", 0, half_b - 1, kBound);
    transport.prefetchRange("/b.bin", half_b, b_.size() - 1, kBound);
    ASSERT_TRUE(transport.fetchRange("/a.bin", half_a, a_.size() - 1, kBound, response, failure)) << failure.message;
    ASSERT_TRUE(transport.fetchRange("/b.bin", 0, half_b - 1, kBound, response, failure)) << failure.message;
    EXPECT_EQ(response.status, c.whole_b ? 200u : 206u);
    if (!c.whole_b) {
      ASSERT_TRUE(transport.fetchRange("/b.bin", half_b, b_.size() - 1, kBound, response, failure)) << failure.message;
      EXPECT_EQ(response.body, Bytes(b_.begin() + static_cast<std::ptrdiff_t>(half_b), b_.end()));
    }
    std::vector<std::string> seen = requests();
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, c.requests);
  }
}

// A request ahead that failed before its fetch came is sent again, so a
// failure caused by running it early never reaches the caller; one still
// running when cancelled ends the fetch promptly as cancelled.
TEST_F(CurlPrefetchTest, FailedRequestAheadIsSentAgainAndCancellationIsPrompt) {
  origin_.setBehaviour("/b.bin", {.closeMidBody = true});
  CurlHttpHost transport = host();
  transport.prefetchRange("/b.bin", 0, b_.size() - 1, kBound);
  fetchA(transport);
  origin_.setBehaviour("/b.bin", {});
  HttpResponse response;
  Failure failure;
  ASSERT_TRUE(transport.fetchRange("/b.bin", 0, b_.size() - 1, kBound, response, failure)) << failure.message;
  EXPECT_EQ(response.body, b_);
  EXPECT_EQ(requests(),
            (std::vector<std::string>{"/a.bin bytes=0-65535", "/b.bin bytes=0-199999", "/b.bin bytes=0-199999"}));

  origin_.setBehaviour("/b.bin", {.stallBeforeHead = milliseconds(20000)});
  transport.prefetchRange("/b.bin", 0, b_.size() - 1, kBound);
  fetchA(transport);
  std::thread canceller([&] {
    std::this_thread::sleep_for(milliseconds(100));
    transport.cancel();
  });
  const auto start = Clock::now();
  EXPECT_FALSE(transport.fetchRange("/b.bin", 0, b_.size() - 1, kBound, response, failure));
  canceller.join();
  EXPECT_LT(Clock::now() - start, milliseconds(5000));
  EXPECT_EQ(failure.message, "HTTP send failed or cancelled");
  EXPECT_EQ(failure.kind, FailureKind::Cancelled);
  EXPECT_EQ(origin_.requests().size(), 5u);  // the one ahead was taken over, not sent again
}

}  // namespace
}  // namespace vesmara
