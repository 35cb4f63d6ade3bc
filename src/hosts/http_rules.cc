#include "hosts/http_rules.h"

#include <limits>

#include "base/decimal.h"
#include "hosts/http_path.h"

namespace vesmara {
namespace {

bool fail(std::string& message, std::string_view text) {
  message.assign(text);
  return false;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool checkRequestRules(const FetchRequest& request, bool originValid, bool cancelled, std::string& message) {
  if (request.kind == FetchKind::Range &&
      (request.first > request.last || request.last == std::numeric_limits<std::uint64_t>::max())) {
    return fail(message, kInvalidRequestedRange);
  }
  if (request.kind == FetchKind::Suffix && request.first == 0) return fail(message, kInvalidRequestedSuffix);
  if (!originValid) return fail(message, kHttpOriginInvalid);
  if (cancelled) return fail(message, kHttpReadCancelled);
  if (!isHttpPath(request.path)) return fail(message, kInvalidPathOrBound);
  if (request.bound == 0 || request.bound > kMaxResponseBound) return fail(message, kInvalidPathOrBound);
  return true;
}

std::string rangeHeaderValue(const FetchRequest& request) {
  switch (request.kind) {
    case FetchKind::Range:
      return "bytes=" + formatUnsignedDecimal(request.first) + "-" + formatUnsignedDecimal(request.last);
    case FetchKind::Suffix:
      return "bytes=-" + formatUnsignedDecimal(request.first);
    case FetchKind::Whole:
      break;
  }
  return {};
}

std::vector<std::string> requestHeaderLines(const FetchRequest& request) {
  std::vector<std::string> lines;
  lines.reserve(4);
  if (request.kind != FetchKind::Whole) lines.push_back("Range: " + rangeHeaderValue(request));
  lines.emplace_back("Cache-Control: no-store");
  lines.emplace_back("Pragma: no-cache");
  lines.emplace_back("Accept-Encoding: identity");
  return lines;
}

bool isAcceptedStatus(FetchKind kind, std::uint32_t status) {
  if (kind == FetchKind::Whole) return status == 200;
  return status == 200 || status == 206;
}

std::string_view trimBlanks(std::string_view value) {
  while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && isBlank(value.back())) value.remove_suffix(1);
  return value;
}

bool equalsIgnoringAsciiCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

bool isIdentityEncoding(std::string_view value) { return equalsIgnoringAsciiCase(trimBlanks(value), "identity"); }

bool isCallerHeaderValue(std::string_view value) {
  if (value.size() >= 256) return false;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte != 0x09 && (byte < 0x20 || byte > 0x7E)) return false;
  }
  return true;
}

std::string_view printableAsciiPrefix(std::string_view value) {
  std::size_t n = 0;
  while (n < value.size()) {
    const auto byte = static_cast<unsigned char>(value[n]);
    if (byte < 0x20 || byte > 0x7E) break;
    ++n;
  }
  return value.substr(0, n);
}

}  // namespace vesmara
