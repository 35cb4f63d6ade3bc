#include "hosts/windows/windows_http_host.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <algorithm>
#include <array>
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

}  // namespace

WindowsHttpHost::WindowsHttpHost(std::string_view origin, std::string& message, WindowsHttpOptions options)
    : options_(std::move(options)) {
  origin_valid_ = parseOrigin(origin, origin_, message);
  if (origin_valid_) host_ = widenAscii(origin_.host);
}

WindowsHttpHost::~WindowsHttpHost() {
  if (session_ != nullptr) WinHttpCloseHandle(session_);
}

void WindowsHttpHost::cancel() {
  cancelled_.exchange(true);
  const std::lock_guard<std::mutex> lock(request_mutex_);
  if (active_request_ != nullptr) {
    WinHttpCloseHandle(active_request_);
    active_request_ = nullptr;
  }
}

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
  HINTERNET session = WinHttpOpen(agent.c_str(), access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) return false;
  // The wait for the response head gets the receive time-out too; left at
  // its default it would be 90 s, and some WinHTTP versions never end it.
  if (!WinHttpSetTimeouts(session, static_cast<int>(options_.resolveTimeoutMs),
                          static_cast<int>(options_.connectTimeoutMs), static_cast<int>(options_.sendTimeoutMs),
                          static_cast<int>(options_.receiveTimeoutMs)) ||
      !setDwordOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, options_.receiveTimeoutMs)) {
    WinHttpCloseHandle(session);
    return false;
  }
  session_ = session;
  return true;
}

bool WindowsHttpHost::registerRequest(void* request) {
  const std::lock_guard<std::mutex> lock(request_mutex_);
  if (isCancelled()) return false;
  active_request_ = request;
  return true;
}

void WindowsHttpHost::releaseRequest(void* request) {
  const std::lock_guard<std::mutex> lock(request_mutex_);
  // cancel() may have closed it already; then it is not ours to close.
  if (active_request_ == request) {
    WinHttpCloseHandle(request);
    active_request_ = nullptr;
  }
}

bool WindowsHttpHost::requestStep(const FetchRequest& request, HttpResponse& response, Failure& failure) {
  // Storage the caller hands in is reused for the body.
  std::vector<std::uint8_t> body = std::move(response.body);
  body.clear();
  response.reset();
  const auto fail = [&](std::string_view text) { return failFetch(*this, response, failure, text); };
  // A platform call of `step` failed; when cancel() closed the request
  // handle under it, that is the step's cancellation.
  const auto failStep = [&](FetchStep step) { return fail(fetchStepMessage(step, isCancelled())); };

  std::string rule;
  if (!checkRequestRules(request, origin_valid_, isCancelled(), rule)) return fail(rule);

  if (!openSession()) return fail(fetchStepMessage(FetchStep::Session));

  Handle connection;
  connection.value = WinHttpConnect(session_, host_.c_str(), origin_.port, 0);
  if (connection.value == nullptr || isCancelled()) return failStep(FetchStep::Connection);

  const std::wstring path = widenAscii(request.path);
  HINTERNET handle = WinHttpOpenRequest(connection.value, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, origin_.secure ? WINHTTP_FLAG_SECURE : 0);
  if (handle == nullptr) return fail(fetchStepMessage(FetchStep::Request));
  // From here on cancel() may close the handle; whoever closes it, it is
  // closed exactly once.
  if (!registerRequest(handle)) {
    WinHttpCloseHandle(handle);
    return fail(fetchStepMessage(FetchStep::Send, /*cancelled=*/true));
  }
  struct Release {
    WindowsHttpHost* host;
    HINTERNET handle;
    ~Release() { host->releaseRequest(handle); }
  } release{this, handle};

  const bool policy = setDwordOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, kRedirectPolicyNever) &&
                      setDwordOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, kDisableCookiesRedirectsAuthentication) &&
                      setDwordOption(handle, WINHTTP_OPTION_AUTOLOGON_POLICY, kAutoLogonPolicyHigh);
  // An option refused because cancel() closed the handle is a cancelled send.
  if (!policy) return fail(fetchStepMessage(isCancelled() ? FetchStep::Send : FetchStep::Policy));

  if (isCancelled()) return failStep(FetchStep::Send);
  const std::wstring headers = headerBlock(request);
  if (!WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0) ||
      !WinHttpReceiveResponse(handle, nullptr)) {
    return failStep(FetchStep::Send);
  }

  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                           &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
    return failStep(FetchStep::Status);
  }
  if (const std::string_view refusal = checkContentEncoding(handle); !refusal.empty()) {
    return isCancelled() ? failStep(FetchStep::ContentEncoding) : fail(refusal);
  }
  std::string content_range = keptHeader(handle, L"Content-Range");
  std::string etag = keptHeader(handle, L"ETag");
  if (isCancelled()) return failStep(FetchStep::Body);

  // The body, read straight into its vector in pieces of at most 64 KiB,
  // each asking for at most one byte more than the bound leaves room for;
  // that one byte lands in `spill`, so the vector never grows past the bound.
  const std::optional<std::uint64_t> announced = contentLength(handle);
  if (announced) body.reserve(static_cast<std::size_t>(std::min(*announced, request.bound)));
  std::vector<std::uint8_t> spill;
  while (true) {
    const std::uint64_t room = request.bound - body.size();
    const auto want = static_cast<DWORD>(std::min<std::uint64_t>(kReadBufferSize, room + 1));
    const bool past_bound = want > room;
    const std::size_t before = body.size();
    std::uint8_t* target = nullptr;
    if (past_bound) {
      spill.resize(want);
      target = spill.data();
    } else {
      reserveFor(body, want, request.bound);
      body.resize(before + want);
      target = body.data() + before;
    }
    DWORD read = 0;
    const bool ok = WinHttpReadData(handle, target, want, &read) != FALSE;
    if (!past_bound) body.resize(before + (ok ? read : 0));
    if (!ok) return failStep(FetchStep::Body);
    if (read == 0) break;
    if (read > room) {
      std::vector<std::uint8_t>().swap(body);
      return fail(kCarrierExceededBound);
    }
    if (past_bound) body.insert(body.end(), spill.begin(), spill.begin() + read);
    if (isCancelled()) return failStep(FetchStep::Body);
  }
  if (isCancelled()) return failStep(FetchStep::Body);
  // A connection that closed before the announced length arrived is a
  // failed read, not a complete body.
  if (announced && body.size() < *announced) return failStep(FetchStep::Body);

  // The status is judged only now that the body was read.
  if (const std::string_view refused = statusRefusal(request.kind, status); !refused.empty()) return fail(refused);
  response.status = status;
  response.valid = true;
  response.contentRange = std::move(content_range);
  response.etag = std::move(etag);
  response.body = std::move(body);
  failure.clear();
  return true;
}

}  // namespace vesmara
