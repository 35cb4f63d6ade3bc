#include "hosts/callback_http_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesmara {
namespace {

const std::uint8_t* bytesOf(const std::string& text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

// What the scripted callback answers, and what it was asked.
struct Script {
  std::uint32_t result = VKR_PREVIEW_CALLBACK_OK;
  std::uint32_t status = 206;
  std::optional<std::string> url;  // nullopt: the expected URL of the request
  std::string content_range = "bytes 0-3/10";
  std::string etag = "\"e1\"";
  std::string content_encoding;
  std::string body = "abcd";
  std::function<void(vkr_preview_http_response&)> tamper;  // runs after the record is filled
  std::function<void()> during;                            // runs inside the call

  std::string origin;  // to build the expected URL
  int calls = 0;
  std::uint32_t kind = 0;
  std::string path;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t bound = 0;
  bool recordWasZeroed = false;
  std::string urlStorage;
};

std::uint32_t scripted(void* user, std::uint32_t kind, const std::uint8_t* path, std::uint64_t pathLength,
                       std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                       vkr_preview_http_response* response) {
  auto& s = *static_cast<Script*>(user);
  ++s.calls;
  s.kind = kind;
  s.path.assign(reinterpret_cast<const char*>(path), pathLength);
  s.first = first;
  s.last = last;
  s.bound = bound;
  vkr_preview_http_response zero{};
  s.recordWasZeroed = std::memcmp(&zero, response, sizeof zero) == 0;
  if (s.during) s.during();
  if (s.result != VKR_PREVIEW_CALLBACK_OK) return s.result;
  s.urlStorage = s.url.value_or(s.origin + s.path);
  response->status = s.status;
  response->final_url = bytesOf(s.urlStorage);
  response->final_url_length = s.urlStorage.size();
  response->content_range = bytesOf(s.content_range);
  response->content_range_length = s.content_range.size();
  response->etag = bytesOf(s.etag);
  response->etag_length = s.etag.size();
  response->content_encoding = bytesOf(s.content_encoding);
  response->content_encoding_length = s.content_encoding.size();
  response->body = bytesOf(s.body);
  response->body_length = s.body.size();
  if (s.tamper) s.tamper(*response);
  return VKR_PREVIEW_CALLBACK_OK;
}

class CallbackHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    script_.origin = "https://example.com";
    std::string message = "junk";
    host_ = makeCallbackHttpHost("https://example.com/", scripted, &script_, message);
    ASSERT_NE(host_, nullptr);
    EXPECT_EQ(message, "");
  }

  // A range fetch of "/data/a.bin" bytes 0-3 with bound 100; the response
  // starts filled with junk so that a failure must empty it.
  std::string fetch(std::uint64_t bound = 100) {
    response_.status = 999;
    response_.valid = true;
    response_.etag = "junk";
    response_.content_range = "junk";
    response_.body = {1, 2, 3};
    Failure failure{"junk", FailureKind::Internal};
    const bool ok = host_->fetchRange("/data/a.bin", 0, 3, bound, response_, failure);
    EXPECT_EQ(ok, failure.message.empty());
    EXPECT_EQ(failure.kind, ok                     ? FailureKind::None
                            : host_->isCancelled() ? FailureKind::Cancelled
                                                   : FailureKind::Transport);
    if (!ok) expectEmptyResponse();
    return failure.message;
  }

  void expectEmptyResponse() {
    EXPECT_EQ(response_.status, 0u);
    EXPECT_FALSE(response_.valid);
    EXPECT_TRUE(response_.etag.empty());
    EXPECT_TRUE(response_.content_range.empty());
    EXPECT_TRUE(response_.body.empty());
  }

  Script script_;
  std::unique_ptr<CallbackHttpHost> host_;
  HttpResponse response_;
};

TEST(CallbackHostFactory, OriginPolicyApplies) {
  Script script;
  std::string message;
  EXPECT_EQ(makeCallbackHttpHost("http://example.com", scripted, &script, message), nullptr);
  EXPECT_EQ(message, "Plain HTTP is restricted to loopback development");
  EXPECT_EQ(makeCallbackHttpHost("https://a@example.com", scripted, &script, message), nullptr);
  EXPECT_EQ(message, "Origin must contain only a host and optional port");
  auto host = makeCallbackHttpHost("http://localhost:8080/", scripted, &script, message);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(message, "");
  EXPECT_EQ(host->originText(), "http://localhost:8080");
  EXPECT_FALSE(host->isCancelled());
}

TEST_F(CallbackHostTest, RangeFetchReachesTheCallbackAndIsCopied) {
  EXPECT_EQ(fetch(), "");
  EXPECT_EQ(script_.calls, 1);
  EXPECT_EQ(script_.kind, 1u);
  EXPECT_EQ(script_.path, "/data/a.bin");
  EXPECT_EQ(script_.first, 0u);
  EXPECT_EQ(script_.last, 3u);
  EXPECT_EQ(script_.bound, 100u);
  EXPECT_TRUE(script_.recordWasZeroed);
  EXPECT_EQ(response_.status, 206u);
  EXPECT_TRUE(response_.valid);
  EXPECT_EQ(response_.content_range, "bytes 0-3/10");
  EXPECT_EQ(response_.etag, "\"e1\"");
  EXPECT_EQ(std::string(response_.body.begin(), response_.body.end()), "abcd");
}

TEST_F(CallbackHostTest, SuffixAndWholeKinds) {
  Failure failure;
  script_.status = 200;
  ASSERT_TRUE(host_->fetchSuffix("/favicon.ico", 128, 500, response_, failure)) << failure.message;
  EXPECT_EQ(script_.kind, 2u);
  EXPECT_EQ(script_.first, 128u);
  EXPECT_EQ(script_.last, 0u);
  EXPECT_EQ(script_.bound, 500u);
  ASSERT_TRUE(host_->fetchWhole("/m/a.png", 7, response_, failure)) << failure.message;
  EXPECT_EQ(script_.kind, 3u);
  EXPECT_EQ(script_.first, 0u);
  EXPECT_EQ(script_.last, 0u);
  EXPECT_EQ(script_.bound, 7u);
  EXPECT_EQ(response_.status, 200u);
}

TEST_F(CallbackHostTest, RequestRulesComeBeforeTheCallback) {
  Failure failure;
  host_->cancel();
  EXPECT_FALSE(host_->fetchRange("/a", 5, 4, 10, response_, failure));
  EXPECT_EQ(failure.message, "Invalid requested range");
  EXPECT_FALSE(host_->fetchRange("/a", 0, UINT64_MAX, 10, response_, failure));
  EXPECT_EQ(failure.message, "Invalid requested range");
  EXPECT_FALSE(host_->fetchSuffix("/a", 0, 10, response_, failure));
  EXPECT_EQ(failure.message, "Invalid requested suffix");
  EXPECT_FALSE(host_->fetchWhole("/a", 10, response_, failure));
  EXPECT_EQ(failure.message, "HTTP read cancelled");
  EXPECT_EQ(failure.kind, FailureKind::Cancelled);
  host_->resetCancel();
  EXPECT_FALSE(host_->fetchWhole("/a/", 10, response_, failure));
  EXPECT_EQ(failure.message, "Invalid HTTP path or response bound");
  EXPECT_EQ(failure.kind, FailureKind::Transport);
  EXPECT_FALSE(host_->fetchWhole("/a", 0, response_, failure));
  EXPECT_EQ(failure.message, "Invalid HTTP path or response bound");
  EXPECT_FALSE(host_->fetchWhole("/a", 134217729, response_, failure));
  EXPECT_EQ(failure.message, "Invalid HTTP path or response bound");
  EXPECT_EQ(script_.calls, 0);
  script_.status = 200;
  EXPECT_TRUE(host_->fetchWhole("/a", 134217728, response_, failure)) << failure.message;
  EXPECT_EQ(script_.calls, 1);
}

TEST_F(CallbackHostTest, ResultSevenCancelsTheTransportUntilReset) {
  script_.result = VKR_PREVIEW_CALLBACK_CANCELLED;
  EXPECT_EQ(fetch(), "HTTP read cancelled");
  EXPECT_TRUE(host_->isCancelled());
  script_.result = VKR_PREVIEW_CALLBACK_OK;
  EXPECT_EQ(fetch(), "HTTP read cancelled");
  EXPECT_EQ(script_.calls, 1);  // the second fetch never reached the callback
  host_->resetCancel();
  EXPECT_EQ(fetch(), "");
  EXPECT_EQ(script_.calls, 2);
}

TEST_F(CallbackHostTest, OtherResultsFail) {
  for (std::uint32_t result : {1u, 4u, 6u, 8u, 12u, 0xFFFFFFFFu}) {
    script_.result = result;
    EXPECT_EQ(fetch(), "Caller transport failed") << result;
    EXPECT_FALSE(host_->isCancelled());
  }
}

TEST_F(CallbackHostTest, CancelWhileTheCallbackRuns) {
  script_.during = [this] { host_->cancel(); };
  EXPECT_EQ(fetch(), "HTTP read cancelled");
  host_->resetCancel();
  script_.result = 1;  // a failure while cancelled reads as cancellation too
  EXPECT_EQ(fetch(), "HTTP read cancelled");
}

TEST_F(CallbackHostTest, StatusOutsideTwoHundredAndTwoHundredSixIsOutOfBounds) {
  for (std::uint32_t status : {0u, 201u, 204u, 301u, 304u, 404u, 416u, 500u}) {
    script_.status = status;
    EXPECT_EQ(fetch(), "Caller transport returned invalid response bounds") << status;
  }
  script_.status = 200;  // a 200 answer to a range fetch is accepted here
  EXPECT_EQ(fetch(), "");
  EXPECT_EQ(response_.status, 200u);
}

TEST_F(CallbackHostTest, WholeFetchAcceptsOnlyTwoHundred) {
  Failure failure;
  script_.status = 206;
  EXPECT_FALSE(host_->fetchWhole("/a", 100, response_, failure));
  EXPECT_EQ(failure.message, "HTTP carrier response was not valid for the request");
}

TEST_F(CallbackHostTest, BodyBound) {
  script_.body = std::string(100, 'x');
  EXPECT_EQ(fetch(100), "");
  EXPECT_EQ(response_.body.size(), 100u);
  script_.body = std::string(101, 'x');
  EXPECT_EQ(fetch(100), "Caller transport returned invalid response bounds");
}

TEST_F(CallbackHostTest, RecordLimits) {
  // A 4,096-byte URL passes the record check (and then differs from the request).
  script_.url = std::string(4096, 'u');
  EXPECT_EQ(fetch(), "HTTP carrier changed URL");
  script_.url = std::string(4097, 'u');
  EXPECT_EQ(fetch(), "Caller transport returned invalid response bounds");
  script_.url.reset();

  script_.etag = std::string(255, '~');
  EXPECT_EQ(fetch(), "");
  EXPECT_EQ(response_.etag.size(), 255u);
  script_.etag = std::string(256, 'e');
  EXPECT_EQ(fetch(), "Caller transport returned invalid response bounds");
  script_.etag = "\"e\"";
  script_.content_range = std::string(256, 'r');
  EXPECT_EQ(fetch(), "Caller transport returned invalid response bounds");
  script_.content_range = "bytes 0-3/10";
  script_.content_encoding = std::string(256, ' ');
  EXPECT_EQ(fetch(), "Caller transport returned invalid response bounds");
}

TEST_F(CallbackHostTest, NullPointersWithLengths) {
  using Field = std::function<void(vkr_preview_http_response&)>;
  const Field nulls[] = {
      [](vkr_preview_http_response& r) { r.final_url = nullptr; },
      [](vkr_preview_http_response& r) { r.content_range = nullptr; },
      [](vkr_preview_http_response& r) { r.etag = nullptr; },
      [](vkr_preview_http_response& r) {
        r.content_encoding = nullptr;
        r.content_encoding_length = 8;
      },
      [](vkr_preview_http_response& r) { r.body = nullptr; },
  };
  for (const auto& tamper : nulls) {
    script_.tamper = tamper;
    EXPECT_EQ(fetch(), "Caller transport returned invalid response bounds");
  }
  // Null with length 0 is simply empty.
  script_.tamper = [](vkr_preview_http_response& r) {
    r.body = nullptr;
    r.body_length = 0;
    r.etag = nullptr;
    r.etag_length = 0;
    r.content_range = nullptr;
    r.content_range_length = 0;
    r.content_encoding = nullptr;
  };
  EXPECT_EQ(fetch(), "");
  EXPECT_TRUE(response_.body.empty());
  EXPECT_TRUE(response_.etag.empty());
  EXPECT_TRUE(response_.valid);
}

TEST_F(CallbackHostTest, FinalUrlMustBeTheRequestedOne) {
  script_.url = "https://Example.com/data/a.bin";
  EXPECT_EQ(fetch(), "HTTP carrier changed URL");
  script_.url = "https://example.com/data/A.bin";
  EXPECT_EQ(fetch(), "HTTP carrier changed URL");
  script_.url = "https://example.com//data/a.bin";
  EXPECT_EQ(fetch(), "HTTP carrier changed URL");
  script_.url = "https://example.com/data/a.bin?x";
  EXPECT_EQ(fetch(), "HTTP carrier changed URL");
  script_.url = "https://example.com/elsewhere/a.bin";
  EXPECT_EQ(fetch(), "HTTP carrier changed URL");
  script_.url = "";
  EXPECT_EQ(fetch(), "HTTP carrier changed URL");
  script_.url = "https://example.com/data/a.bin";
  EXPECT_EQ(fetch(), "");
}

TEST_F(CallbackHostTest, HeaderBytes) {
  script_.etag = "\"a\tb\"";  // tab is allowed
  EXPECT_EQ(fetch(), "");
  EXPECT_EQ(response_.etag, "\"a\tb\"");
  for (const std::string& bad : {std::string("\"a\x80\""), std::string("a\rb"), std::string("a\nb"),
                                 std::string("\x7F"), std::string("a\0b", 3)}) {
    script_.etag = bad;
    EXPECT_EQ(fetch(), "HTTP carrier headers are invalid") << testing::PrintToString(bad);
    script_.etag = "\"e\"";
    script_.content_range = bad;
    EXPECT_EQ(fetch(), "HTTP carrier headers are invalid");
    script_.content_range = "bytes 0-3/10";
    script_.content_encoding = bad;
    EXPECT_EQ(fetch(), "HTTP carrier headers are invalid");
    script_.content_encoding.clear();
  }
}

TEST_F(CallbackHostTest, ContentEncoding) {
  for (const char* ok : {"identity", " \tIdentity\t ", "IDENTITY"}) {
    script_.content_encoding = ok;
    EXPECT_EQ(fetch(), "") << ok;
  }
  for (const char* bad : {"gzip", " ", "\t", "identity,gzip", "br"}) {
    script_.content_encoding = bad;
    EXPECT_EQ(fetch(), "HTTP carrier used content encoding") << bad;
  }
}

TEST(CallbackHostCallable, MessagesOfACustomCallable) {
  HttpResponse response;
  Failure failure;
  CallbackHttpHost silent("https://example.com",
                          [](const CallbackRequest&, CallbackResponse&, std::string&) { return false; });
  EXPECT_FALSE(silent.fetchWhole("/a", 10, response, failure));
  EXPECT_EQ(failure.message, "Caller transport failed");

  CallbackHttpHost talking("https://example.com", [](const CallbackRequest&, CallbackResponse&, std::string& m) {
    m = "Own reason";
    return false;
  });
  EXPECT_FALSE(talking.fetchWhole("/a", 10, response, failure));
  EXPECT_EQ(failure.message, "Own reason");

  // Past the bridge, an oversized body is still refused.
  CallbackHttpHost oversized("https://example.com",
                             [](const CallbackRequest& request, CallbackResponse& out, std::string&) {
                               out.status = 200;
                               out.url = "https://example.com" + std::string(request.path);
                               out.body.assign(request.bound + 1, 0);
                               return true;
                             });
  response.body = {1};
  EXPECT_FALSE(oversized.fetchWhole("/a", 10, response, failure));
  EXPECT_EQ(failure.message, "HTTP carrier exceeded response bound");
  EXPECT_TRUE(response.body.empty());
}

TEST(CallbackHostCallable, BridgeWithAnEmptyCellStillReportsCancellation) {
  Script script;
  script.result = VKR_PREVIEW_CALLBACK_CANCELLED;
  auto bridge = makeCallbackBridge(scripted, &script, std::make_shared<CallbackHostCell>());
  CallbackResponse out;
  std::string message;
  EXPECT_FALSE(bridge(CallbackRequest{FetchKind::Whole, "/a", 0, 0, 1}, out, message));
  EXPECT_EQ(message, "HTTP read cancelled");
}

}  // namespace
}  // namespace vesmara
