// The library's own HTTP client on Windows, built on WinHTTP.
//
// Construction applies the origin policy and makes no network activity; a
// refused origin leaves an object whose every fetch fails with "HTTP origin
// is invalid". A fetch is one synchronous GET with the fixed header block
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
// One WinHTTP session lives as long as the transport, so its connections
// are reused between fetches; nothing else survives a fetch (no cookie,
// redirect or credential: all three are disabled). The session is created
// by the first fetch. Cancellation closes the request handle of a running
// fetch from the cancelling thread, which ends a blocked WinHTTP call at
// once instead of at its time-out.
#ifndef VESMARA_HOSTS_WINDOWS_WINDOWS_HTTP_HOST_H_
#define VESMARA_HOSTS_WINDOWS_WINDOWS_HTTP_HOST_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "hosts/http_host.h"
#include "hosts/origin_policy.h"

namespace vesmara {

struct FetchRequest;

// The one message of this transport besides those of http_rules.h: a
// Content-Encoding value WinHTTP returns with an odd number of bytes.
inline constexpr std::string_view kHttpContentEncodingInvalid = "HTTP content encoding is invalid";

struct WindowsHttpOptions {
  // Name resolution, connection, sending, and each wait for received data
  // (the response head included).
  std::uint32_t resolveTimeoutMs = 5000;
  std::uint32_t connectTimeoutMs = 5000;
  std::uint32_t sendTimeoutMs = 10000;
  std::uint32_t receiveTimeoutMs = 10000;
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

 private:
  bool requestStep(const FetchRequest& request, HttpResponse& response, Failure& failure);
  bool openSession();
  // The running fetch's request handle, which cancel() may close. Both
  // return false when cancel() came first (and, for release, closed it).
  bool registerRequest(void* request);
  void releaseRequest(void* request);

  Origin origin_;
  std::wstring host_;
  bool origin_valid_ = false;
  std::atomic<bool> cancelled_{false};
  WindowsHttpOptions options_;
  void* session_ = nullptr;  // HINTERNET, created by the first fetch

  std::mutex request_mutex_;
  void* active_request_ = nullptr;  // guarded by request_mutex_
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_WINDOWS_WINDOWS_HTTP_HOST_H_
