#include "hosts/windows/windows_http_host.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "base/decimal.h"
#include "hosts/http_rules.h"

namespace vesmara {
namespace {

constexpr DWORD kReadBufferSize = 65536;
constexpr std::size_t kContentEncodingBufferBytes = 512;
constexpr std::size_t kKeptHeaderBufferBytes = 8192;

// The three request policies, each a 4-byte option value.
constexpr DWORD kRedirectPolicyNever = 0;                    // option 88
constexpr DWORD kDisableCookiesRedirectsAuthentication = 7;  // option 63
constexpr DWORD kAutoLogonPolicyHigh = 2;                    // option 77

// The origin policy admits ASCII only, so widening byte by byte is exact.
std::wstring widenAscii(std::string_view text) { return std::wstring(text.begin(), text.end()); }

// The header block, each line ended by CR LF.
std::wstring headerBlock(const FetchRequest& request) {
  std::wstring block;
  for (const std::string& line : requestHeaderLines(request)) block += widenAscii(line) + L"\r\n";
  return block;
}

bool setDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttpSetOption(handle, option, &value, sizeof(value)) != FALSE;
}

// A header value WinHTTP returned into `buffer`: `bytes` long in bytes,
// without its terminating null. Units outside ASCII become 0x7F, which no
// rule accepts.
std::string narrowHeaderValue(const wchar_t* buffer, DWORD bytes) {
  std::string value;
  const std::size_t units = bytes / sizeof(wchar_t);
  value.reserve(units);
  for (std::size_t i = 0; i < units && buffer[i] != L'\0'; ++i) {
    value.push_back(buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '\x7f');
  }
  return value;
}

enum class HeaderRead { Found, Absent, Failed, OddLength };

// The `index`-th occurrence of header `name` into a zeroed buffer of
// `buffer_bytes` bytes; `index` then names the next occurrence.
HeaderRead readHeader(HINTERNET request, const wchar_t* name, std::size_t buffer_bytes, DWORD& index,
                      std::string& value) {
  std::vector<wchar_t> buffer(buffer_bytes / sizeof(wchar_t), L'\0');
  DWORD length = static_cast<DWORD>(buffer_bytes);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name, buffer.data(), &length, &index)) {
    return GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND ? HeaderRead::Absent : HeaderRead::Failed;
  }
  if (length % 2 != 0) return HeaderRead::OddLength;
  value = narrowHeaderValue(buffer.data(), length);
  return HeaderRead::Found;
}

// Content-Range or ETag: the first field, cut at the first character
// outside printable ASCII; absent, too long for the buffer or malformed
// leaves it empty.
std::string keptHeader(HINTERNET request, const wchar_t* name) {
  DWORD index = 0;
  std::string value;
  if (readHeader(request, name, kKeptHeaderBufferBytes, index, value) != HeaderRead::Found) return {};
  return keptHeaderValue(value);
}

// Every Content-Encoding field must be "identity": several fields combine
// into one list, which is "identity" only when each of them is. Empty when
// the encoding is acceptable, else the rule's message.
std::string_view checkContentEncoding(HINTERNET request) {
  DWORD index = 0;
  while (true) {
    std::string value;
    switch (readHeader(request, L"Content-Encoding", kContentEncodingBufferBytes, index, value)) {
      case HeaderRead::Absent:
        return {};
      case HeaderRead::Failed:
        return kHttpContentEncodingUnavailable;
      case HeaderRead::OddLength:
        return kHttpContentEncodingInvalid;
      case HeaderRead::Found:
        if (const std::string_view refusal = contentEncodingRefusal(value); !refusal.empty()) return refusal;
        break;
    }
  }
}

// The announced Content-Length, if the response has a valid one.
std::optional<std::uint64_t> contentLength(HINTERNET request) {
  DWORD index = 0;
  std::string value;
  if (readHeader(request, L"Content-Length", kKeptHeaderBufferBytes, index, value) != HeaderRead::Found) {
    return std::nullopt;
  }
  return parseUnsignedDecimal(trimBlanks(value));
}

// Room for `more` bytes without the capacity ever passing `bound`: doubling
// as a vector would, capped.
void reserveFor(std::vector<std::uint8_t>& body, std::size_t more, std::uint64_t bound) {
  const std::uint64_t needed = body.size() + more;
  if (needed <= body.capacity()) return;
  const std::uint64_t target = std::max<std::uint64_t>(needed, 2 * static_cast<std::uint64_t>(body.capacity()));
  body.reserve(static_cast<std::size_t>(std::min(target, bound)));
}

// A WinHTTP handle closed when the fetch ends, on every path.
struct Handle {
  HINTERNET value = nullptr;
  ~Handle() {
    if (value != nullptr) WinHttpCloseHandle(value);
  }
};

using Clock = std::chrono::steady_clock;

// How long the fetching thread waits for WinHTTP at a time: the delay with
// which a cancellation or a broken limit is noticed.
constexpr auto kWaitTurn = std::chrono::milliseconds(25);

// What one request shares with WinHTTP's callbacks: the outcome of the step
// under way and the buffer WinHTTP reads the body into. The callbacks run on
// WinHTTP's threads (or inside a WinHTTP call of the fetching thread) until
// the request handle's closing notification, possibly after the fetch gave
// up on the request and returned; so the fetch and WinHTTP each own it, and
// whichever lets go last frees it.
class PendingRequest {
 public:
  enum class Outcome { Waiting, Done, Failed };

  static PendingRequest* create() { return new PendingRequest; }

  // WinHTTP owns it too from now on, until the closing notification.
  void shareWithWinHttp() { owners_.fetch_add(1); }
  void release() {
    if (owners_.fetch_sub(1) == 1) delete this;
  }

  std::uint8_t* buffer() { return buffer_.data(); }

  // Before a step starts: its outcome is unknown.
  void arm() {
    const std::lock_guard<std::mutex> lock(mutex_);
    outcome_ = Outcome::Waiting;
    count_ = 0;
  }
  // The step ended, with a byte count where it has one.
  void finish(Outcome outcome, DWORD count) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      outcome_ = outcome;
      count_ = count;
    }
    ended_.notify_one();
  }
  // Waits at most one turn for the step to end.
  Outcome wait(DWORD& count) {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait_for(lock, kWaitTurn, [this] { return outcome_ != Outcome::Waiting; });
    count = count_;
    return outcome_;
  }

 private:
  PendingRequest() : buffer_(kReadBufferSize) {}

  std::atomic<int> owners_{1};
  std::vector<std::uint8_t> buffer_;
  std::mutex mutex_;
  std::condition_variable ended_;
  Outcome outcome_ = Outcome::Waiting;
  DWORD count_ = 0;
};

void CALLBACK onRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
  auto* pending = reinterpret_cast<PendingRequest*>(context);
  if (pending == nullptr) return;  // the session's and connections' own notifications
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      pending->finish(PendingRequest::Outcome::Done, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      pending->finish(PendingRequest::Outcome::Done, *static_cast<DWORD*>(information));
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      pending->finish(PendingRequest::Outcome::Done, length);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      pending->finish(PendingRequest::Outcome::Failed, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      pending->release();
      break;
    default:
      break;
  }
}

// How the wait for a step ended.
enum class StepEnd { Done, Failed, Cancelled, LimitBroken, TimedOut };

// Waits for the step WinHTTP runs for `pending`, judging the cancellation
// flag, the transfer limits and `deadline` (if any) between turns.
StepEnd awaitStep(PendingRequest& pending, const std::atomic<bool>& cancelled, TransferWatch& watch,
                  std::optional<Clock::time_point> deadline, DWORD& count) {
  while (true) {
    switch (pending.wait(count)) {
      case PendingRequest::Outcome::Done:
        return StepEnd::Done;
      case PendingRequest::Outcome::Failed:
        return StepEnd::Failed;
      case PendingRequest::Outcome::Waiting:
        break;
    }
    const Clock::time_point now = Clock::now();
    if (cancelled.load()) return StepEnd::Cancelled;
    if (!watch.withinLimits(now)) return StepEnd::LimitBroken;
    if (deadline && now >= *deadline) return StepEnd::TimedOut;
  }
}

// The body length the head announces, as ResponseHead::declaredBodyLength
// reads it: not for a chunked body or a status without a body.
std::optional<std::uint64_t> declaredBodyLength(HINTERNET request, DWORD status) {
  DWORD index = 0;
  std::string ignored;
  if (status == 204 || status == 304) return std::nullopt;
  if (readHeader(request, L"Transfer-Encoding", kKeptHeaderBufferBytes, index, ignored) == HeaderRead::Found) {
    return std::nullopt;
  }
  return contentLength(request);
}

}  // namespace

WindowsHttpHost::WindowsHttpHost(std::string_view origin, std::string& message, WindowsHttpOptions options)
    : options_(std::move(options)) {
  origin_valid_ = parseOrigin(origin, origin_, message);
  if (origin_valid_) host_ = widenAscii(origin_.host);
}

WindowsHttpHost::~WindowsHttpHost() {
  if (session_ != nullptr) WinHttpCloseHandle(session_);
}

void WindowsHttpHost::cancel() { cancelled_.exchange(true); }

void WindowsHttpHost::resetCancel() { cancelled_.exchange(false); }

bool WindowsHttpHost::isCancelled() const { return cancelled_.load(); }

bool WindowsHttpHost::fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                                 HttpResponse& response, Failure& failure) {
  return requestStep(FetchRequest{FetchKind::Range, path, first, last, bound}, response, failure);
}

bool WindowsHttpHost::fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound,
                                  HttpResponse& response, Failure& failure) {
  return requestStep(FetchRequest{FetchKind::Suffix, path, length, 0, bound}, response, failure);
}

bool WindowsHttpHost::fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) {
  return requestStep(FetchRequest{FetchKind::Whole, path, 0, 0, bound}, response, failure);
}

bool WindowsHttpHost::openSession() {
  if (session_ != nullptr) return true;
  const DWORD access = origin_.secure ? WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY;
  const std::wstring agent = widenAscii(kHttpUserAgent);
  HINTERNET session =
      WinHttpOpen(agent.c_str(), access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (session == nullptr) return false;
  // Each wait for received bytes ends after the stall limit; the wait for
  // the response head gets it too: left at its default it would be 90 s,
  // and some WinHTTP versions never end it.
  const int connect = static_cast<int>(options_.connect_timeout.count());
  const int stall = static_cast<int>(options_.limits.stall_timeout.count());
  if (!WinHttpSetTimeouts(session, connect, connect, connect, stall) ||
      !setDwordOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(stall)) ||
      WinHttpSetStatusCallback(session, onRequestStatus,
                               WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                               0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    WinHttpCloseHandle(session);
    return false;
  }
  session_ = session;
  return true;
}

bool WindowsHttpHost::requestStep(const FetchRequest& request, HttpResponse& response, Failure& failure) {
  // Storage the caller hands in is reused for the body.
  std::vector<std::uint8_t> body = std::move(response.body);
  body.clear();
  response.reset();
  const auto fail = [&](std::string_view text) { return failFetch(*this, response, failure, text); };
  // A platform call of `step` failed; when the flag is set by now, that is
  // the step's cancellation.
  const auto fail_step = [&](FetchStep step) { return fail(fetchStepMessage(step, isCancelled())); };

  std::string rule;
  if (!checkRequestRules(request, origin_valid_, isCancelled(), rule)) return fail(rule);

  if (!openSession()) return fail(fetchStepMessage(FetchStep::Session));

  Handle connection;
  connection.value = WinHttpConnect(session_, host_.c_str(), origin_.port, 0);
  if (connection.value == nullptr || isCancelled()) return fail_step(FetchStep::Connection);

  // The fetch's share of what the request shares with WinHTTP; WinHTTP takes
  // its own share once the request carries it as its context.
  struct Owner {
    PendingRequest* pending = PendingRequest::create();
    ~Owner() { pending->release(); }
  } owner;
  PendingRequest& pending = *owner.pending;
  const std::wstring path = widenAscii(request.path);
  Handle request_handle;
  request_handle.value = WinHttpOpenRequest(connection.value, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, origin_.secure ? WINHTTP_FLAG_SECURE : 0);
  if (request_handle.value == nullptr) return fail(fetchStepMessage(FetchStep::Request));
  void* context = &pending;
  if (!WinHttpSetOption(request_handle.value, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
    return fail(fetchStepMessage(FetchStep::Request));
  }
  pending.shareWithWinHttp();
  HINTERNET const handle = request_handle.value;

  const bool policy = setDwordOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, kRedirectPolicyNever) &&
                      setDwordOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, kDisableCookiesRedirectsAuthentication) &&
                      setDwordOption(handle, WINHTTP_OPTION_AUTOLOGON_POLICY, kAutoLogonPolicyHigh);
  if (!policy) return fail(fetchStepMessage(FetchStep::Policy));

  // Send: the request goes out and the head comes back, each step waited
  // for in turns.
  TransferLimits watched = options_.limits;
  // WinHTTP's receive time-outs end a stall (see the header); the watch
  // must not take a head that arrives bit by bit for one.
  watched.stall_timeout = std::max(watched.stall_timeout, watched.head_timeout);
  TransferWatch watch(watched);
  const auto stopped = [&](FetchStep step, StepEnd end) {
    if (end == StepEnd::LimitBroken) return fail(fetchStepMessage(watch.failedStep()));
    return fail(fetchStepMessage(step, end == StepEnd::Cancelled || isCancelled()));
  };
  if (isCancelled()) return fail_step(FetchStep::Send);
  const std::wstring headers = headerBlock(request);
  DWORD count = 0;
  pending.arm();
  if (!WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                          reinterpret_cast<DWORD_PTR>(&pending))) {
    return fail_step(FetchStep::Send);
  }
  StepEnd end = awaitStep(pending, cancelled_, watch, Clock::now() + options_.connect_timeout, count);
  if (end != StepEnd::Done) return stopped(FetchStep::Send, end);
  watch.requestSent(Clock::now());
  pending.arm();
  if (!WinHttpReceiveResponse(handle, nullptr)) return fail_step(FetchStep::Send);
  end = awaitStep(pending, cancelled_, watch, std::nullopt, count);
  if (end != StepEnd::Done) return stopped(FetchStep::Send, end);
  watch.headComplete(Clock::now());

  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                           &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
    return fail_step(FetchStep::Status);
  }
  // An interim (1xx) head is never the answer; a WinHTTP that hands one over
  // as final (Wine does) has not seen the final head complete.
  if (status < 200) return fail(fetchStepMessage(FetchStep::Send));
  if (const std::string_view refusal = checkContentEncoding(handle); !refusal.empty()) {
    return isCancelled() ? fail_step(FetchStep::ContentEncoding) : fail(refusal);
  }
  if (const std::string_view refusal = declaredLengthRefusal(declaredBodyLength(handle, status), request.bound);
      !refusal.empty()) {
    return fail(refusal);
  }
  std::string content_range = keptHeader(handle, L"Content-Range");
  std::string etag = keptHeader(handle, L"ETag");
  if (isCancelled()) return fail_step(FetchStep::Body);

  // The body, in pieces as they arrive: what is available, then a read of
  // it into the shared buffer, whose bytes are kept only while the bound
  // leaves room for them.
  const std::optional<std::uint64_t> announced = contentLength(handle);
  if (announced) body.reserve(static_cast<std::size_t>(std::min(*announced, request.bound)));
  while (true) {
    pending.arm();
    if (!WinHttpQueryDataAvailable(handle, nullptr)) return fail_step(FetchStep::Body);
    end = awaitStep(pending, cancelled_, watch, std::nullopt, count);
    if (end != StepEnd::Done) return stopped(FetchStep::Body, end);
    if (count == 0) break;
    pending.arm();
    if (!WinHttpReadData(handle, pending.buffer(), std::min(count, kReadBufferSize), nullptr)) {
      return fail_step(FetchStep::Body);
    }
    end = awaitStep(pending, cancelled_, watch, std::nullopt, count);
    if (end != StepEnd::Done) return stopped(FetchStep::Body, end);
    if (count == 0) break;
    const Clock::time_point now = Clock::now();
    watch.bodyBytes(count, now);
    if (count > request.bound - body.size()) {
      std::vector<std::uint8_t>().swap(body);
      return fail(kCarrierExceededBound);
    }
    reserveFor(body, count, request.bound);
    body.insert(body.end(), pending.buffer(), pending.buffer() + count);
    if (isCancelled()) return fail_step(FetchStep::Body);
    if (!watch.withinLimits(now)) return fail(fetchStepMessage(watch.failedStep()));
  }
  if (isCancelled()) return fail_step(FetchStep::Body);
  // A connection that closed before the announced length arrived is a
  // failed read, not a complete body.
  if (announced && body.size() < *announced) return fail_step(FetchStep::Body);

  // The status is judged only now that the body was read.
  if (const std::string_view refused = statusRefusal(request.kind, status); !refused.empty()) return fail(refused);
  response.status = status;
  response.valid = true;
  response.content_range = std::move(content_range);
  response.etag = std::move(etag);
  response.body = std::move(body);
  failure.clear();
  return true;
}

}  // namespace vesmara
