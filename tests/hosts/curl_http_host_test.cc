#include "hosts/posix/curl_http_host.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_origin.h"

namespace vesmara {
namespace {

using std::chrono::milliseconds;
using test::TestOrigin;
using Clock = std::chrono::steady_clock;

std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Short limits keep the suite fast; the defaults are checked separately.
CurlHttpOptions quickOptions() {
  CurlHttpOptions options;
  options.connectTimeout = milliseconds(2000);
  options.limits.stall_timeout = milliseconds(1000);  // long enough for a loaded machine under a sanitizer
  return options;
}

class CurlHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = TestOrigin::makeBytes(10240);
    origin_.addFile("/data/file.bin", file_);
  }

  std::unique_ptr<CurlHttpHost> makeHost(CurlHttpOptions options = quickOptions()) {
    std::string message = "junk";
    auto host = std::make_unique<CurlHttpHost>(origin_.origin(), message, std::move(options));
    EXPECT_EQ(message, "");
    EXPECT_TRUE(host->originValid());
    return host;
  }

  // Runs one fetch into a response prefilled with junk; a failure must
  // leave it empty and carry the transport's kind, and a success must leave
  // the failure clear.
  std::string run(const CurlHttpHost& host, const std::function<bool(HttpResponse&, Failure&)>& fetch) {
    response_.status = 999;
    response_.valid = true;
    response_.contentRange = "junk";
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
      EXPECT_TRUE(response_.contentRange.empty());
      EXPECT_TRUE(response_.etag.empty());
      EXPECT_TRUE(response_.body.empty());
    }
    return failure.message;
  }

  std::string range(CurlHttpHost& host, std::string_view path, std::uint64_t first, std::uint64_t last,
                    std::uint64_t bound = 1 << 20) {
    return run(host, [&](HttpResponse& r, Failure& f) { return host.fetchRange(path, first, last, bound, r, f); });
  }
  std::string suffix(CurlHttpHost& host, std::string_view path, std::uint64_t length, std::uint64_t bound = 1 << 20) {
    return run(host, [&](HttpResponse& r, Failure& f) { return host.fetchSuffix(path, length, bound, r, f); });
  }
  std::string whole(CurlHttpHost& host, std::string_view path, std::uint64_t bound = 1 << 20) {
    return run(host, [&](HttpResponse& r, Failure& f) { return host.fetchWhole(path, bound, r, f); });
  }

  TestOrigin origin_;  // declared first: outlives every host of a test
  std::string file_;
  HttpResponse response_;
};

// ---- Construction and the request rules ---------------------------------

TEST_F(CurlHostTest, RefusedOriginLeavesAHostWhoseFetchesFail) {
  std::string message;
  CurlHttpHost host("http://example.com", message);
  EXPECT_EQ(message, "Plain HTTP is restricted to loopback development");
  EXPECT_FALSE(host.originValid());
  EXPECT_EQ(whole(host, "/a"), "HTTP origin is invalid");
  // The argument checks come first.
  EXPECT_EQ(range(host, "/a", 2, 1), "Invalid requested range");
  EXPECT_EQ(suffix(host, "/a", 0), "Invalid requested suffix");

  CurlHttpHost https("https://Example.com:8443/", message);
  EXPECT_EQ(message, "");
  EXPECT_TRUE(https.originValid());
  EXPECT_TRUE(https.origin().secure);
  EXPECT_EQ(https.origin().host, "Example.com");
  EXPECT_EQ(https.origin().port, 8443);
}

TEST_F(CurlHostTest, RequestRulesInOrderWithoutAnyRequest) {
  auto host = makeHost();
  EXPECT_EQ(range(*host, "/data/file.bin", 5, 4), "Invalid requested range");
  EXPECT_EQ(range(*host, "/data/file.bin", 0, UINT64_MAX), "Invalid requested range");
  EXPECT_EQ(suffix(*host, "/data/file.bin", 0), "Invalid requested suffix");
  EXPECT_EQ(whole(*host, "/data//file.bin"), "Invalid HTTP path or response bound");
  EXPECT_EQ(whole(*host, "/data/file.bin", 0), "Invalid HTTP path or response bound");
  EXPECT_EQ(whole(*host, "/data/file.bin", kMaxResponseBound + 1), "Invalid HTTP path or response bound");
  host->cancel();
  EXPECT_TRUE(host->isCancelled());
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP read cancelled");
  EXPECT_EQ(whole(*host, "bad"), "HTTP read cancelled");  // the flag comes before the path
  EXPECT_EQ(origin_.requestCount(), 0u);
  host->resetCancel();
  EXPECT_FALSE(host->isCancelled());
  EXPECT_EQ(whole(*host, "/data/file.bin", kMaxResponseBound), "");
  EXPECT_EQ(origin_.requestCount(), 1u);
}

// ---- What goes on the wire ----------------------------------------------

TEST_F(CurlHostTest, RangeFetchSendsTheExactHeaderBlock) {
  auto host = makeHost();
  ASSERT_EQ(range(*host, "/data/file.bin", 100, 1123), "");
  EXPECT_EQ(response_.status, 206u);
  EXPECT_TRUE(response_.valid);
  EXPECT_EQ(text(response_.body), file_.substr(100, 1024));
  EXPECT_EQ(response_.contentRange, "bytes 100-1123/10240");
  EXPECT_EQ(response_.etag, origin_.etagOf("/data/file.bin").value());

  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 1u);
  const auto& request = log[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, "/data/file.bin");
  const std::map<std::string, std::string> expected = {
      {"Accept-Encoding", "identity"},
      {"Cache-Control", "no-store"},
      {"Host", "127.0.0.1:" + std::to_string(origin_.port())},
      {"Pragma", "no-cache"},
      {"Range", "bytes=100-1123"},
      {"User-Agent", "VesmaraWeb-Pavane/0.28"},
  };
  std::map<std::string, std::string> sent(request.headers.begin(), request.headers.end());
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(request.headers.size(), expected.size());  // no field twice
}

TEST_F(CurlHostTest, SuffixFetch) {
  auto host = makeHost();
  ASSERT_EQ(suffix(*host, "/data/file.bin", 128), "");
  EXPECT_EQ(response_.status, 206u);
  EXPECT_EQ(text(response_.body), file_.substr(10240 - 128));
  EXPECT_EQ(response_.contentRange, "bytes 10112-10239/10240");
  ASSERT_EQ(suffix(*host, "/data/file.bin", 20000), "");  // longer than the file: all of it
  EXPECT_EQ(text(response_.body), file_);
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].range, "bytes=-128");
  EXPECT_EQ(log[1].range, "bytes=-20000");
}

TEST_F(CurlHostTest, WholeFetchSendsNoRange) {
  auto host = makeHost();
  ASSERT_EQ(whole(*host, "/data/file.bin"), "");
  EXPECT_EQ(response_.status, 200u);
  EXPECT_EQ(text(response_.body), file_);
  EXPECT_EQ(response_.contentRange, "");
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_FALSE(log[0].hasHeader("Range"));
  EXPECT_FALSE(log[0].hasHeader("Accept"));
  EXPECT_EQ(log[0].header("Accept-Encoding"), "identity");
  EXPECT_EQ(log[0].headers.size(), 5u);
}

TEST_F(CurlHostTest, EmptyBodyAndOneByteRange) {
  origin_.addFile("/empty", "");
  auto host = makeHost();
  ASSERT_EQ(whole(*host, "/empty", 1), "");
  EXPECT_TRUE(response_.body.empty());
  EXPECT_TRUE(response_.valid);
  ASSERT_EQ(range(*host, "/data/file.bin", 7, 7, 1), "");
  EXPECT_EQ(text(response_.body), file_.substr(7, 1));
}

TEST_F(CurlHostTest, LargeWholeBody) {
  const std::string big = TestOrigin::makeBytes(9 << 20, 7);
  origin_.addFile("/big.bin", big);
  auto host = makeHost();
  ASSERT_EQ(whole(*host, "/big.bin", 9 << 20), "");
  EXPECT_TRUE(text(response_.body) == big);
  EXPECT_LE(response_.body.capacity(), std::size_t{9} << 20);
}

// ---- Statuses -------------------------------------------------------------

TEST_F(CurlHostTest, StatusesJudgedAfterTheBody) {
  auto host = makeHost();
  EXPECT_EQ(whole(*host, "/missing"), "HTTP carrier response was not 200 or 206");
  EXPECT_EQ(range(*host, "/missing", 0, 1), "HTTP carrier response was not 200 or 206");
  EXPECT_EQ(range(*host, "/data/file.bin", 20000, 20001), "HTTP carrier response was not 200 or 206");  // 416

  TestOrigin::Behaviour partial;
  partial.status = 206;
  origin_.setBehaviour("/data/file.bin", partial);
  EXPECT_EQ(whole(*host, "/data/file.bin"), "Whole-carrier response was not 200");

  TestOrigin::Behaviour notFound;
  notFound.status = 404;
  origin_.setBehaviour("/data/file.bin", notFound);
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP carrier response was not 200 or 206");
  // A 404 whose body passes the bound reports the bound.
  EXPECT_EQ(whole(*host, "/data/file.bin", 100), "HTTP carrier exceeded response bound");
  // And one with an encoding reports the encoding.
  notFound.contentEncoding = "gzip";
  origin_.setBehaviour("/data/file.bin", notFound);
  EXPECT_EQ(whole(*host, "/data/file.bin", 100), "HTTP carrier used content encoding");
}

TEST_F(CurlHostTest, RangeAnsweredWithTheWholeFileIsAccepted) {
  TestOrigin::Behaviour ignore;
  ignore.ignoreRanges = true;
  origin_.setGlobalBehaviour(ignore);
  auto host = makeHost();
  ASSERT_EQ(range(*host, "/data/file.bin", 10, 19), "");
  EXPECT_EQ(response_.status, 200u);
  EXPECT_EQ(text(response_.body), file_);
  EXPECT_EQ(response_.contentRange, "");
}

TEST_F(CurlHostTest, RedirectsAreNotFollowed) {
  origin_.addFile("/moved.bin", "moved");
  TestOrigin::Behaviour redirect;
  redirect.redirectTo = origin_.origin() + "/moved.bin";
  origin_.setBehaviour("/data/file.bin", redirect);
  auto host = makeHost();
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP carrier response was not 200 or 206");
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 9), "HTTP carrier response was not 200 or 206");
  redirect.redirectTo.reset();
  redirect.status = 301;
  redirect.extraHeaders = {{"Location", "/moved.bin"}};
  origin_.setBehaviour("/data/file.bin", redirect);
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP carrier response was not 200 or 206");
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 3u);
  for (const auto& request : log) EXPECT_EQ(request.path, "/data/file.bin");
}

// ---- Header values ----------------------------------------------------------

TEST_F(CurlHostTest, HeaderValuesPassVerbatimOrCut) {
  auto host = makeHost();
  TestOrigin::Behaviour lying;
  lying.wrongContentRange = true;
  origin_.setGlobalBehaviour(lying);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  EXPECT_EQ(response_.contentRange, "bytes 1-10/10240");  // the consumer judges it

  lying = {};
  lying.starContentRange = true;
  origin_.setGlobalBehaviour(lying);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  EXPECT_EQ(response_.contentRange, "bytes */10240");

  lying = {};
  lying.changeEtag = true;
  origin_.setGlobalBehaviour(lying);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  const std::string first = response_.etag;
  ASSERT_EQ(range(*host, "/data/file.bin", 10, 19), "");
  EXPECT_NE(response_.etag, first);

  lying = {};
  lying.etag = "W/\"ab\x80zz\"";
  lying.contentRange = "bytes 0-9/10240\x01tail";
  origin_.setGlobalBehaviour(lying);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  EXPECT_EQ(response_.etag, "W/\"ab");
  EXPECT_EQ(response_.contentRange, "bytes 0-9/10240");

  lying = {};
  lying.etag = "\"a\tb\"";  // a tab is outside 0x20-0x7E here
  origin_.setGlobalBehaviour(lying);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  EXPECT_EQ(response_.etag, "\"a");
}

TEST_F(CurlHostTest, OverlongHeaderValuesAreDropped) {
  auto host = makeHost();
  TestOrigin::Behaviour lying;
  lying.etag = "\"" + std::string(4093, 'e') + "\"";  // 4,095 characters: kept
  lying.contentRange = std::string(4096, 'r');        // 4,096: dropped
  origin_.setGlobalBehaviour(lying);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  EXPECT_EQ(response_.etag.size(), 4095u);
  EXPECT_EQ(response_.contentRange, "");
  lying.etag = std::string(4096, 'e');
  origin_.setGlobalBehaviour(lying);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  EXPECT_EQ(response_.etag, "");
}

TEST_F(CurlHostTest, FirstContentRangeAndEtagFieldsWin) {
  auto host = makeHost();
  TestOrigin::Behaviour twice;
  twice.etag = "\"one\"";
  twice.extraHeaders = {{"ETag", "\"two\""}};
  origin_.setGlobalBehaviour(twice);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  // The origin sends the extra field first.
  EXPECT_EQ(response_.etag, "\"two\"");
  twice = {};
  twice.contentRange = "bytes 0-9/10240";
  twice.extraHeaders = {{"Content-Range", "bytes 5-14/10240"}};
  origin_.setGlobalBehaviour(twice);
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  EXPECT_EQ(response_.contentRange, "bytes 5-14/10240");
}

TEST_F(CurlHostTest, ContentEncoding) {
  auto host = makeHost();
  const struct {
    std::string value;
    const char* message;
  } cases[] = {
      {"identity", ""},
      {"IDENTITY", ""},
      {" \tIdentity", ""},
      {"gzip", "HTTP carrier used content encoding"},
      {"br", "HTTP carrier used content encoding"},
      {"identity, gzip", "HTTP carrier used content encoding"},
      {std::string(255, 'x'), "HTTP carrier used content encoding"},
      {std::string(256, 'x'), "HTTP content encoding is unavailable"},
      {"identity" + std::string(248, ' ') + "x", "HTTP content encoding is unavailable"},
  };
  for (const auto& c : cases) {
    TestOrigin::Behaviour encoded;
    encoded.contentEncoding = c.value;
    origin_.setGlobalBehaviour(encoded);
    EXPECT_EQ(range(*host, "/data/file.bin", 0, 9), c.message) << c.value;
  }
  // Two fields: every one must say identity.
  TestOrigin::Behaviour two;
  two.extraHeaders = {{"Content-Encoding", "identity"}, {"Content-Encoding", "gzip"}};
  origin_.setGlobalBehaviour(two);
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 9), "HTTP carrier used content encoding");
}

TEST_F(CurlHostTest, ContentEncodingRefusedBeforeTheBodyIsRead) {
  // The body would stall for a long time; the refusal comes at the head.
  TestOrigin::Behaviour encoded;
  encoded.contentEncoding = "gzip";
  encoded.stallMidBody = milliseconds(5000);
  origin_.setGlobalBehaviour(encoded);
  CurlHttpOptions options = quickOptions();
  options.limits.stall_timeout = milliseconds(10000);
  auto host = makeHost(options);
  const auto start = Clock::now();
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP carrier used content encoding");
  EXPECT_LT(Clock::now() - start, milliseconds(4000));
}

// ---- The bound ---------------------------------------------------------------

TEST_F(CurlHostTest, BodyBound) {
  auto host = makeHost();
  EXPECT_EQ(whole(*host, "/data/file.bin", 10240), "");
  EXPECT_EQ(response_.body.size(), 10240u);
  EXPECT_EQ(whole(*host, "/data/file.bin", 10239), "HTTP carrier exceeded response bound");
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 99, 100), "");
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 99, 99), "HTTP carrier exceeded response bound");

  // A body longer than what was asked for, and a chunked one of unknown length.
  TestOrigin::Behaviour longer;
  longer.extraBodyBytes = 1;
  origin_.setGlobalBehaviour(longer);
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 99, 100), "HTTP carrier exceeded response bound");
  longer.chunked = true;
  origin_.setGlobalBehaviour(longer);
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 99, 100), "HTTP carrier exceeded response bound");
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 99, 101), "");
  EXPECT_EQ(response_.body.size(), 101u);
}

TEST_F(CurlHostTest, OversizedBodyStopsEarly) {
  // 32 MiB announced, bound 1 MiB: the transfer ends long before the end.
  TestOrigin::Behaviour huge;
  huge.extraBodyBytes = 32 << 20;
  origin_.setGlobalBehaviour(huge);
  CurlHttpOptions options = quickOptions();
  options.limits.stall_timeout = milliseconds(5000);  // the origin takes a while to build its answer
  auto host = makeHost(options);
  const auto start = Clock::now();
  EXPECT_EQ(whole(*host, "/data/file.bin", 1 << 20), "HTTP carrier exceeded response bound");
  EXPECT_LT(Clock::now() - start, milliseconds(4000));
  // The connection was dropped with the transfer; the next fetch opens a new one.
  origin_.clearBehaviours();
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 9), "");
}

// ---- Broken transfers ---------------------------------------------------------

TEST_F(CurlHostTest, ConnectionClosedMidBody) {
  TestOrigin::Behaviour close;
  close.closeMidBody = true;
  origin_.setGlobalBehaviour(close);
  auto host = makeHost();
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP body read failed");
  close.chunked = true;
  origin_.setGlobalBehaviour(close);
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP body read failed");
  origin_.clearBehaviours();
  EXPECT_EQ(whole(*host, "/data/file.bin"), "");
}

TEST_F(CurlHostTest, StallMidBodyPastTheTimeout) {
  TestOrigin::Behaviour stall;
  stall.stallMidBody = milliseconds(5000);
  origin_.setGlobalBehaviour(stall);
  auto host = makeHost();  // 1 s without progress fails
  const auto start = Clock::now();
  EXPECT_EQ(whole(*host, "/data/file.bin"), "HTTP body read failed");
  const auto took = Clock::now() - start;
  EXPECT_GE(took, milliseconds(1000));
  EXPECT_LT(took, milliseconds(4000));
}

TEST_F(CurlHostTest, ShortStallWithinTheTimeoutIsFine) {
  TestOrigin::Behaviour stall;
  stall.stallMidBody = milliseconds(100);
  stall.stallBeforeHead = milliseconds(100);
  origin_.setGlobalBehaviour(stall);
  auto host = makeHost();
  EXPECT_EQ(whole(*host, "/data/file.bin"), "");
  EXPECT_EQ(text(response_.body), file_);
}

TEST_F(CurlHostTest, ServerThatNeverAnswers) {
  TestOrigin::Behaviour silent;
  silent.stallBeforeHead = milliseconds(5000);
  origin_.setGlobalBehaviour(silent);
  auto host = makeHost();
  const auto start = Clock::now();
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 9), "HTTP send failed or cancelled");
  EXPECT_LT(Clock::now() - start, milliseconds(4000));
}

TEST_F(CurlHostTest, SilenceOnAReusedConnectionIsAStallToo) {
  auto host = makeHost();
  ASSERT_EQ(range(*host, "/data/file.bin", 0, 9), "");
  TestOrigin::Behaviour silent;
  silent.stallBeforeHead = milliseconds(5000);
  origin_.setGlobalBehaviour(silent);
  const auto start = Clock::now();
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 9), "HTTP send failed or cancelled");
  EXPECT_LT(Clock::now() - start, milliseconds(4000));
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].remotePort, log[1].remotePort);
}

TEST_F(CurlHostTest, NothingListening) {
  std::string closed;
  {
    TestOrigin gone;
    closed = gone.origin();
  }
  std::string message;
  CurlHttpHost host(closed, message, quickOptions());
  EXPECT_EQ(whole(host, "/data/file.bin"), "HTTP send failed or cancelled");
}

TEST_F(CurlHostTest, NameThatDoesNotResolve) {
  std::string message;
  CurlHttpHost host("https://name-that-does-not-exist.invalid", message, quickOptions());
  ASSERT_EQ(message, "");
  EXPECT_EQ(whole(host, "/data/file.bin"), "HTTP send failed or cancelled");
}

TEST_F(CurlHostTest, HttpsToAPlainServerFailsTheHandshake) {
  // "localhost" over https reaches the plain test origin: no TLS handshake.
  std::string message;
  CurlHttpHost host("https://localhost:" + std::to_string(origin_.port()), message, quickOptions());
  ASSERT_EQ(message, "");
  EXPECT_EQ(whole(host, "/data/file.bin"), "HTTP send failed or cancelled");
}

// ---- Transfer limits ---------------------------------------------------------
// (Each misbehaving server and the limit that ends it: network_fault_test.)

TEST_F(CurlHostTest, SlowButHonestTransfersPass) {
  origin_.addFile("/data/large.bin", TestOrigin::makeBytes(100000, 3));
  // Every time limit scaled down: 400 ms of silence, a head within 600 ms,
  // at least 2 KiB/s over each 400 ms.
  CurlHttpOptions scaled = quickOptions();
  scaled.limits.stall_timeout = milliseconds(400);
  scaled.limits.head_timeout = milliseconds(600);
  scaled.limits.rate_period = milliseconds(400);
  const struct {
    const char* name;
    TestOrigin::Behaviour behaviour;
    const char* path;
  } cases[] = {
      {"a body at 16 KiB/s, over several rate periods",
       {.drip = TestOrigin::Pace{512, milliseconds(31)}},
       "/data/file.bin"},
      // Its framing (125 KB) is all necessary: none of it counts.
      {"100 KB in 4-byte chunks", {.chunked = true, .drip = TestOrigin::Pace{4}}, "/data/large.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    origin_.setGlobalBehaviour(c.behaviour);
    auto host = makeHost(scaled);
    EXPECT_EQ(whole(*host, c.path), "");
  }
  EXPECT_EQ(response_.body.size(), 100000u);
}

// ---- Cancellation ---------------------------------------------------------------
// (The message each step reports, for a platform failure or a cancellation,
// is checked on its own in http_rules_test.)

// The transport looks every 25 ms; the bound leaves room for a loaded
// machine yet stays well below the 10 s stall limit, which would otherwise
// end the fetch.
constexpr auto kPromptCancel = std::chrono::seconds(5);

TEST_F(CurlHostTest, CancelFromAnotherThreadDuringAStalledBody) {
  TestOrigin::Behaviour stall;
  stall.stallMidBody = milliseconds(30000);
  origin_.setGlobalBehaviour(stall);
  auto host = makeHost(CurlHttpOptions{});  // the real 10 s limits
  Clock::time_point cancelledAt;
  bool stalled = false;
  std::thread canceller([&] {
    stalled = origin_.waitForStalls(1);  // the head and half the body are out, the rest held back
    cancelledAt = Clock::now();
    host->cancel();
  });
  const std::string message = whole(*host, "/data/file.bin");
  const auto returnedAt = Clock::now();
  canceller.join();
  ASSERT_TRUE(stalled);
  // Which step noticed depends on whether the client had taken in the head
  // when the cancel came; each step's message is checked in http_rules_test.
  EXPECT_THAT(message, testing::AnyOf("HTTP read cancelled", "HTTP send failed or cancelled"));
  EXPECT_TRUE(host->isCancelled());
  EXPECT_LT(returnedAt - cancelledAt, kPromptCancel);
}

TEST_F(CurlHostTest, CancelFromAnotherThreadBeforeTheHead) {
  TestOrigin::Behaviour silent;
  silent.stallBeforeHead = milliseconds(30000);
  origin_.setGlobalBehaviour(silent);
  auto host = makeHost(CurlHttpOptions{});
  Clock::time_point cancelledAt;
  bool stalled = false;
  std::thread canceller([&] {
    stalled = origin_.waitForStalls(1);  // the request is in, the answer held back
    cancelledAt = Clock::now();
    host->cancel();
  });
  const std::string message = range(*host, "/data/file.bin", 0, 9);
  const auto returnedAt = Clock::now();
  canceller.join();
  ASSERT_TRUE(stalled);
  EXPECT_EQ(message, "HTTP send failed or cancelled");
  EXPECT_LT(returnedAt - cancelledAt, kPromptCancel);
  // After a reset the same host fetches again.
  origin_.clearBehaviours();
  host->resetCancel();
  EXPECT_EQ(range(*host, "/data/file.bin", 0, 9), "");
}

// ---- Connections -------------------------------------------------------------------

TEST_F(CurlHostTest, OneConnectionServesManyFetches) {
  auto host = makeHost();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(range(*host, "/data/file.bin", i, i + 10), "");
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 5u);
  for (const auto& request : log) EXPECT_EQ(request.remotePort, log[0].remotePort);
}

TEST_F(CurlHostTest, WithoutReuseEveryFetchConnectsAnew) {
  CurlHttpOptions options = quickOptions();
  options.reuseConnections = false;
  auto host = makeHost(options);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(range(*host, "/data/file.bin", i, i + 10), "");
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 3u);
  std::set<int> ports;
  for (const auto& request : log) ports.insert(request.remotePort);
  EXPECT_EQ(ports.size(), 3u);
}

TEST_F(CurlHostTest, NoStateLeaksBetweenFetches) {
  // A response that tries to set a cookie: nothing of it comes back.
  TestOrigin::Behaviour cookie;
  cookie.extraHeaders = {{"Set-Cookie", "session=secret; Path=/"}, {"Cache-Control", "max-age=3600"}};
  origin_.setGlobalBehaviour(cookie);
  auto host = makeHost();
  ASSERT_EQ(whole(*host, "/data/file.bin"), "");
  ASSERT_EQ(whole(*host, "/data/file.bin"), "");
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 2u);  // no cache answered the second one
  EXPECT_FALSE(log[1].hasHeader("Cookie"));
  EXPECT_FALSE(log[1].hasHeader("Authorization"));
  EXPECT_FALSE(log[1].hasHeader("If-None-Match"));
}

// Changes environment variables for the life of the object, then restores them.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

  void set(const char* name, const std::string& value) {
    save(name);
    setenv(name, value.c_str(), 1);
  }
  void unset(const char* name) {
    save(name);
    unsetenv(name);
  }

  // Every proxy variable libcurl reads set to `proxy`, or all of them unset.
  void proxies(const std::optional<std::string>& proxy) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
      if (proxy) {
        set(name, *proxy);
      } else {
        unset(name);
      }
    }
    unset("no_proxy");
    unset("NO_PROXY");
  }

 private:
  void save(const char* name) {
    if (saved_.count(name) != 0) return;
    const char* value = std::getenv(name);
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

size_t appendTo(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

TEST_F(CurlHostTest, DeadProxyInTheEnvironmentDoesNotAffectALoopbackOrigin) {
  std::string deadProxy;
  {
    TestOrigin gone;
    deadProxy = gone.origin();
  }
  ScopedEnvironment environment;
  environment.proxies(deadProxy);

  // A plain libcurl handle follows the environment and fails...
  CURL* plain = curl_easy_init();
  ASSERT_NE(plain, nullptr);
  const std::string url = origin_.origin() + "/data/file.bin";
  curl_easy_setopt(plain, CURLOPT_URL, url.c_str());
  curl_easy_setopt(plain, CURLOPT_NOBODY, 1L);
  const CURLcode viaProxy = curl_easy_perform(plain);
  curl_easy_cleanup(plain);
  EXPECT_EQ(viaProxy, CURLE_COULDNT_CONNECT);
  EXPECT_EQ(origin_.requestCount(), 0u);

  // ...while the transport of a loopback origin goes straight to it.
  for (const std::string& origin : {origin_.origin(), "http://localhost:" + std::to_string(origin_.port())}) {
    std::string message;
    CurlHttpHost host(origin, message, quickOptions());
    ASSERT_EQ(message, "");
    EXPECT_EQ(range(host, "/data/file.bin", 0, 1023), "") << origin;
    EXPECT_EQ(text(response_.body), file_.substr(0, 1024));
  }
  EXPECT_EQ(origin_.requestCount(), 2u);
}

// A proxy that never answers: it keeps the first request line a client left
// with it, for the test to collect.
class SilentProxy {
 public:
  SilentProxy() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 8) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentProxy() { close(listener_); }
  SilentProxy(const SilentProxy&) = delete;
  SilentProxy& operator=(const SilentProxy&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // The first line of the request a client sent since the last call, or
  // empty when no client connected.
  std::string takeRequestLine() {
    pollfd ready{listener_, POLLIN, 0};
    if (poll(&ready, 1, 0) != 1) return {};
    const int client = accept(listener_, nullptr, nullptr);
    char buffer[256];
    const ssize_t n = recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
    close(client);
    const std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.find("\r\n"));
  }

 private:
  int listener_ = -1;
  int port_ = 0;
};

TEST(CurlHostProxy, LoopbackOriginsNeverUseTheEnvironmentsProxyOthersDo) {
  // The environment changes before anything in this test starts a thread.
  ScopedEnvironment environment;
  SilentProxy proxy;
  environment.proxies(proxy.url());
  // A port that refuses connections: reached directly, every fetch fails at once.
  const int unlistened = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(unlistened, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(unlistened, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  struct Case {
    std::string origin;
    std::string proxy_saw;
  };
  const Case cases[] = {
      {"https://127.0.0.1:" + port, ""},
      {"https://localhost:" + port, ""},
      {"https://LocalHost:" + port, ""},
      {"http://127.0.0.1:" + port, ""},
      {"https://proxied.invalid", "CONNECT proxied.invalid:443 HTTP/1.1"},
  };
  CurlHttpOptions options = quickOptions();
  options.connectTimeout = milliseconds(500);  // the silent proxy never answers the tunnel request
  for (const Case& c : cases) {
    std::string message;
    CurlHttpHost host(c.origin, message, options);
    ASSERT_EQ(message, "") << c.origin;
    HttpResponse response;
    Failure failure;
    EXPECT_FALSE(host.fetchWhole("/data/file.bin", 100, response, failure)) << c.origin;
    EXPECT_EQ(failure.message, "HTTP send failed or cancelled") << c.origin;
    EXPECT_EQ(proxy.takeRequestLine(), c.proxy_saw) << c.origin;
  }
  close(unlistened);
}

TEST(CurlHostTls, CertificateIsVerifiedAgainstTheSystemTrustStore) {
  ScopedEnvironment environment;
  environment.proxies(std::nullopt);
  TestOrigin tls(TestOrigin::Scheme::Https);  // self-signed: trusted by nobody
  tls.addFile("/data/file.bin", "0123456789");

  // The server works: a client that skips verification gets the file.
  std::string body;
  CURL* unverified = curl_easy_init();
  ASSERT_NE(unverified, nullptr);
  const std::string url = tls.origin() + "/data/file.bin";
  curl_easy_setopt(unverified, CURLOPT_URL, url.c_str());
  curl_easy_setopt(unverified, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(unverified, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(unverified, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(appendTo));
  curl_easy_setopt(unverified, CURLOPT_WRITEDATA, &body);
  EXPECT_EQ(curl_easy_perform(unverified), CURLE_OK);
  curl_easy_cleanup(unverified);
  EXPECT_EQ(body, "0123456789");

  // The transport verifies, and refuses the certificate during the handshake.
  std::string message;
  CurlHttpHost host(tls.origin(), message, quickOptions());
  ASSERT_TRUE(host.origin().secure);
  HttpResponse response;
  Failure failure;
  EXPECT_FALSE(host.fetchWhole("/data/file.bin", 100, response, failure));
  EXPECT_EQ(failure.message, "HTTP send failed or cancelled");
  EXPECT_TRUE(response.body.empty());
  EXPECT_EQ(tls.requestCount(), 1u);  // only the unverified client's request was answered
}

}  // namespace
}  // namespace vesmara
