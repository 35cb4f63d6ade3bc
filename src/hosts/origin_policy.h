// The origin policy: which origins a site may be opened at, and the parsed
// form of an accepted origin.
//
// An origin is "https://" followed by a host of ASCII DNS letters (or
// Punycode) and an optional port, optionally with one trailing "/". Plain
// "http://" is allowed only for the loopback development hosts "localhost"
// (any case) and "127.0.0.1". Nothing is repaired or normalised: the host is
// kept exactly as given.
#ifndef VESMARA_HOSTS_ORIGIN_POLICY_H_
#define VESMARA_HOSTS_ORIGIN_POLICY_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vesmara {

// The policy's messages, in the order of its checks.
inline constexpr std::string_view kOriginMustUseHttps = "Origin must use HTTPS";
inline constexpr std::string_view kOriginHostAndPortOnly = "Origin must contain only a host and optional port";
inline constexpr std::string_view kInvalidOriginHost = "Invalid origin host";
inline constexpr std::string_view kOriginHostNotAsciiDns = "Origin host must use ASCII DNS or Punycode";
inline constexpr std::string_view kInvalidOriginPort = "Invalid origin port";
inline constexpr std::string_view kPlainHttpLoopbackOnly = "Plain HTTP is restricted to loopback development";

inline constexpr std::size_t kMaxOriginHostLength = 253;

// An accepted origin.
struct Origin {
  bool secure = false;     // true for "https://"
  std::string host;        // exactly as given (letters keep their case)
  std::uint16_t port = 0;  // the explicit port, or 443 / 80

  // "https://" or "http://", the host, ":" and the port in decimal: the
  // prefix a request path is appended to.
  std::string urlPrefix() const;
};

// True for the loopback development hosts: "localhost" in any mix of case
// and exactly "127.0.0.1". Plain HTTP is allowed only for them, and the
// library's own client never reaches them through a proxy.
bool isLoopbackHost(std::string_view host);

// Applies the policy to `text`. On acceptance fills `origin`, empties
// `message` and returns true. On refusal writes the first failing check's
// message, leaves `origin` unchanged and returns false.
bool parseOrigin(std::string_view text, Origin& origin, std::string& message);

// The origin text the caller transport joins request paths to: `text`
// without one trailing "/". Only meaningful for an accepted origin.
std::string_view originWithoutTrailingSlash(std::string_view text);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_ORIGIN_POLICY_H_
