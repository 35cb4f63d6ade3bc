// The request and response rules both HTTP transports share, so the curl
// transport and the caller transport call the same code.
//
// Request rules, in this order, before any input or output:
//   1. range only: first <= last and last < 2^64 - 1    "Invalid requested range"
//   2. suffix only: length >= 1                         "Invalid requested suffix"
//   3. the origin passed the origin policy              "HTTP origin is invalid"
//   4. the cancellation flag is clear                   "HTTP read cancelled"
//   5. the path obeys the HTTP path rule                "Invalid HTTP path or response bound"
//   6. 1 <= bound <= 134,217,728                        "Invalid HTTP path or response bound"
//
// Response rules: the status is accepted for the kind (200 or 206; 200 only
// for a whole fetch); Content-Encoding is absent or "identity"; the body is
// not longer than the bound.
#ifndef VESMARA_HOSTS_HTTP_RULES_H_
#define VESMARA_HOSTS_HTTP_RULES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/http_host.h"

namespace vesmara {

// Messages of the shared rules.
inline constexpr std::string_view kInvalidRequestedRange = "Invalid requested range";
inline constexpr std::string_view kInvalidRequestedSuffix = "Invalid requested suffix";
inline constexpr std::string_view kHttpOriginInvalid = "HTTP origin is invalid";
inline constexpr std::string_view kHttpReadCancelled = "HTTP read cancelled";
inline constexpr std::string_view kInvalidPathOrBound = "Invalid HTTP path or response bound";
inline constexpr std::string_view kCarrierUsedContentEncoding = "HTTP carrier used content encoding";
inline constexpr std::string_view kCarrierExceededBound = "HTTP carrier exceeded response bound";

// What one fetch asks for. For a suffix fetch `first` is the suffix length
// and `last` is 0; for a whole fetch both are 0.
struct FetchRequest {
  FetchKind kind = FetchKind::Whole;
  std::string_view path;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t bound = 0;
};

// Request rules 1 to 6 in order. `originValid` and `cancelled` are the
// transport's origin flag and the value of its cancellation flag. Returns
// false with the first failing rule's message.
bool checkRequestRules(const FetchRequest& request, bool originValid, bool cancelled, std::string& message);

// The Range header value: "bytes=first-last", "bytes=-length", or empty for
// a whole fetch. Decimal without leading zeros.
std::string rangeHeaderValue(const FetchRequest& request);

// The request header block, line by line without line ends, in the order it
// is sent: "Range: ..." for range and suffix fetches, then
// "Cache-Control: no-store", "Pragma: no-cache", "Accept-Encoding: identity".
std::vector<std::string> requestHeaderLines(const FetchRequest& request);

// Response rule 1: 200 or 206 for range and suffix fetches, 200 for whole.
bool isAcceptedStatus(FetchKind kind, std::uint32_t status);

// Spaces and tabs removed at both ends.
std::string_view trimBlanks(std::string_view value);

// True when `text`, with A-Z lowered, equals `lower` byte for byte. Only
// ASCII letters fold; every other byte must match exactly.
bool equalsIgnoringAsciiCase(std::string_view text, std::string_view lower);

// Response rule 2 for a header that is present: after trimming blanks,
// exactly "identity" with ASCII letters in any case. An empty or all-blank
// value fails.
bool isIdentityEncoding(std::string_view value);

// The caller transport's header rule: shorter than 256 bytes, every byte
// 0x20 to 0x7E or tab.
bool isCallerHeaderValue(std::string_view value);

// The longest prefix of `value` whose bytes are all 0x20 to 0x7E: what the
// library's own client keeps of a Content-Range or ETag value.
std::string_view printableAsciiPrefix(std::string_view value);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_HTTP_RULES_H_
