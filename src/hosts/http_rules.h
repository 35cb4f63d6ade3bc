// The request and response rules the HTTP transports share, so the curl
// transport, the caller transport and any other client of the platform call
// the same code, plus the Content-Range rule their consumers apply.
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
//
// The library's own client (libcurl here, WinHTTP elsewhere) goes through
// the steps of FetchStep after the request rules; each step that fails has
// one fixed message, whatever platform call failed inside it.
#ifndef VESMARA_HOSTS_HTTP_RULES_H_
#define VESMARA_HOSTS_HTTP_RULES_H_

#include <cstdint>
#include <optional>
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

// Messages of the library's own client, in the order they can occur.
inline constexpr std::string_view kHttpSessionFailed = "WinHTTP session failed";
inline constexpr std::string_view kHttpConnectionFailed = "HTTP connection failed or cancelled";
inline constexpr std::string_view kHttpRequestCreationFailed = "HTTP request creation failed";
inline constexpr std::string_view kHttpRequestPolicyFailed = "HTTP request policy failed";
inline constexpr std::string_view kHttpSendFailed = "HTTP send failed or cancelled";
inline constexpr std::string_view kHttpStatusUnavailable = "HTTP response status is unavailable";
inline constexpr std::string_view kHttpContentEncodingUnavailable = "HTTP content encoding is unavailable";
inline constexpr std::string_view kHttpBodyReadFailed = "HTTP body read failed";
inline constexpr std::string_view kCarrierStatusNot200Or206 = "HTTP carrier response was not 200 or 206";
inline constexpr std::string_view kWholeCarrierNot200 = "Whole-carrier response was not 200";

// Header limits of the library's own client: a Content-Encoding value
// longer than 255 characters is unavailable; a Content-Range or ETag value
// longer than 4,095 characters is dropped (left empty).
inline constexpr std::size_t kMaxContentEncodingValue = 255;
inline constexpr std::size_t kMaxKeptHeaderValue = 4095;

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

// Ends a failed fetch of an HTTP transport: the response back to its empty
// state and `message` recorded with the kind fetchFailureKind(host) gives.
// Returns false.
bool failFetch(const HttpHost& host, HttpResponse& response, Failure& failure, std::string_view message);

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

// The longest prefix of `value` whose bytes are all 0x20 to 0x7E.
std::string_view printableAsciiPrefix(std::string_view value);

// ---- The library's own client ---------------------------------------------

// The steps of one fetch after the request rules, in order.
enum class FetchStep {
  Session,          // the client session and its client-wide options
  Connection,       // the connection to the origin's host and port
  Request,          // the GET request and its header block
  Policy,           // no redirects, cookies or authentication
  Send,             // sending the request and receiving the response head
  Status,           // the status code of the complete head
  ContentEncoding,  // reading the Content-Encoding value
  Body,             // reading the body
};

// The message of a fetch that ends in `step`: a platform call of the step
// failed or, with `cancelled`, the step found the cancellation flag set.
// The connection and send steps report both the same way; from the status
// on, a cancellation is "HTTP read cancelled".
std::string_view fetchStepMessage(FetchStep step, bool cancelled = false);

// The status code of a status line "HTTP/x[.y] nnn[ reason]", or 0.
std::uint32_t parseStatusLine(std::string_view line);

// Response rule 2 for one present Content-Encoding value as this client
// reads it: empty when accepted, "HTTP content encoding is unavailable" for
// a value longer than the client's limit, "HTTP carrier used content
// encoding" for anything but identity.
std::string_view contentEncodingRefusal(std::string_view value);

// What this client keeps of a Content-Range or ETag value: nothing when the
// value is longer than its limit, else the value cut at the first byte
// outside 0x20 to 0x7E.
std::string keptHeaderValue(std::string_view value);

// Response rule 3 as this client applies it as soon as the head is read: a
// body the head already announces longer than `bound` fails with "HTTP
// carrier exceeded response bound" (empty otherwise), so nothing of it is
// read.
std::string_view declaredLengthRefusal(std::optional<std::uint64_t> declared, std::uint64_t bound);

// Response rule 1 as this client applies it once the body is read: empty,
// "HTTP carrier response was not 200 or 206", or for a whole fetch
// answered 206 "Whole-carrier response was not 200".
std::string_view statusRefusal(FetchKind kind, std::uint32_t status);

// The fields of a response head this client looks at, read line by line:
// the status line, field lines (name, colon, value), folded continuation
// lines and the blank line that ends the head. An interim (1xx) head is
// dropped at its blank line, so its fields never reach the final head; of
// Content-Range, ETag and Content-Length the first field counts, of
// Content-Encoding and Transfer-Encoding every one.
class ResponseHead {
 public:
  ResponseHead() = default;
  ResponseHead(const ResponseHead&) = delete;  // holds a pointer into itself
  ResponseHead& operator=(const ResponseHead&) = delete;

  // Reads one line, with or without its line end. True when the line was
  // the blank line that ends the final head.
  bool readLine(std::string_view line);

  // The checks of a complete final head, before any body byte is kept:
  // empty, "HTTP response status is unavailable" without a valid status
  // line, else the first Content-Encoding refusal.
  std::string_view refusal() const;

  std::uint32_t status() const { return status_; }
  const std::optional<std::string>& contentRange() const { return content_range_; }
  const std::optional<std::string>& etag() const { return etag_; }
  const std::optional<std::string>& contentLength() const { return content_length_; }
  // True when a Transfer-Encoding field names "chunked": chunks frame the
  // body and Content-Length does not count.
  bool chunked() const { return chunked_; }
  // The body length the head announces: its Content-Length when that is a
  // decimal number, the body is not chunked and the status has a body (not
  // 204 or 304).
  std::optional<std::uint64_t> declaredBodyLength() const;

 private:
  void start(std::uint32_t status);
  void addField(std::string_view name, std::string_view value);

  std::uint32_t status_ = 0;
  std::vector<std::string> content_encodings_;
  std::optional<std::string> content_range_;
  std::optional<std::string> etag_;
  std::optional<std::string> content_length_;
  bool chunked_ = false;
  std::string* last_value_ = nullptr;  // the value a continuation line extends
};

// ---- What consumers check of a response ------------------------------------

struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
};

// "bytes FIRST-LAST/TOTAL" with first <= last < total. Numbers are compared
// by value, so leading zeros are accepted.
std::optional<ContentRange> parseContentRange(std::string_view value);

// The same parse, accepted only for exactly the expected range of a larger object.
bool isExactContentRange(std::string_view value, std::uint64_t first, std::uint64_t last);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_HTTP_RULES_H_
