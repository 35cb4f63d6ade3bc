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

// True when the comma-separated list of transfer codings holds "chunked".
bool namesChunked(std::string_view codings) {
  while (!codings.empty()) {
    const std::size_t comma = codings.find(',');
    if (equalsIgnoringAsciiCase(trimBlanks(codings.substr(0, comma)), "chunked")) return true;
    if (comma == std::string_view::npos) break;
    codings.remove_prefix(comma + 1);
  }
  return false;
}

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

bool failFetch(const HttpHost& host, HttpResponse& response, Failure& failure, std::string_view message) {
  response.reset();
  return failure.fail(fetchFailureKind(host), message);
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

std::string_view fetchStepMessage(FetchStep step, bool cancelled) {
  switch (step) {
    case FetchStep::Session:
      return kHttpSessionFailed;
    case FetchStep::Connection:
      return kHttpConnectionFailed;
    case FetchStep::Request:
      return kHttpRequestCreationFailed;
    case FetchStep::Policy:
      return kHttpRequestPolicyFailed;
    case FetchStep::Send:
      return kHttpSendFailed;
    case FetchStep::Status:
      return cancelled ? kHttpReadCancelled : kHttpStatusUnavailable;
    case FetchStep::ContentEncoding:
      return cancelled ? kHttpReadCancelled : kHttpContentEncodingUnavailable;
    case FetchStep::Body:
      return cancelled ? kHttpReadCancelled : kHttpBodyReadFailed;
  }
  return kHttpBodyReadFailed;
}

std::uint32_t parseStatusLine(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  const std::string_view digits = line.substr(space + 1, 3);
  if (line.size() > space + 4 && line[space + 4] != ' ') return 0;
  std::uint32_t code = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    code = code * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return code >= 100 ? code : 0;
}

std::string_view contentEncodingRefusal(std::string_view value) {
  if (value.size() > kMaxContentEncodingValue) return kHttpContentEncodingUnavailable;
  if (!isIdentityEncoding(value)) return kCarrierUsedContentEncoding;
  return {};
}

std::string keptHeaderValue(std::string_view value) {
  if (value.size() > kMaxKeptHeaderValue) return {};
  return std::string(printableAsciiPrefix(value));
}

std::string_view declaredLengthRefusal(std::optional<std::uint64_t> declared, std::uint64_t bound) {
  return declared && *declared > bound ? kCarrierExceededBound : std::string_view();
}

std::string_view statusRefusal(FetchKind kind, std::uint32_t status) {
  if (status != 200 && status != 206) return kCarrierStatusNot200Or206;
  if (!isAcceptedStatus(kind, status)) return kWholeCarrierNot200;
  return {};
}

bool ResponseHead::readLine(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (line.ends_with('\r')) line.remove_suffix(1);

  if (line.starts_with("HTTP/")) {
    start(parseStatusLine(line));
  } else if (line.empty()) {
    if (status_ < 100 || status_ > 199) return true;
    start(0);  // an interim head; the final one follows
  } else if (isBlank(line.front())) {
    // A folded continuation line extends the previous field's value.
    const std::string_view more = trimBlanks(line);
    if (last_value_ != nullptr && !more.empty()) {
      last_value_->push_back(' ');
      last_value_->append(more);
    }
  } else {
    const std::size_t colon = line.find(':');
    last_value_ = nullptr;
    if (colon != std::string_view::npos) addField(line.substr(0, colon), trimBlanks(line.substr(colon + 1)));
  }
  return false;
}

std::string_view ResponseHead::refusal() const {
  if (status_ == 0) return kHttpStatusUnavailable;
  // Several fields combine into one list, which is identity only when each
  // of them is.
  for (const std::string& value : content_encodings_) {
    const std::string_view refused = contentEncodingRefusal(value);
    if (!refused.empty()) return refused;
  }
  return {};
}

std::optional<std::uint64_t> ResponseHead::declaredBodyLength() const {
  if (chunked_ || status_ == 204 || status_ == 304 || !content_length_) return std::nullopt;
  return parseUnsignedDecimal(*content_length_);
}

void ResponseHead::start(std::uint32_t status) {
  status_ = status;
  content_encodings_.clear();
  content_range_.reset();
  etag_.reset();
  content_length_.reset();
  chunked_ = false;
  last_value_ = nullptr;
}

void ResponseHead::addField(std::string_view name, std::string_view value) {
  if (equalsIgnoringAsciiCase(name, "content-encoding")) {
    last_value_ = &content_encodings_.emplace_back(value);
  } else if (equalsIgnoringAsciiCase(name, "content-range")) {
    if (!content_range_) last_value_ = &content_range_.emplace(value);
  } else if (equalsIgnoringAsciiCase(name, "etag")) {
    if (!etag_) last_value_ = &etag_.emplace(value);
  } else if (equalsIgnoringAsciiCase(name, "content-length")) {
    if (!content_length_) last_value_ = &content_length_.emplace(value);
  } else if (equalsIgnoringAsciiCase(name, "transfer-encoding")) {
    chunked_ = chunked_ || namesChunked(value);
  }
}

std::optional<ContentRange> parseContentRange(std::string_view value) {
  constexpr std::string_view kUnit = "bytes ";
  if (!value.starts_with(kUnit) || value.size() == kUnit.size()) return std::nullopt;
  const std::string_view rest = value.substr(kUnit.size());
  const std::size_t dash = rest.find('-');
  const std::size_t slash = rest.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
  const auto first = parseUnsignedDecimal(rest.substr(0, dash));
  const auto last = parseUnsignedDecimal(rest.substr(dash + 1, slash - dash - 1));
  const auto total = parseUnsignedDecimal(rest.substr(slash + 1));
  if (!first || !last || !total || *first > *last || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

bool isExactContentRange(std::string_view value, std::uint64_t first, std::uint64_t last) {
  const std::optional<ContentRange> range = parseContentRange(value);
  return range && range->first == first && range->last == last && range->total > last;
}

}  // namespace vesmara
