#include "hosts/origin_policy.h"

#include "base/decimal.h"
#include "hosts/http_rules.h"

namespace vesmara {
namespace {

bool isHostByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// One or more digits whose value is 1 to 65535. Leading zeros are allowed;
// the accumulator stops growing once the value is out of range.
bool parsePort(std::string_view text, std::uint16_t& port) {
  if (text.empty()) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

bool refuse(std::string& message, std::string_view text) {
  message.assign(text);
  return false;
}

}  // namespace

std::string Origin::urlPrefix() const {
  std::string prefix = secure ? "https://" : "http://";
  prefix += host;
  prefix += ':';
  prefix += formatUnsignedDecimal(port);
  return prefix;
}

bool isLoopbackHost(std::string_view host) { return equalsIgnoringAsciiCase(host, "localhost") || host == "127.0.0.1"; }

bool parseOrigin(std::string_view text, Origin& origin, std::string& message) {
  constexpr std::string_view kHttps = "https://";
  constexpr std::string_view kHttp = "http://";

  bool secure = false;
  std::uint16_t port = 0;
  std::string_view authority;
  if (text.starts_with(kHttps)) {
    secure = true;
    port = 443;
    authority = text.substr(kHttps.size());
  } else if (text.starts_with(kHttp)) {
    port = 80;
    authority = text.substr(kHttp.size());
  } else {
    return refuse(message, kOriginMustUseHttps);
  }

  if (authority.ends_with('/')) authority.remove_suffix(1);
  if (authority.empty()) return refuse(message, kOriginHostAndPortOnly);
  if (authority.find_first_of("/@?#\\") != std::string_view::npos) return refuse(message, kOriginHostAndPortOnly);

  const std::size_t colon = authority.find(':');
  const std::string_view host = authority.substr(0, colon);
  if (host.empty() || host.size() > kMaxOriginHostLength) return refuse(message, kInvalidOriginHost);
  for (char c : host) {
    if (!isHostByte(c)) return refuse(message, kOriginHostNotAsciiDns);
  }

  if (colon != std::string_view::npos && !parsePort(authority.substr(colon + 1), port)) {
    return refuse(message, kInvalidOriginPort);
  }

  if (!secure && !isLoopbackHost(host)) {
    return refuse(message, kPlainHttpLoopbackOnly);
  }

  origin.secure = secure;
  origin.host.assign(host);
  origin.port = port;
  message.clear();
  return true;
}

std::string_view originWithoutTrailingSlash(std::string_view text) {
  if (text.ends_with('/')) text.remove_suffix(1);
  return text;
}

}  // namespace vesmara
