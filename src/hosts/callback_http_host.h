// The caller transport: every fetch becomes one synchronous call of a
// callable, normally the bridge to the caller's C callback
// (vkr_preview_http_callback). What comes back passes the response rules
// every HTTP transport applies plus checks of its own, so a careless or
// hostile callback cannot hand over an oversized, encoded, redirected or
// malformed response.
#ifndef VESMARA_HOSTS_CALLBACK_HTTP_HOST_H_
#define VESMARA_HOSTS_CALLBACK_HTTP_HOST_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/http_host.h"
#include "vkr_preview.h"

namespace vesmara {

// Messages of the caller transport besides the shared ones of http_rules.h.
inline constexpr std::string_view kCallerTransportFailed = "Caller transport failed";
inline constexpr std::string_view kCallerResponseOutOfBounds = "Caller transport returned invalid response bounds";
inline constexpr std::string_view kCarrierChangedUrl = "HTTP carrier changed URL";
inline constexpr std::string_view kCarrierResponseNotValid = "HTTP carrier response was not valid for the request";
inline constexpr std::string_view kCarrierHeadersInvalid = "HTTP carrier headers are invalid";

// Limits of the C response record.
inline constexpr std::uint64_t kMaxCallerUrlLength = 4096;
inline constexpr std::uint64_t kMaxCallerHeaderLength = 255;

// What the transport hands its callable for one fetch.
struct CallbackRequest {
  FetchKind kind = FetchKind::Whole;
  std::string_view path;
  std::uint64_t first = 0;  // range: first offset; suffix: the length; whole: 0
  std::uint64_t last = 0;   // range: last offset (inclusive); otherwise 0
  std::uint64_t bound = 0;
};

// What the callable reports back.
struct CallbackResponse {
  std::uint32_t status = 0;
  std::string url;
  std::string content_range;
  std::string etag;
  std::string content_encoding;
  std::vector<std::uint8_t> body;
};

// Performs one request. Returns false with a message (or an empty message,
// which becomes "Caller transport failed") when the request failed.
using CallbackCallable = std::function<bool(const CallbackRequest&, CallbackResponse&, std::string&)>;

class CallbackHttpHost;

// Names the transport a bridge belongs to, so that a callback's
// "cancelled" result can set that transport's flag. Created empty before
// the transport and set once the transport exists; lives as long as its
// last holder.
struct CallbackHostCell {
  CallbackHttpHost* host = nullptr;
};

class CallbackHttpHost final : public HttpHost {
 public:
  // `origin_text` is the accepted origin without one trailing "/"; the
  // expected final URL of a fetch is `origin_text` followed by the path.
  CallbackHttpHost(std::string origin_text, CallbackCallable callable);
  ~CallbackHttpHost() override;

  void cancel() override;
  void resetCancel() override;
  bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                  HttpResponse& response, Failure& failure) override;
  bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                   Failure& failure) override;
  bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) override;
  bool isCancelled() const override;

  const std::string& originText() const { return origin_text_; }

 private:
  bool exchange(const CallbackRequest& request, HttpResponse& response, Failure& failure);

  // Destroyed in reverse order: the callable, then the origin text.
  std::string origin_text_;
  CallbackCallable callable_;
  std::atomic<bool> cancelled_{false};
};

// The bridge to the C callback: zeroes a response record, calls the
// callback with the kind plus one, checks the record's limits and copies
// it. A result of 7 sets the owning transport's cancellation flag through
// `cell`.
CallbackCallable makeCallbackBridge(vkr_preview_http_callback callback, void* user_data,
                                    std::shared_ptr<CallbackHostCell> cell);

// Builds the caller transport for `origin`: applies the origin policy
// (returning null with the policy's message on refusal), drops one trailing
// "/" from the origin, and wires the bridge to the new transport.
// `callback` must not be null. Throws only std::bad_alloc.
std::unique_ptr<CallbackHttpHost> makeCallbackHttpHost(std::string_view origin, vkr_preview_http_callback callback,
                                                       void* user_data, std::string& message);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_CALLBACK_HTTP_HOST_H_
