#include "hosts/callback_http_host.h"

#include <utility>

#include "hosts/http_rules.h"
#include "hosts/origin_policy.h"

namespace vesmara {
namespace {

// A (pointer, length) pair of the response record is usable when the
// pointer is non-null or the length is 0.
bool isPresentOrEmpty(const std::uint8_t* data, std::uint64_t length) { return data != nullptr || length == 0; }

void copyText(const std::uint8_t* data, std::uint64_t length, std::string& out) {
  if (length == 0) {
    out.clear();
    return;
  }
  out.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
}

// The bridge's state: the C callback, its user data and the cell naming the
// transport the bridge was moved into.
class CallbackBridge {
 public:
  CallbackBridge(vkr_preview_http_callback callback, void* user_data, std::shared_ptr<CallbackHostCell> cell)
      : callback_(callback), user_data_(user_data), cell_(std::move(cell)) {}

  bool operator()(const CallbackRequest& request, CallbackResponse& out, std::string& message) const {
    vkr_preview_http_response record{};
    const std::uint32_t kind = static_cast<std::uint32_t>(request.kind) + 1;
    const std::uint32_t result = callback_(user_data_, kind, reinterpret_cast<const std::uint8_t*>(request.path.data()),
                                           request.path.size(), request.first, request.last, request.bound, &record);

    if (result == VKR_PREVIEW_CALLBACK_CANCELLED) {
      if (cell_ != nullptr && cell_->host != nullptr) cell_->host->cancel();
      message.assign(kHttpReadCancelled);
      return false;
    }
    if (result != VKR_PREVIEW_CALLBACK_OK) {
      message.assign(kCallerTransportFailed);
      return false;
    }

    const bool within_bounds =
        (record.status == 200 || record.status == 206) && record.body_length <= request.bound &&
        record.final_url_length <= kMaxCallerUrlLength && record.content_range_length <= kMaxCallerHeaderLength &&
        record.etag_length <= kMaxCallerHeaderLength && record.content_encoding_length <= kMaxCallerHeaderLength &&
        isPresentOrEmpty(record.final_url, record.final_url_length) &&
        isPresentOrEmpty(record.content_range, record.content_range_length) &&
        isPresentOrEmpty(record.etag, record.etag_length) &&
        isPresentOrEmpty(record.content_encoding, record.content_encoding_length) &&
        isPresentOrEmpty(record.body, record.body_length);
    if (!within_bounds) {
      message.assign(kCallerResponseOutOfBounds);
      return false;
    }

    out.status = record.status;
    copyText(record.final_url, record.final_url_length, out.url);
    copyText(record.content_range, record.content_range_length, out.content_range);
    copyText(record.etag, record.etag_length, out.etag);
    copyText(record.content_encoding, record.content_encoding_length, out.content_encoding);
    if (record.body_length == 0) {
      out.body.clear();
    } else {
      out.body.assign(record.body, record.body + record.body_length);
    }
    return true;
  }

 private:
  vkr_preview_http_callback callback_;
  void* user_data_;
  std::shared_ptr<CallbackHostCell> cell_;
};

}  // namespace

CallbackHttpHost::CallbackHttpHost(std::string origin_text, CallbackCallable callable)
    : origin_text_(std::move(origin_text)), callable_(std::move(callable)) {}

CallbackHttpHost::~CallbackHttpHost() = default;

void CallbackHttpHost::cancel() { cancelled_.exchange(true); }

void CallbackHttpHost::resetCancel() { cancelled_.exchange(false); }

bool CallbackHttpHost::isCancelled() const { return cancelled_.load(); }

bool CallbackHttpHost::fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                                  HttpResponse& response, Failure& failure) {
  return exchange(CallbackRequest{FetchKind::Range, path, first, last, bound}, response, failure);
}

bool CallbackHttpHost::fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound,
                                   HttpResponse& response, Failure& failure) {
  return exchange(CallbackRequest{FetchKind::Suffix, path, length, 0, bound}, response, failure);
}

bool CallbackHttpHost::fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response,
                                  Failure& failure) {
  return exchange(CallbackRequest{FetchKind::Whole, path, 0, 0, bound}, response, failure);
}

bool CallbackHttpHost::exchange(const CallbackRequest& request, HttpResponse& response, Failure& failure) {
  const auto fail = [&](std::string_view text) { return failFetch(*this, response, failure, text); };
  response.reset();
  // The range and suffix argument checks, the cancellation flag, then the
  // path and bound. A caller transport always holds an accepted origin.
  const FetchRequest rules{request.kind, request.path, request.first, request.last, request.bound};
  std::string message;
  if (!checkRequestRules(rules, /*origin_valid=*/true, isCancelled(), message)) {
    return fail(message);
  }

  CallbackResponse answer;
  if (!callable_(request, answer, message)) {
    if (isCancelled()) return fail(kHttpReadCancelled);
    if (message.empty()) return fail(kCallerTransportFailed);
    return fail(message);
  }
  if (isCancelled()) return fail(kHttpReadCancelled);

  const bool same_url = answer.url.size() == origin_text_.size() + request.path.size() &&
                        std::string_view(answer.url).starts_with(origin_text_) &&
                        std::string_view(answer.url).ends_with(request.path);
  if (!same_url) return fail(kCarrierChangedUrl);

  if (!isAcceptedStatus(request.kind, answer.status)) return fail(kCarrierResponseNotValid);

  if (!isCallerHeaderValue(answer.content_range) || !isCallerHeaderValue(answer.etag) ||
      !isCallerHeaderValue(answer.content_encoding)) {
    return fail(kCarrierHeadersInvalid);
  }
  if (!answer.content_encoding.empty() && !isIdentityEncoding(answer.content_encoding)) {
    return fail(kCarrierUsedContentEncoding);
  }
  if (answer.body.size() > request.bound) return fail(kCarrierExceededBound);

  response.status = answer.status;
  response.valid = true;
  response.content_range = std::move(answer.content_range);
  response.etag = std::move(answer.etag);
  response.body = std::move(answer.body);
  failure.clear();
  return true;
}

CallbackCallable makeCallbackBridge(vkr_preview_http_callback callback, void* user_data,
                                    std::shared_ptr<CallbackHostCell> cell) {
  return CallbackBridge(callback, user_data, std::move(cell));
}

std::unique_ptr<CallbackHttpHost> makeCallbackHttpHost(std::string_view origin, vkr_preview_http_callback callback,
                                                       void* user_data, std::string& message) {
  Origin parsed;
  if (!parseOrigin(origin, parsed, message)) return nullptr;
  auto cell = std::make_shared<CallbackHostCell>();
  auto host = std::make_unique<CallbackHttpHost>(std::string(originWithoutTrailingSlash(origin)),
                                                 makeCallbackBridge(callback, user_data, cell));
  cell->host = host.get();
  return host;
}

}  // namespace vesmara
