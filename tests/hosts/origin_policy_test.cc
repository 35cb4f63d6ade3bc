#include <gtest/gtest.h>

#include <string>

#include "hosts/origin_policy.h"

namespace vesmara {
namespace {

constexpr const char* kAccepted = "";
constexpr const char* kHttps = "Origin must use HTTPS";
constexpr const char* kHostPort = "Origin must contain only a host and optional port";
constexpr const char* kHost = "Invalid origin host";
constexpr const char* kDns = "Origin host must use ASCII DNS or Punycode";
constexpr const char* kPort = "Invalid origin port";
constexpr const char* kLoopback = "Plain HTTP is restricted to loopback development";

struct OriginCase {
  std::string text;
  const char* message;
  bool secure = false;
  std::string host = {};
  std::uint16_t port = 0;
};

TEST(OriginPolicy, Table) {
  const std::string host253 = std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." +
                              std::string(61, 'd');
  ASSERT_EQ(host253.size(), 253u);
  const OriginCase cases[] = {
      // Accepted.
      {"https://example.com", kAccepted, true, "example.com", 443},
      {"https://example.com/", kAccepted, true, "example.com", 443},
      {"https://Example.COM:8443", kAccepted, true, "Example.COM", 8443},
      {"https://example.com:65535", kAccepted, true, "example.com", 65535},
      {"https://example.com:1", kAccepted, true, "example.com", 1},
      {"https://example.com:00443/", kAccepted, true, "example.com", 443},
      {"https://xn--bcher-kva.example", kAccepted, true, "xn--bcher-kva.example", 443},
      {"https://10.0.0.1", kAccepted, true, "10.0.0.1", 443},
      {"http://localhost", kAccepted, false, "localhost", 80},
      {"http://LocalHost:8080/", kAccepted, false, "LocalHost", 8080},
      {"http://127.0.0.1:1", kAccepted, false, "127.0.0.1", 1},
      {"https://" + host253, kAccepted, true, host253, 443},
      // Scheme.
      {"HTTPS://example.com", kHttps},
      {"Http://localhost", kHttps},
      {"ftp://example.com", kHttps},
      {"example.com", kHttps},
      {"", kHttps},
      {"https:/example.com", kHttps},
      // Authority shape.
      {"https://", kHostPort},
      {"https:///", kHostPort},
      {"https://example.com//", kHostPort},
      {"https://example.com/path", kHostPort},
      {"https://user@example.com", kHostPort},
      {"https://example.com?x", kHostPort},
      {"https://example.com#x", kHostPort},
      {"https://example.com\\x", kHostPort},
      {"https://@", kHostPort},
      // Host length.
      {"https://:443", kHost},
      {"https://:", kHost},
      {"https://" + host253 + "e", kHost},
      // Host bytes.
      {"https://exa_mple.com", kDns},
      {"https://[::1]", kDns},
      {"https://[::1]:443", kDns},
      {"https://b\xC3\xBC" "cher.example", kDns},
      {"https://exa mple.com", kDns},
      {"https://example.com :443", kDns},
      // Port.
      {"https://example.com:", kPort},
      {"https://example.com:0", kPort},
      {"https://example.com:65536", kPort},
      {"https://example.com:99999999999999999999", kPort},
      {"https://example.com:+443", kPort},
      {"https://example.com:443:1", kPort},
      {"https://example.com: 443", kPort},
      {"http://localhost:", kPort},
      // Plain HTTP.
      {"http://example.com", kLoopback},
      {"http://127.0.0.2", kLoopback},
      {"http://127.1", kLoopback},
      {"http://localhost.", kLoopback},
      {"http://localhost.localdomain", kLoopback},
      {"http://0.0.0.0", kLoopback},
  };
  for (const auto& c : cases) {
    Origin origin;
    origin.host = "unchanged";
    std::string message = "previous text";
    const bool accepted = parseOrigin(c.text, origin, message);
    EXPECT_EQ(message, c.message) << testing::PrintToString(c.text);
    EXPECT_EQ(accepted, std::string(c.message).empty()) << testing::PrintToString(c.text);
    if (accepted) {
      EXPECT_EQ(origin.secure, c.secure) << c.text;
      EXPECT_EQ(origin.host, c.host) << c.text;
      EXPECT_EQ(origin.port, c.port) << c.text;
    } else {
      EXPECT_EQ(origin.host, "unchanged") << c.text;
    }
  }
}

TEST(OriginPolicy, UrlPrefixKeepsTheHostAsGiven) {
  Origin origin;
  std::string message;
  ASSERT_TRUE(parseOrigin("https://Example.com/", origin, message));
  EXPECT_EQ(origin.urlPrefix(), "https://Example.com:443");
  ASSERT_TRUE(parseOrigin("http://127.0.0.1:08080", origin, message));
  EXPECT_EQ(origin.urlPrefix(), "http://127.0.0.1:8080");
}

TEST(OriginPolicy, TrailingSlashRemovedOnce) {
  EXPECT_EQ(originWithoutTrailingSlash("https://example.com/"), "https://example.com");
  EXPECT_EQ(originWithoutTrailingSlash("https://example.com"), "https://example.com");
}

}  // namespace
}  // namespace vesmara
