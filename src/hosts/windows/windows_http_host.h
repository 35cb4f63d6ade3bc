// The library's own HTTP client on Windows, built on WinHTTP.
//
// Construction applies the origin policy and makes no network activity; a
// refused origin leaves an object whose every fetch fails with "HTTP origin
// is invalid". A fetch is one GET with the fixed header block
//
//   Range: bytes=...          (range and suffix fetches only)
//   Cache-Control: no-store
//   Pragma: no-cache
//   Accept-Encoding: identity
//
// and the User-Agent "VesmaraWeb-Pavane/0.28". Redirects, cookies and
// authentication are disabled on every request and default credentials are
// never sent; the body is never decoded. A secure origin uses the system's
// automatic proxy settings, a loopback origin no proxy at all.
//
// Time limits: resolving, connecting, the TLS handshake and sending the
// request together within the connect time-out (10 s); then the limits of
// transfer_limits.h that WinHTTP lets a client see: the response head within
// 30 s of the request (interim 1xx heads do not count as an answer), the body
// at 2 KiB/s or more over each 30 s, and 10 s without receiving anything
// (WinHTTP's own receive time-outs, which alone see the bytes of a head as
// they arrive). A body the head announces longer than the fetch's bound is
// refused before any of it is read. WinHTTP takes heads and chunked bodies
// apart itself and shows neither the head's size nor chunk extensions and
// trailers: its own limit on the head (64 KiB by default) applies, and a body
// that brings framing instead of data meets the rate floor.
//
// WinHTTP runs the request asynchronously on its own threads; the fetching
// thread waits for each step in turns of at most 25 ms, so a cancellation or
// a broken limit is seen within one turn, and then closes the request. A
// step WinHTTP has not finished by then completes later on WinHTTP's side,
// into memory that lives until WinHTTP lets go of the request.
//
// One WinHTTP session lives as long as the transport, so its connections
// are reused between fetches; nothing else survives a fetch (no cookie,
// redirect or credential: all three are disabled). The session is created
// by the first fetch.
#ifndef VESMARA_HOSTS_WINDOWS_WINDOWS_HTTP_HOST_H_
#define VESMARA_HOSTS_WINDOWS_WINDOWS_HTTP_HOST_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "hosts/http_host.h"
#include "hosts/origin_policy.h"
#include "hosts/transfer_limits.h"

namespace vesmara {

struct FetchRequest;

// The one message of this transport besides those of http_rules.h: a
// Content-Encoding value WinHTTP returns with an odd number of bytes.
inline constexpr std::string_view kHttpContentEncodingInvalid = "HTTP content encoding is invalid";

struct WindowsHttpOptions {
  // Resolve, connect, TLS handshake and sending the request together.
  std::chrono::milliseconds connect_timeout{10000};
  // Once the request is sent: stall, head time, body rate (see above for
  // what WinHTTP applies itself).
  TransferLimits limits;
};

class WindowsHttpHost final : public HttpHost {
 public:
  // Applies the origin policy to `origin`; `message` receives the policy's
  // message on refusal and is emptied on acceptance. No network activity.
  WindowsHttpHost(std::string_view origin, std::string& message, WindowsHttpOptions options = {});
  ~WindowsHttpHost() override;

  void cancel() override;
  void resetCancel() override;
  bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                  HttpResponse& response, Failure& failure) override;
  bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                   Failure& failure) override;
  bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) override;
  bool isCancelled() const override;

  bool originValid() const { return origin_valid_; }
  const Origin& origin() const { return origin_; }

 private:
  bool requestStep(const FetchRequest& request, HttpResponse& response, Failure& failure);
  bool openSession();

  Origin origin_;
  std::wstring host_;
  bool origin_valid_ = false;
  std::atomic<bool> cancelled_{false};
  WindowsHttpOptions options_;
  void* session_ = nullptr;  // HINTERNET, created by the first fetch
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_WINDOWS_WINDOWS_HTTP_HOST_H_
