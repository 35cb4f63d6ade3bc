// One fetch through an HttpHost followed by the checks every consumer makes
// before it uses a byte of the answer, in this order:
//
//   1. optionally, the cancellation flag before the request ("cancelled_before", Cancelled)
//   2. the fetch itself (the transport's failure passes through unchanged)
//   3. valid, status accepted for the kind, body within its limits     -> messages.unsafe
//   4. the ETag against the pin of earlier responses of the same object  -> messages.etag_changed
//   5. status 206: the Content-Range names exactly the requested bytes
//      and the body has their length                                     -> messages.bad_range
//   6. status 200 (a server that sent the whole object): the body holds
//      the requested bytes (and has the object's length, when known)     -> messages.short_whole
//
// Failures of steps 3 to 6 are Integrity. Each consumer (the hosted index,
// the external index, part fetching) brings its own limits and messages.
#ifndef VESMARA_HOSTS_CHECKED_FETCH_H_
#define VESMARA_HOSTS_CHECKED_FETCH_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "hosts/http_host.h"

namespace vesmara {

struct CheckedRequest {
  FetchKind kind = FetchKind::Range;
  std::string_view path;
  std::uint64_t first = 0;  // range: the first byte; suffix: the length; whole: 0
  std::uint64_t last = 0;   // range: the last byte (inclusive); otherwise 0
  // The response bound, which is also the largest body a 206 may have.
  std::uint64_t bound = 0;
  // The largest body a 200 may have; 0 means the bound.
  std::uint64_t whole_body_limit = 0;
  // The smallest body either status may have.
  std::uint64_t min_body = 0;
  // The length the object must have, when the consumer already knows it.
  std::optional<std::uint64_t> object_length;
  // ETag pinning, when not null: a non-empty pin must equal any non-empty
  // ETag of the response; an empty pin takes the response's strong ETag (a
  // weak one, "W/...", is never pinned).
  std::string* etag_pin = nullptr;
  // When not empty, a set cancellation flag fails the fetch before the
  // request with this message.
  std::string_view cancelled_before;
};

// The messages of one consumer, each preceded by `subject` (e.g. a part's
// url; empty for none).
struct CheckedFetchMessages {
  std::string_view subject;
  std::string_view unsafe;
  std::string_view etag_changed;
  std::string_view bad_range;
  std::string_view short_whole;
};

// Where the accepted answer puts the requested bytes.
struct CheckedBytes {
  std::span<const std::uint8_t> requested;  // inside response.body
  std::uint64_t body_first = 0;             // the object offset of response.body[0]
  std::uint64_t object_length = 0;          // from the Content-Range, or the whole body's length
};

// Runs the request and the checks above. `response` is the consumer's, so it
// can recycle the body's memory and wipe it; `bytes` points into it. On
// failure `failure` holds the message and kind, and `bytes` is unspecified.
bool fetchChecked(HttpHost& transport, const CheckedRequest& request, const CheckedFetchMessages& messages,
                  HttpResponse& response, CheckedBytes& bytes, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_CHECKED_FETCH_H_
