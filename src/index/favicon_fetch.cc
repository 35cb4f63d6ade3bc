#include "index/favicon_fetch.h"

#include "hosts/checked_fetch.h"
#include "index/carrier_format.h"
#include "index/paths.h"

namespace vesmara {
namespace {

// Both requests: a favicon carries at most a 16 MiB payload.
constexpr std::uint64_t kFaviconBound = carrier::kMaxPayloadLength;

}  // namespace

bool fetchFaviconFooter(HttpHost& transport, FaviconFetch& fetch, HttpResponse& response,
                        std::span<const std::uint8_t>& footer, Failure& failure) {
  const CheckedRequest request{.kind = FetchKind::Suffix,
                               .path = kFaviconPath,
                               .first = carrier::kFooterLength,
                               .bound = kFaviconBound,
                               .min_body = carrier::kFooterLength,
                               .etag_pin = &fetch.etag};
  constexpr std::string_view kUnsafe = "Favicon footer response is unavailable or unsafe";
  const CheckedFetchMessages messages{.unsafe = kUnsafe,
                                      .bad_range = "Invalid favicon footer range",
                                      .short_whole = kUnsafe};  // cannot happen: at least the footer came
  CheckedBytes bytes;
  if (!fetchChecked(transport, request, messages, response, bytes, failure)) return false;
  footer = bytes.requested;
  fetch.favicon_length = bytes.object_length;
  return true;
}

bool fetchFaviconPayload(HttpHost& transport, FaviconFetch& fetch, std::uint64_t offset, std::uint64_t length,
                         HttpResponse& response, std::span<const std::uint8_t>& payload, Failure& failure) {
  const CheckedRequest request{.path = kFaviconPath,
                               .first = offset,
                               .last = offset + length - 1,
                               .bound = kFaviconBound,
                               .object_length = fetch.favicon_length,
                               .etag_pin = &fetch.etag,
                               .cancelled_before = "Index load cancelled"};
  constexpr std::string_view kChanged = "Favicon changed during index load";
  const CheckedFetchMessages messages{.unsafe = kChanged,
                                      .etag_changed = kChanged,
                                      .bad_range = "Invalid VKR payload range",
                                      .short_whole = "Incomplete favicon fallback"};
  CheckedBytes bytes;
  if (!fetchChecked(transport, request, messages, response, bytes, failure)) return false;
  payload = bytes.requested;
  return true;
}

}  // namespace vesmara
