// The small parsers that read text a server or a caller controls: the
// Content-Range value, a response head, the origin policy and the request
// path rule. Never a crash, and every acceptance is consistent with what
// was accepted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/decimal.h"
#include "fuzz_support.h"
#include "hosts/http_path.h"
#include "hosts/http_rules.h"
#include "hosts/origin_policy.h"

namespace {

void checkContentRange(std::string_view value) {
  const std::optional<vesmara::ContentRange> range = vesmara::parseContentRange(value);
  if (!range) return;
  if (range->first > range->last || range->last >= range->total) __builtin_trap();
  if (!vesmara::isExactContentRange(value, range->first, range->last)) __builtin_trap();
  if (range->last + 1 < range->total && vesmara::isExactContentRange(value, range->first, range->last + 1)) {
    __builtin_trap();
  }
  // The canonical spelling of an accepted range parses to the same numbers.
  const std::string canonical = "bytes " + vesmara::formatUnsignedDecimal(range->first) + "-" +
                                vesmara::formatUnsignedDecimal(range->last) + "/" +
                                vesmara::formatUnsignedDecimal(range->total);
  const std::optional<vesmara::ContentRange> again = vesmara::parseContentRange(canonical);
  if (!again || again->first != range->first || again->last != range->last || again->total != range->total) {
    __builtin_trap();
  }
}

// The input as the lines of a response head.
void checkResponseHead(std::string_view text) {
  vesmara::ResponseHead head;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
    text.remove_prefix(line.size());
    if (head.readLine(line)) break;
  }
  const std::string_view refusal = head.refusal();
  if (refusal.empty() && (head.status() < 100 || head.status() > 999)) __builtin_trap();
  for (const auto* value : {&head.contentRange(), &head.etag()}) {
    if (!*value) continue;
    const std::string kept = vesmara::keptHeaderValue(**value);
    if (kept.size() > vesmara::kMaxKeptHeaderValue || vesmara::printableAsciiPrefix(kept) != kept) __builtin_trap();
  }
}

void checkOrigin(std::string_view text) {
  vesmara::Origin origin;
  std::string message;
  if (!vesmara::parseOrigin(text, origin, message)) {
    if (message.empty()) __builtin_trap();
    return;
  }
  if (!message.empty() || origin.host.empty() || origin.host.size() > vesmara::kMaxOriginHostLength) __builtin_trap();
  if (origin.port == 0) __builtin_trap();
  // An accepted origin's own URL prefix is accepted again, as the same origin.
  vesmara::Origin again;
  if (!vesmara::parseOrigin(origin.urlPrefix(), again, message) || again.host != origin.host ||
      again.port != origin.port || again.secure != origin.secure) {
    __builtin_trap();
  }
}

void checkPath(std::string_view path) {
  if (!vesmara::isHttpPath(path)) return;
  if (path.empty() || path.front() != '/') __builtin_trap();
  for (const char c : path) {
    if (c == '%' || c == '?' || c == ' ' || static_cast<unsigned char>(c) >= 0x80) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > vesmara::fuzz::kMaxInputLength) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  checkContentRange(input);
  checkResponseHead(input);
  checkOrigin(input);
  checkPath(input);
  return 0;
}
