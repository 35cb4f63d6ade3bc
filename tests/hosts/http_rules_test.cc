#include "hosts/http_rules.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace vesmara {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::string check(const FetchRequest& request, bool originValid = true, bool cancelled = false) {
  std::string message;
  const bool ok = checkRequestRules(request, originValid, cancelled, message);
  EXPECT_EQ(ok, message.empty());
  return message;
}

TEST(RequestRules, RangeArguments) {
  EXPECT_EQ(check({FetchKind::Range, "/a", 5, 5, 1}), "");  // first == last asks for one byte
  EXPECT_EQ(check({FetchKind::Range, "/a", 6, 5, 1}), "Invalid requested range");
  EXPECT_EQ(check({FetchKind::Range, "/a", 0, kMax, 1}), "Invalid requested range");
  EXPECT_EQ(check({FetchKind::Range, "/a", 0, kMax - 1, 1}), "");
  // The argument check comes before every other rule.
  EXPECT_EQ(check({FetchKind::Range, "bad", 6, 5, 0}, false, true), "Invalid requested range");
}

TEST(RequestRules, SuffixArguments) {
  EXPECT_EQ(check({FetchKind::Suffix, "/a", 1, 0, 1}), "");
  EXPECT_EQ(check({FetchKind::Suffix, "/a", 0, 0, 1}), "Invalid requested suffix");
  EXPECT_EQ(check({FetchKind::Suffix, "bad", 0, 0, 0}, false, true), "Invalid requested suffix");
  // A whole fetch has neither check.
  EXPECT_EQ(check({FetchKind::Whole, "/a", 0, 0, 1}), "");
}

TEST(RequestRules, OrderAfterTheArguments) {
  EXPECT_EQ(check({FetchKind::Whole, "bad", 0, 0, 0}, false, true), "HTTP origin is invalid");
  EXPECT_EQ(check({FetchKind::Whole, "bad", 0, 0, 0}, true, true), "HTTP read cancelled");
  EXPECT_EQ(check({FetchKind::Whole, "bad", 0, 0, 1}), "Invalid HTTP path or response bound");
  EXPECT_EQ(check({FetchKind::Whole, "/a", 0, 0, 0}), "Invalid HTTP path or response bound");
}

TEST(RequestRules, Bound) {
  EXPECT_EQ(check({FetchKind::Whole, "/a", 0, 0, 1}), "");
  EXPECT_EQ(check({FetchKind::Whole, "/a", 0, 0, 134217728}), "");
  EXPECT_EQ(check({FetchKind::Whole, "/a", 0, 0, 134217729}), "Invalid HTTP path or response bound");
  EXPECT_EQ(check({FetchKind::Whole, "/a", 0, 0, kMax}), "Invalid HTTP path or response bound");
}

TEST(RequestRules, Paths) {
  for (const char* bad :
       {"/", "", "a", "//a", "/a/", "/a//b", "/./a", "/../a", "/a%20b", "/a?b", "/a b", "/\xC3\xA9"}) {
    EXPECT_EQ(check({FetchKind::Whole, bad, 0, 0, 1}), "Invalid HTTP path or response bound") << bad;
  }
  EXPECT_EQ(check({FetchKind::Whole, "/Site.Name/app/x-y_Z.09", 0, 0, 1}), "");
  const std::string p512 = "/" + std::string(511, 'a');
  EXPECT_EQ(check({FetchKind::Whole, p512, 0, 0, 1}), "");
  const std::string p513 = "/" + std::string(512, 'a');
  EXPECT_EQ(check({FetchKind::Whole, p513, 0, 0, 1}), "Invalid HTTP path or response bound");
}

TEST(RequestWire, RangeValuesAndHeaderBlock) {
  EXPECT_EQ(rangeHeaderValue({FetchKind::Range, "/a", 0, 0, 1}), "bytes=0-0");
  EXPECT_EQ(rangeHeaderValue({FetchKind::Range, "/a", 10, 18446744073709551614ULL, 1}),
            "bytes=10-18446744073709551614");
  EXPECT_EQ(rangeHeaderValue({FetchKind::Suffix, "/a", 128, 0, 1}), "bytes=-128");
  EXPECT_EQ(rangeHeaderValue({FetchKind::Whole, "/a", 0, 0, 1}), "");

  EXPECT_EQ(requestHeaderLines({FetchKind::Range, "/a", 1, 2, 1}),
            (std::vector<std::string>{"Range: bytes=1-2", "Cache-Control: no-store", "Pragma: no-cache",
                                      "Accept-Encoding: identity"}));
  EXPECT_EQ(requestHeaderLines({FetchKind::Suffix, "/a", 7, 0, 1}),
            (std::vector<std::string>{"Range: bytes=-7", "Cache-Control: no-store", "Pragma: no-cache",
                                      "Accept-Encoding: identity"}));
  EXPECT_EQ(requestHeaderLines({FetchKind::Whole, "/a", 0, 0, 1}),
            (std::vector<std::string>{"Cache-Control: no-store", "Pragma: no-cache", "Accept-Encoding: identity"}));
}

TEST(ResponseRules, AcceptedStatuses) {
  EXPECT_TRUE(isAcceptedStatus(FetchKind::Range, 200));
  EXPECT_TRUE(isAcceptedStatus(FetchKind::Range, 206));
  EXPECT_TRUE(isAcceptedStatus(FetchKind::Suffix, 206));
  EXPECT_TRUE(isAcceptedStatus(FetchKind::Whole, 200));
  EXPECT_FALSE(isAcceptedStatus(FetchKind::Whole, 206));
  for (std::uint32_t status : {0u, 204u, 301u, 302u, 304u, 404u, 416u, 500u}) {
    EXPECT_FALSE(isAcceptedStatus(FetchKind::Range, status)) << status;
  }
}

TEST(ResponseRules, IdentityEncoding) {
  for (const char* ok : {"identity", "IDENTITY", "Identity", " identity", "identity\t", " \t IdEnTiTy \t "}) {
    EXPECT_TRUE(isIdentityEncoding(ok)) << ok;
  }
  for (const char* bad : {"", " ", "\t \t", "gzip", "br", "identity, gzip", "identit", "identityx", "i dentity",
                          "\"identity\"", "identity\r",
                          "\xC4\xB1"
                          "dentity"}) {
    EXPECT_FALSE(isIdentityEncoding(bad)) << bad;
  }
}

TEST(ResponseRules, AsciiCaseFolding) {
  EXPECT_TRUE(equalsIgnoringAsciiCase("LocalHost", "localhost"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("localhost.", "localhost"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("localhost", "LOCALHOST"));  // only the text side folds
}

TEST(ResponseRules, CallerHeaderBytes) {
  EXPECT_TRUE(isCallerHeaderValue(""));
  EXPECT_TRUE(isCallerHeaderValue("\"abc\"\t W/\"x\" ~"));
  EXPECT_TRUE(isCallerHeaderValue(std::string(255, '~')));
  EXPECT_FALSE(isCallerHeaderValue(std::string(256, 'a')));
  EXPECT_FALSE(isCallerHeaderValue("a\x7F"));
  EXPECT_FALSE(isCallerHeaderValue("a\x80"));
  EXPECT_FALSE(isCallerHeaderValue("a\r\nb"));
  EXPECT_FALSE(isCallerHeaderValue(std::string("a\0b", 3)));
  EXPECT_FALSE(isCallerHeaderValue("\x1F"));
}

TEST(ResponseRules, PrintablePrefixAndTrim) {
  EXPECT_EQ(printableAsciiPrefix("\"abc\""), "\"abc\"");
  EXPECT_EQ(printableAsciiPrefix("\"ab\xC3\xA9\""), "\"ab");
  EXPECT_EQ(printableAsciiPrefix("a\tb"), "a");
  EXPECT_EQ(printableAsciiPrefix("\x7F"), "");
  EXPECT_EQ(trimBlanks(" \t a b \t"), "a b");
  EXPECT_EQ(trimBlanks(" \t "), "");
}

TEST(ClientSteps, OneMessagePerStep) {
  const struct {
    FetchStep step;
    const char* failed;
    const char* cancelled;
  } cases[] = {
      {FetchStep::Session, "WinHTTP session failed", "WinHTTP session failed"},
      {FetchStep::Connection, "HTTP connection failed or cancelled", "HTTP connection failed or cancelled"},
      {FetchStep::Request, "HTTP request creation failed", "HTTP request creation failed"},
      {FetchStep::Policy, "HTTP request policy failed", "HTTP request policy failed"},
      {FetchStep::Send, "HTTP send failed or cancelled", "HTTP send failed or cancelled"},
      {FetchStep::Status, "HTTP response status is unavailable", "HTTP read cancelled"},
      {FetchStep::ContentEncoding, "HTTP content encoding is unavailable", "HTTP read cancelled"},
      {FetchStep::Body, "HTTP body read failed", "HTTP read cancelled"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fetchStepMessage(c.step), c.failed) << static_cast<int>(c.step);
    EXPECT_EQ(fetchStepMessage(c.step, true), c.cancelled) << static_cast<int>(c.step);
  }
  EXPECT_EQ(statusRefusal(FetchKind::Range, 206), "");
  EXPECT_EQ(statusRefusal(FetchKind::Suffix, 200), "");
  EXPECT_EQ(statusRefusal(FetchKind::Whole, 200), "");
  EXPECT_EQ(statusRefusal(FetchKind::Whole, 206), "Whole-carrier response was not 200");
  EXPECT_EQ(statusRefusal(FetchKind::Whole, 404), "HTTP carrier response was not 200 or 206");
  EXPECT_EQ(statusRefusal(FetchKind::Range, 301), "HTTP carrier response was not 200 or 206");
}

TEST(ClientHead, StatusLines) {
  const struct {
    const char* line;
    std::uint32_t status;
  } cases[] = {
      {"HTTP/1.1 206 Partial Content", 206},
      {"HTTP/1.0 200", 200},
      {"HTTP/2 404 ", 404},
      {"HTTP/1.1 99 Low", 0},
      {"HTTP/1.1 2000 OK", 0},
      {"HTTP/1.1 20x OK", 0},
      {"HTTP/1.1  200 OK", 0},
      {"HTTP/1.1", 0},
      {"HTTP/1.1 -20 OK", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(parseStatusLine(c.line), c.status) << c.line;
}

TEST(ClientHead, FieldsOfTheFinalHead) {
  ResponseHead head;
  for (const char* line :
       {"HTTP/1.1 100 Continue\r\n", "ETag: \"interim\"\r\n", "\r\n", "HTTP/1.1 206 Partial Content\r\n",
        "etag:  \"one\" \r\n", "ETag: \"two\"\r\n", "Content-Range: bytes 0-9/\r\n", "\t 10 \r\n", "no colon\r\n",
        " dropped\r\n", "Content-Encoding: identity\r\n", "CONTENT-ENCODING: Identity\r\n"}) {
    EXPECT_FALSE(head.readLine(line)) << line;
  }
  EXPECT_TRUE(head.readLine("\r\n"));
  EXPECT_EQ(head.status(), 206u);
  EXPECT_EQ(head.etag(), "\"one\"");
  EXPECT_EQ(head.contentRange(), "bytes 0-9/ 10");  // a folded line continues the value
  EXPECT_FALSE(head.contentLength().has_value());
  EXPECT_EQ(head.refusal(), "");

  EXPECT_FALSE(head.readLine("HTTP/1.1 200 OK"));  // a new head starts over
  EXPECT_FALSE(head.etag().has_value());
  for (const char* line : {"Content-Encoding: identity", "Content-Encoding: gzip"}) head.readLine(line);
  EXPECT_EQ(head.refusal(), "HTTP carrier used content encoding");
  ResponseHead garbled;
  EXPECT_TRUE(garbled.readLine("\n"));
  EXPECT_EQ(garbled.refusal(), "HTTP response status is unavailable");
}

TEST(ClientHead, DeclaredBodyLength) {
  const struct {
    std::vector<const char*> lines;
    std::optional<std::uint64_t> declared;
  } cases[] = {
      {{"HTTP/1.1 200 OK", "Content-Length: 100000000"}, 100000000},
      {{"HTTP/1.1 404 Not Found", "Content-Length: 007", "Content-Length: 9"}, 7},  // the first field counts
      {{"HTTP/1.1 200 OK", "Content-Length: 1e6"}, std::nullopt},
      {{"HTTP/1.1 200 OK", "Content-Length: 5", "Transfer-Encoding: gzip, Chunked"}, std::nullopt},
      {{"HTTP/1.1 200 OK", "Transfer-Encoding: chunked", "Content-Length: 5"}, std::nullopt},
      {{"HTTP/1.1 204 No Content", "Content-Length: 5"}, std::nullopt},
      {{"HTTP/1.1 304 Not Modified", "Content-Length: 5"}, std::nullopt},
      {{"HTTP/1.1 100 Continue", "Transfer-Encoding: chunked", "", "HTTP/1.1 200 OK", "Content-Length: 5"}, 5},
  };
  for (const auto& c : cases) {
    ResponseHead head;
    for (const char* line : c.lines) head.readLine(line);
    EXPECT_EQ(head.declaredBodyLength(), c.declared) << c.lines.back();
  }
  EXPECT_EQ(declaredLengthRefusal(100, 100), "");
  EXPECT_EQ(declaredLengthRefusal(101, 100), "HTTP carrier exceeded response bound");
  EXPECT_EQ(declaredLengthRefusal(std::nullopt, 1), "");
}

TEST(ClientHead, HeaderValueLimits) {
  EXPECT_EQ(contentEncodingRefusal(" identity\t"), "");
  EXPECT_EQ(contentEncodingRefusal(""), "HTTP carrier used content encoding");
  EXPECT_EQ(contentEncodingRefusal(std::string(255, 'x')), "HTTP carrier used content encoding");
  EXPECT_EQ(contentEncodingRefusal("identity" + std::string(248, ' ')), "HTTP content encoding is unavailable");
  EXPECT_EQ(keptHeaderValue(std::string(4095, 'e')).size(), 4095u);
  EXPECT_EQ(keptHeaderValue(std::string(4096, 'e')), "");
  EXPECT_EQ(keptHeaderValue("W/\"ab\x80zz\""), "W/\"ab");
}

TEST(ContentRange, ParseAndExactCheck) {
  const struct {
    const char* value;
    bool ok;
    ContentRange range;
  } cases[] = {
      {"bytes 0-127/128", true, {0, 127, 128}},
      {"bytes 0-0/1", true, {0, 0, 1}},
      {"bytes 007-010/0100", true, {7, 10, 100}},
      {"bytes 5-4/10", false, {}},
      {"bytes 0-9/9", false, {}},
      {"bytes 0-9/10 ", false, {}},
      {"bytes */10", false, {}},
      {"bytes 0-9/*", false, {}},
      {"Bytes 0-9/10", false, {}},
      {"bytes  0-9/10", false, {}},
      {"bytes ", false, {}},
      {"bytes 0/9-10", false, {}},
      {"bytes 0-18446744073709551615/18446744073709551615", false, {}},
      {"bytes 0-18446744073709551614/18446744073709551615",
       true,
       {0, 18446744073709551614ULL, 18446744073709551615ULL}},
      {"bytes 0-1/99999999999999999999", false, {}},
  };
  for (const auto& c : cases) {
    const auto range = parseContentRange(c.value);
    ASSERT_EQ(range.has_value(), c.ok) << c.value;
    if (c.ok) {
      EXPECT_EQ(range->first, c.range.first) << c.value;
      EXPECT_EQ(range->last, c.range.last) << c.value;
      EXPECT_EQ(range->total, c.range.total) << c.value;
    }
  }
  EXPECT_TRUE(isExactContentRange("bytes 10-19/20", 10, 19));
  EXPECT_TRUE(isExactContentRange("bytes 010-019/1000", 10, 19));
  EXPECT_FALSE(isExactContentRange("bytes 10-18/20", 10, 19));
  EXPECT_FALSE(isExactContentRange("bytes 11-19/20", 10, 19));
  EXPECT_FALSE(isExactContentRange("bytes */20", 10, 19));
}

}  // namespace
}  // namespace vesmara
