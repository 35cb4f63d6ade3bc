// The library's own HTTP client on Linux, built on libcurl.
//
// Construction applies the origin policy and makes no network activity; a
// refused origin leaves an object whose every fetch fails with "HTTP origin
// is invalid". A fetch is one GET with a fixed header block
//
//   Range: bytes=...          (range and suffix fetches only)
//   Cache-Control: no-store
//   Pragma: no-cache
//   Accept-Encoding: identity
//
// and the User-Agent "VesmaraWeb-Pavane/0.28"; libcurl adds only Host (its
// own Accept line is removed). Redirects are never followed, there is no
// cookie engine, no .netrc and no authentication of any kind, and the body
// is never decoded. Only https is spoken, or http for the loopback origins.
// HTTPS verifies the certificate and host name against the system trust
// store and requires TLS 1.2 or newer; it speaks HTTP/2 when the server
// offers it in the handshake, else HTTP/1.1 (the same requests and answers,
// one at a time). Plain http is always HTTP/1.1.
//
// Proxies: a loopback origin ("localhost" in any case or 127.0.0.1, over
// http or https) never uses a proxy. Any other origin uses the proxy
// settings of the environment exactly as libcurl reads them
// (https_proxy / HTTPS_PROXY, all_proxy / ALL_PROXY, no_proxy / NO_PROXY);
// this is the one piece of configuration the client takes from outside its
// arguments, the counterpart of the platform proxy settings other clients
// follow. No credentials are ever sent to a proxy.
//
// Time limits: resolving, connecting and the TLS handshake together within
// the connect time-out (10 s); once the request is on its way, the limits of
// transfer_limits.h: 10 s without receiving anything, the response head
// within 30 s and 64 KiB, the body at 2 KiB/s or more over each 30 s, chunk
// extensions and trailers within 16 KiB. A body the head announces longer
// than the fetch's bound is refused before any of it is read. There is no
// overall limit, since bodies reach 128 MiB.
//
// Chunk extensions and trailers never reach the body callback, so the
// transport also watches the bytes as received: libcurl hands them to its
// debug callback (CURLINFO_DATA_IN) before it takes the chunks apart, and
// ChunkedFramingMeter finds in them what is more than framing. Counting all
// received bytes against the body instead would charge every chunk-size
// line to the allowance and fail a large body that came in many chunks.
//
// The libcurl handles (driven through a multi handle, so that a
// cancellation is seen within a few tens of milliseconds even while the
// peer is silent) live as long as the transport and keep their connections
// open between fetches. A host name is looked up on a thread of libcurl's
// (the system's lookup cannot be interrupted); a fetch that ends during the
// lookup, cancelled or past the connect time-out, returns without waiting
// for it, and the thread ends by itself when the system's lookup does.
// Nothing else survives a fetch: no cookie, cache
// entry or credential. The handles are created by the first fetch.
//
// Pipelining: prefetchRange hints name the range fetches that will follow
// the next one, in order. Once that next fetch's answer has begun as a
// partial one (206), the hinted requests go out on easy handles of their
// own on the same multi handle (a connection each for HTTP/1.1, streams of
// one connection for HTTP/2), so the link is not left idle for a round trip
// between parts: at most four ahead, beyond the first only while they ask
// for at most 8 MiB together, and never one for an object already answered
// whole (which may hold the range already). Requests are sent in the
// caller's order; requests sent at once on several connections may reach
// the origin in any order. All are driven only inside fetches, on the
// caller's thread; between fetches the answers ahead wait in the socket
// buffers, so memory stays bounded by the bodies asked for ahead. The
// matching fetchRange takes a transfer over under every rule of an ordinary
// fetch (the time it waited counts for no limit). A transfer ahead that
// already failed in any way, brought a status the fetch would refuse or
// waited more than 2 s is dropped and the fetch sends its request afresh,
// so running requests at once never changes a result. Any other fetch, a
// failed fetch or the transport's end abandons the requests ahead (closing
// their connections).
//
// The messages are those of the library's own client in http_rules.h, one
// per FetchStep, whatever libcurl call failed inside the step.
#ifndef VESMARA_HOSTS_POSIX_CURL_HTTP_HOST_H_
#define VESMARA_HOSTS_POSIX_CURL_HTTP_HOST_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hosts/http_host.h"
#include "hosts/origin_policy.h"
#include "hosts/transfer_limits.h"

namespace vesmara {

struct FetchRequest;

// The size of one body read (libcurl's buffer, per handle). Larger reads
// save a few system calls per MiB (512 KiB: about 2 % on a loopback
// download) but let endless chunk trailers run on for 8 times as long
// before their framing is refused, so reads stay at 64 KiB.
inline constexpr long kHttpReadBufferSize = 65536;

struct CurlHttpOptions {
  // Resolve, connect and TLS handshake together.
  std::chrono::milliseconds connect_timeout{10000};
  // Once the connection is ready: stall, head time and size, body rate,
  // framing allowance.
  TransferLimits limits;
  // False closes the connection after every fetch and opens a fresh one for
  // the next (the behaviour of a client that keeps no connection).
  bool reuse_connections = true;
  // False ignores prefetchRange hints: every request waits for the one
  // before it to end (for measuring what pipelining gains).
  bool pipelining = true;
};

class CurlHttpHost final : public HttpHost {
 public:
  // Applies the origin policy to `origin`; `message` receives the policy's
  // message on refusal and is emptied on acceptance. No network activity.
  CurlHttpHost(std::string_view origin, std::string& message, CurlHttpOptions options = {});
  ~CurlHttpHost() override;

  void cancel() override;
  void resetCancel() override;
  bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                  HttpResponse& response, Failure& failure) override;
  bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                   Failure& failure) override;
  bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) override;
  bool isCancelled() const override;
  void prefetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound) override;

  bool originValid() const { return origin_valid_; }
  const Origin& origin() const { return origin_; }

 private:
  struct Handles;

  bool requestStep(const FetchRequest& request, HttpResponse& response, Failure& failure);
  bool exchangeStep(const FetchRequest& request, HttpResponse& response, Failure& failure);

  Origin origin_;
  bool origin_valid_ = false;
  std::atomic<bool> cancelled_{false};
  CurlHttpOptions options_;
  std::unique_ptr<Handles> handles_;  // created by the first fetch
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_POSIX_CURL_HTTP_HOST_H_
