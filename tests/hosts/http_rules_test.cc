#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "hosts/http_rules.h"

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
                          "\"identity\"", "identity\r", "\xC4\xB1" "dentity"}) {
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

}  // namespace
}  // namespace vesmara
