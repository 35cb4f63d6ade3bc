#include "hosts/checked_fetch.h"

#include "hosts/http_rules.h"

namespace vesmara {
namespace {

class CheckedFetch {
 public:
  CheckedFetch(const CheckedRequest& request, const CheckedFetchMessages& messages, const HttpResponse& response,
               Failure& failure)
      : request_(request), messages_(messages), response_(response), failure_(failure) {}

  bool isSafe() const {
    const std::uint64_t size = response_.body.size();
    const std::uint64_t limit =
        response_.status == 200 && request_.whole_body_limit != 0 ? request_.whole_body_limit : request_.bound;
    if (!response_.valid || !isAcceptedStatus(request_.kind, response_.status) || size > limit ||
        size < request_.min_body) {
      return fail(messages_.unsafe);
    }
    return true;
  }

  bool passesEtagPin() const {
    if (request_.etag_pin == nullptr || response_.etag.empty()) return true;
    std::string& pin = *request_.etag_pin;
    if (!pin.empty() && response_.etag != pin) return fail(messages_.etag_changed);
    if (pin.empty() && !response_.etag.starts_with("W/")) pin = response_.etag;
    return true;
  }

  // A 206 answer: exactly the requested bytes, as its Content-Range says.
  bool readPartial(CheckedBytes& bytes) const {
    const std::optional<ContentRange> range = parseContentRange(response_.content_range);
    const std::uint64_t size = response_.body.size();
    bool exact = range.has_value() && (!request_.object_length || range->total == *request_.object_length);
    if (exact && request_.kind == FetchKind::Suffix) {
      exact =
          range->last == range->total - 1 && range->last - range->first == request_.first - 1 && size == request_.first;
    } else if (exact) {
      exact =
          range->first == request_.first && range->last == request_.last && size == request_.last - request_.first + 1;
    }
    if (!exact) return fail(messages_.bad_range);
    bytes.requested = response_.body;
    bytes.body_first = range->first;
    bytes.object_length = range->total;
    return true;
  }

  // A 200 answer: the whole object, which must hold the requested bytes.
  bool readWhole(CheckedBytes& bytes) const {
    const std::span<const std::uint8_t> body = response_.body;
    bool holds = !request_.object_length || body.size() == *request_.object_length;
    if (request_.kind == FetchKind::Range) {
      holds = holds && body.size() > request_.last;
      if (holds) bytes.requested = body.subspan(request_.first, request_.last - request_.first + 1);
    } else if (request_.kind == FetchKind::Suffix) {
      holds = holds && body.size() >= request_.first;
      if (holds) bytes.requested = body.last(request_.first);
    } else {
      bytes.requested = body;
    }
    if (!holds) return fail(messages_.short_whole);
    bytes.body_first = 0;
    bytes.object_length = body.size();
    return true;
  }

 private:
  bool fail(std::string_view text) const {
    std::string message(messages_.subject);
    message += text;
    return failure_.fail(FailureKind::Integrity, message);
  }

  const CheckedRequest& request_;
  const CheckedFetchMessages& messages_;
  const HttpResponse& response_;
  Failure& failure_;
};

bool fetch(HttpHost& transport, const CheckedRequest& request, HttpResponse& response, Failure& failure) {
  switch (request.kind) {
    case FetchKind::Range:
      return transport.fetchRange(request.path, request.first, request.last, request.bound, response, failure);
    case FetchKind::Suffix:
      return transport.fetchSuffix(request.path, request.first, request.bound, response, failure);
    case FetchKind::Whole:
      break;
  }
  return transport.fetchWhole(request.path, request.bound, response, failure);
}

}  // namespace

bool fetchChecked(HttpHost& transport, const CheckedRequest& request, const CheckedFetchMessages& messages,
                  HttpResponse& response, CheckedBytes& bytes, Failure& failure) {
  if (!request.cancelled_before.empty() && transport.isCancelled()) {
    return failure.fail(FailureKind::Cancelled, request.cancelled_before);
  }
  if (!fetch(transport, request, response, failure)) return false;
  const CheckedFetch checks(request, messages, response, failure);
  if (!checks.isSafe() || !checks.passesEtagPin()) return false;
  return response.status == 206 ? checks.readPartial(bytes) : checks.readWhole(bytes);
}

}  // namespace vesmara
