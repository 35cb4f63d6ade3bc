#include "hosts/checked_fetch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_http_host.h"

namespace vesmara {
namespace {

using test::ScriptedAnswer;
using test::ScriptedHttpHost;

const std::string kObject = "0123456789abcdefghijklmnopqrstuvwxyzABCD";  // 40 bytes

const CheckedFetchMessages kMessages{"/c.bin", ": unsafe", ": etag", ": range", ": short"};

std::string text(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

ScriptedAnswer with(ScriptedAnswer answer, const std::function<void(ScriptedAnswer&)>& change) {
  change(answer);
  return answer;
}

struct Outcome {
  bool ok = false;
  Failure failure;
  CheckedBytes bytes;
  HttpResponse response;
};

Outcome run(HttpHost& transport, const CheckedRequest& request) {
  Outcome out;
  out.ok = fetchChecked(transport, request, kMessages, out.response, out.bytes, out.failure);
  EXPECT_EQ(out.ok, out.failure.message.empty()) << out.failure.message;
  return out;
}

CheckedRequest rangeRequest() {
  CheckedRequest request;
  request.path = "/c.bin";
  request.first = 10;
  request.last = 19;
  request.bound = 30;
  request.whole_body_limit = 45;
  return request;
}

TEST(CheckedFetch, RangeAnswersInCheckOrder) {
  const struct {
    const char* name;
    ScriptedAnswer answer;
    const char* message;  // empty: accepted
  } cases[] = {
      {"exact range", ScriptedAnswer::partial(kObject, 10, 19), ""},
      {"whole object", ScriptedAnswer::whole(kObject), ""},
      {"transport failure", ScriptedAnswer::failing("HTTP body read failed"), "HTTP body read failed"},
      {"not valid", with(ScriptedAnswer::partial(kObject, 10, 19), [](auto& a) { a.valid = false; }), "/c.bin: unsafe"},
      {"status 204", with(ScriptedAnswer::partial(kObject, 10, 19), [](auto& a) { a.status = 204; }), "/c.bin: unsafe"},
      {"206 over the bound, range wrong too",
       with(ScriptedAnswer::partial(kObject, 0, 30), [](auto& a) { a.content_range = "x"; }), "/c.bin: unsafe"},
      {"200 up to its own limit", ScriptedAnswer::whole(kObject + "EFGHI"), ""},
      {"200 over its own limit", ScriptedAnswer::whole(kObject + "EFGHIJ"), "/c.bin: unsafe"},
      {"range one byte off", ScriptedAnswer::partial(kObject, 11, 20), "/c.bin: range"},
      {"total not above last",
       with(ScriptedAnswer::partial(kObject, 10, 19), [](auto& a) { a.content_range = "bytes 10-19/19"; }),
       "/c.bin: range"},
      {"star total", with(ScriptedAnswer::partial(kObject, 10, 19), [](auto& a) { a.content_range = "bytes */40"; }),
       "/c.bin: range"},
      {"short body", with(ScriptedAnswer::partial(kObject, 10, 19), [](auto& a) { a.body.pop_back(); }),
       "/c.bin: range"},
      {"whole object ending before last", ScriptedAnswer::whole(kObject.substr(0, 19)), "/c.bin: short"},
      {"whole object ending at last", ScriptedAnswer::whole(kObject.substr(0, 20)), ""},
  };
  for (const auto& c : cases) {
    ScriptedHttpHost transport({c.answer});
    const Outcome out = run(transport, rangeRequest());
    EXPECT_EQ(out.failure.message, c.message) << c.name;
    if (out.ok) {
      EXPECT_EQ(text(out.bytes.requested), kObject.substr(10, 10)) << c.name;
      EXPECT_EQ(out.bytes.body_first, c.answer.status == 206 ? 10u : 0u) << c.name;
    } else {
      EXPECT_EQ(out.failure.kind, c.answer.failure.empty() ? FailureKind::Integrity : FailureKind::Transport) << c.name;
    }
  }
}

TEST(CheckedFetch, EtagPinAcrossFetchesOfOneObject) {
  const auto tagged = [](std::string etag) { return ScriptedAnswer::partial(kObject, 10, 19, std::move(etag)); };
  ScriptedHttpHost transport({tagged("W/\"w\""), tagged("\"a\""), tagged(""), tagged("\"a\""),
                              with(tagged("W/\"a\""), [](auto& a) { a.content_range = "x"; })});
  std::string pin;
  CheckedRequest request = rangeRequest();
  request.etag_pin = &pin;
  EXPECT_TRUE(run(transport, request).ok);
  EXPECT_EQ(pin, "");  // a weak validator is never pinned
  EXPECT_TRUE(run(transport, request).ok);
  EXPECT_EQ(pin, "\"a\"");
  EXPECT_TRUE(run(transport, request).ok);  // no ETag: nothing to compare
  EXPECT_TRUE(run(transport, request).ok);
  // A different ETag is reported before the broken Content-Range.
  EXPECT_EQ(run(transport, request).failure.message, "/c.bin: etag");
}

TEST(CheckedFetch, SuffixAndKnownObjectLength) {
  CheckedRequest suffix;
  suffix.kind = FetchKind::Suffix;
  suffix.path = "/c.bin";
  suffix.first = 4;
  suffix.bound = 100;
  suffix.min_body = 4;
  const struct {
    ScriptedAnswer answer;
    const char* message;
  } suffixes[] = {
      {ScriptedAnswer::partial(kObject, 36, 39), ""},
      {ScriptedAnswer::whole(kObject), ""},
      {ScriptedAnswer::partial(kObject, 35, 38), "/c.bin: range"},      // not the end of the object
      {ScriptedAnswer::partial(kObject, 35, 39), "/c.bin: range"},      // five bytes
      {ScriptedAnswer::whole(kObject.substr(0, 3)), "/c.bin: unsafe"},  // under the smallest body
  };
  for (const auto& c : suffixes) {
    ScriptedHttpHost transport({c.answer});
    const Outcome out = run(transport, suffix);
    EXPECT_EQ(out.failure.message, c.message) << c.answer.content_range;
    if (out.ok) {
      EXPECT_EQ(text(out.bytes.requested), kObject.substr(36));
      EXPECT_EQ(out.bytes.object_length, 40u);
    }
  }
  CheckedRequest known = rangeRequest();
  known.object_length = 40;
  for (const auto& [answer, message] : std::vector<std::pair<ScriptedAnswer, std::string>>{
           {ScriptedAnswer::partial(kObject, 10, 19), ""},
           {ScriptedAnswer::partial(kObject + "E", 10, 19), "/c.bin: range"},
           {ScriptedAnswer::whole(kObject), ""},
           {ScriptedAnswer::whole(kObject + "E"), "/c.bin: short"},
       }) {
    ScriptedHttpHost transport({answer});
    EXPECT_EQ(run(transport, known).failure.message, message);
  }
}

TEST(CheckedFetch, CancellationAndWholeFetches) {
  ScriptedHttpHost transport({ScriptedAnswer::failing("HTTP read cancelled")});
  transport.cancel();
  CheckedRequest request = rangeRequest();
  request.cancelled_before = "Load cancelled";
  Outcome out = run(transport, request);
  EXPECT_EQ(out.failure.message, "Load cancelled");
  EXPECT_EQ(out.failure.kind, FailureKind::Cancelled);
  EXPECT_TRUE(transport.calls().empty());
  // Without the check the request is made, and its failure reads as cancelled.
  request.cancelled_before = {};
  out = run(transport, request);
  EXPECT_EQ(out.failure.message, "HTTP read cancelled");
  EXPECT_EQ(out.failure.kind, FailureKind::Cancelled);
  ASSERT_EQ(transport.calls().size(), 1u);
  EXPECT_EQ(transport.calls()[0].kind, FetchKind::Range);
  EXPECT_EQ(transport.calls()[0].last, 19u);

  CheckedRequest whole;
  whole.kind = FetchKind::Whole;
  whole.path = "/m.png";
  whole.bound = 40;
  whole.min_body = 1;
  for (const auto& [answer, message] : std::vector<std::pair<ScriptedAnswer, std::string>>{
           {ScriptedAnswer::whole(kObject), ""},
           {ScriptedAnswer::whole(""), "/c.bin: unsafe"},
           {ScriptedAnswer::whole(kObject + "E"), "/c.bin: unsafe"},
           {ScriptedAnswer::partial(kObject, 0, 39), "/c.bin: unsafe"},  // a whole fetch takes only 200
       }) {
    ScriptedHttpHost media({answer});
    out = run(media, whole);
    EXPECT_EQ(out.failure.message, message);
    if (out.ok) {
      EXPECT_EQ(text(out.bytes.requested), kObject);
    }
  }
}

}  // namespace
}  // namespace vesmara
