// The abstract transport every byte of a site passes through, and the record
// one fetch fills.
//
// The core never speaks HTTP itself: it asks an HttpHost for a byte range, a
// suffix or a whole file of a path on the site's origin, with a bound on the
// body size. The HTTP transports (CurlHttpHost, CallbackHttpHost) apply the
// request and response rules of http_rules.h; the messages they report are
// fixed texts that callers compare byte for byte. A failed fetch reports
// through the same Failure every other step uses, with its kind already
// set, so consumers pass it on unchanged.
#ifndef VESMARA_HOSTS_HTTP_HOST_H_
#define VESMARA_HOSTS_HTTP_HOST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"

namespace vesmara {

// The largest response bound a fetch may ask for: 128 MiB.
inline constexpr std::uint64_t kMaxResponseBound = 134217728;  // 0x8000000

// The User-Agent of the library's own HTTP client.
inline constexpr std::string_view kHttpUserAgent = "VesmaraWeb-Pavane/0.28";

// The three fetch kinds. The caller transport hands its C callback the kind
// plus one (VKR_PREVIEW_FETCH_RANGE and so on).
enum class FetchKind : std::uint32_t {
  Range = 0,   // "Range: bytes=first-last"; 200 or 206 accepted
  Suffix = 1,  // "Range: bytes=-length"; 200 or 206 accepted
  Whole = 2,   // no Range header; only 200 accepted
};

// One fetch's result, owned by the caller and filled by the transport.
// After a failed fetch of an HTTP transport it is empty (see reset()).
struct HttpResponse {
  std::uint32_t status = 0;   // the accepted status; 0 after a failure
  bool valid = false;         // true only for a response the transport accepted
  std::string content_range;  // Content-Range value, empty when absent
  std::string etag;           // ETag value as sent (quotes and W/ kept), empty when absent
  std::vector<std::uint8_t> body;

  // Back to the empty state; the body's memory is released.
  void reset() {
    status = 0;
    valid = false;
    content_range.clear();
    etag.clear();
    std::vector<std::uint8_t>().swap(body);
  }
};

// The transport contract. The virtual operations keep this slot order:
// destructor, cancel, resetCancel, fetchRange, fetchSuffix, fetchWhole,
// isCancelled, prefetchRange.
//
// A fetch may reuse the memory of the `response.body` it is given (its
// bytes are discarded first), so a caller can recycle one buffer across
// fetches.
//
// Every fetch returns true on success, leaving `failure` clear, or false
// with a fixed message in `failure` and the kind fetchFailureKind() gives:
// Cancelled while the cancellation flag is set, Transport otherwise.
// Fetches run on the calling thread; cancel() may be called from any other
// thread at any time and only sets an atomic flag that a running fetch
// notices at its next check. Fetches may throw std::bad_alloc and nothing
// else.
class HttpHost {
 public:
  virtual ~HttpHost() = default;

  // Sets the cancellation flag.
  virtual void cancel() = 0;

  // Clears the cancellation flag.
  virtual void resetCancel() = 0;

  // Bytes `first` to `last` inclusive of `path`; the body may be at most
  // `bound` bytes.
  virtual bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                          HttpResponse& response, Failure& failure) = 0;

  // The last `length` bytes of `path`.
  virtual bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                           Failure& failure) = 0;

  // The whole of `path`.
  virtual bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) = 0;

  // The current value of the cancellation flag.
  virtual bool isCancelled() const = 0;

  // A hint: after its next fetch, the caller expects to ask fetchRange for
  // exactly these arguments; further hints before that fetch name the
  // fetches that follow, in order. A transport that can run requests at
  // once may send them while the next fetch runs, each once the answer
  // before it began (so requests still go out in the caller's order), and
  // hand each answer to the matching fetchRange; any other fetch abandons
  // them. Hints not used by the next fetch lapse. The result of every fetch
  // is the same as without hints. The default runs fetches strictly one
  // after another.
  virtual void prefetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound) {
    static_cast<void>(path);
    static_cast<void>(first);
    static_cast<void>(last);
    static_cast<void>(bound);
  }

 protected:
  HttpHost() = default;
  HttpHost(const HttpHost&) = delete;
  HttpHost& operator=(const HttpHost&) = delete;
};

// The kind of a failed fetch of `host`: Cancelled while its flag is set,
// Transport otherwise.
inline FailureKind fetchFailureKind(const HttpHost& host) {
  return host.isCancelled() ? FailureKind::Cancelled : FailureKind::Transport;
}

}  // namespace vesmara

#endif  // VESMARA_HOSTS_HTTP_HOST_H_
