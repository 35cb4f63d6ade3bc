#include "hosts/posix/curl_http_host.h"

#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "hosts/http_rules.h"

namespace vesmara {
namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for socket activity may last: the delay with which a
// cancellation or a broken limit is noticed while the peer is silent.
constexpr int kPollIntervalMs = 25;

// How long a request sent ahead may wait for its fetch. A caller normally
// comes back within milliseconds; after a longer pause the server may have
// given up on the half-sent answer, so the fetch sends its own request.
constexpr auto kMaxAheadIdle = std::chrono::seconds(2);

// Requests sent ahead: several keep a link busy whose round trip lasts
// longer than one part takes to arrive (a 1 MiB part at 1 Gbit/s arrives in
// 8 ms, a 4 MiB one in 34 ms; a 40 ms round trip would leave the link idle
// between parts), or when the origin answers a later request before an
// earlier one. Beyond the first, a request goes ahead only while what is
// asked for ahead stays within kMaxBytesAhead, which bounds the memory of
// bodies that arrive before they are wanted.
constexpr std::size_t kMaxRequestsAhead = 4;
constexpr std::uint64_t kMaxBytesAhead = 8 << 20;

// How a failed transfer is reported. The message depends on libcurl's
// result and on whether the response head (status line and fields up to the
// blank line) was complete when the transfer ended. The connection is made
// inside the send step, so a failure before a complete head is a send
// failure and a failure after it is a body read failure:
//
//   libcurl result                         head incomplete                 head complete
//   -------------------------------------  ------------------------------  -------------------------
//   CURLE_ABORTED_BY_CALLBACK (cancelled)  HTTP send failed or cancelled   HTTP read cancelled
//   CURLE_COULDNT_RESOLVE_HOST / _PROXY    HTTP send failed or cancelled   -
//   CURLE_COULDNT_CONNECT                  HTTP send failed or cancelled   -
//   CURLE_SSL_CONNECT_ERROR,               HTTP send failed or cancelled   -
//     CURLE_PEER_FAILED_VERIFICATION (TLS handshake, certificate, host name)
//   CURLE_SEND_ERROR                       HTTP send failed or cancelled   -
//   CURLE_GOT_NOTHING (closed, no answer)  HTTP send failed or cancelled   -
//   CURLE_WEIRD_SERVER_REPLY,              HTTP send failed or cancelled   -
//     CURLE_UNSUPPORTED_PROTOCOL (not an HTTP/1.x answer)
//   CURLE_URL_MALFORMAT (host refused)     HTTP send failed or cancelled   -
//   CURLE_PARTIAL_FILE (closed mid-body)   -                               HTTP body read failed
//   CURLE_OPERATION_TIMEDOUT (connect      HTTP send failed or cancelled   -
//     time-out)
//   CURLE_RECV_ERROR and any other result  HTTP send failed or cancelled   HTTP body read failed
//
// Two results never reach this table: CURLE_WRITE_ERROR is how the
// transport's own callbacks stop a transfer, after recording the message of
// the rule that failed ("HTTP response status is unavailable", "HTTP
// content encoding is unavailable", "HTTP carrier used content encoding",
// "HTTP carrier exceeded response bound"); CURLE_OUT_OF_MEMORY becomes
// std::bad_alloc. "HTTP content encoding is invalid" (a value of odd byte
// length in a UTF-16 buffer) cannot arise with byte strings. A limit of
// transfer_limits.h that breaks ends the transfer the same way, or between
// two waits, and is reported as a failure of its phase: "HTTP send failed
// or cancelled" before the head was complete, "HTTP body read failed"
// after.
std::string_view curlFailureMessage(CURLcode result, bool head_complete) {
  const FetchStep step = head_complete ? FetchStep::Body : FetchStep::Send;
  switch (result) {
    case CURLE_ABORTED_BY_CALLBACK:
      return fetchStepMessage(step, /*cancelled=*/true);
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return fetchStepMessage(FetchStep::Send);
    case CURLE_PARTIAL_FILE:
      return fetchStepMessage(FetchStep::Body);
    default:
      return fetchStepMessage(step);
  }
}

// A kept header value, or nothing for a field that was absent.
std::string keptFieldValue(const std::optional<std::string>& value) {
  return value ? keptHeaderValue(*value) : std::string();
}

// The state of one fetch, shared with libcurl's callbacks (which run on the
// fetching thread, inside curl_multi_perform).
struct Transfer {
  const FetchRequest* request = nullptr;
  const std::atomic<bool>* cancelled = nullptr;

  ResponseHead head;
  bool head_complete = false;

  TransferWatch watch;
  ChunkedFramingMeter framing;

  std::vector<std::uint8_t> body;

  // How the transfer was stopped by the transport itself.
  std::string_view refusal;  // a response rule's message
  bool cancel_seen = false;  // the flag was seen set during the transfer
  bool out_of_memory = false;

  Transfer(const FetchRequest& fetch, const std::atomic<bool>& flag, const TransferLimits& limits)
      : request(&fetch), cancelled(&flag), watch(limits) {}

  // The checks of a complete final head, before any body byte is kept.
  bool finishHead(Clock::time_point now) {
    head_complete = true;
    watch.headComplete(now);
    refusal = head.refusal();
    if (refusal.empty()) refusal = declaredLengthRefusal(head.declaredBodyLength(), request->bound);
    return refusal.empty();
  }

  // Room for `more` bytes without the capacity ever passing the bound. The
  // first reservation follows an announced length (itself capped by the
  // bound); later ones double.
  void reserveFor(std::size_t more) {
    const std::uint64_t bound = request->bound;
    const std::uint64_t needed = body.size() + more;
    if (needed <= body.capacity()) return;
    std::uint64_t target = std::max<std::uint64_t>(needed, 2 * static_cast<std::uint64_t>(body.capacity()));
    if (body.capacity() == 0) {
      if (const auto announced = head.declaredBodyLength()) target = std::max(target, *announced);
    }
    body.reserve(static_cast<std::size_t>(std::min(target, bound)));
  }
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  const Clock::time_point now = Clock::now();
  if (t.head_complete) {
    // Trailer fields of a chunked body: ignored here, weighed by the
    // framing meter.
    t.watch.received(now);
    return n;
  }
  t.watch.headBytes(n, now);
  // Keeping a field value allocates; an exception must not unwind through
  // libcurl, which would leave the handle inside the multi handle with
  // pointers into this fetch's stack.
  bool ended = false;
  try {
    ended = t.head.readLine(std::string_view(data, n));
  } catch (const std::bad_alloc&) {
    t.out_of_memory = true;
    return 0;
  }
  if (ended && !t.finishHead(now)) return 0;
  return t.watch.withinLimits(now) ? n : 0;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  const Clock::time_point now = Clock::now();
  if (!t.head_complete && !t.finishHead(now)) return 0;
  t.watch.bodyBytes(n, now);
  if (t.cancelled->load()) {
    t.cancel_seen = true;
    return 0;
  }
  if (n > t.request->bound - t.body.size()) {
    t.refusal = kCarrierExceededBound;
    std::vector<std::uint8_t>().swap(t.body);
    return 0;
  }
  if (!t.watch.withinLimits(now)) return 0;
  try {
    t.reserveFor(n);
    // Same element type on both sides, so the copy is one memmove rather than
    // a byte-by-byte conversion from char.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    t.body.insert(t.body.end(), bytes, bytes + n);
  } catch (const std::bad_alloc&) {
    t.out_of_memory = true;
    return 0;
  }
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& t = *static_cast<Transfer*>(user);
  if (t.cancelled->load()) {
    t.cancel_seen = true;
    return 1;
  }
  return 0;
}

int onConnectionReady(void* user, char*, char*, int, int) {
  static_cast<Transfer*>(user)->watch.requestSent(Clock::now());
  return CURL_PREREQFUNC_OK;
}

// Bytes as received, before libcurl takes a chunked body apart: the only
// place chunk extensions and the framing between chunks can be seen. libcurl
// also calls this between fetches (with no transfer attached) and for its
// own texts.
int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type != CURLINFO_DATA_IN || user == nullptr) return 0;
  auto& t = *static_cast<Transfer*>(user);
  const Clock::time_point now = Clock::now();
  if (t.head_complete && t.head.chunked()) {
    t.watch.framingBytes(t.framing.feed(std::string_view(data, size)), now);
  } else {
    t.watch.received(now);
  }
  return 0;
}

// A header list freed with its exchange.
struct HeaderList {
  curl_slist* head = nullptr;
  ~HeaderList() { curl_slist_free_all(head); }
  bool append(const std::string& line) {
    curl_slist* next = curl_slist_append(head, line.c_str());
    if (next == nullptr) return false;
    head = next;
    return true;
  }
};

template <typename T>
bool set(CURL* easy, CURLoption option, T value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

// Sets the options that hold for every fetch of `easy`.
bool configureHandle(CURL* easy, const Origin& origin, const CurlHttpOptions& options) {
  const char* scheme = origin.secure ? "https" : "http";
  bool ok =
      set(easy, CURLOPT_NOSIGNAL, 1L) && set(easy, CURLOPT_USERAGENT, kHttpUserAgent.data()) &&
      set(easy, CURLOPT_PROTOCOLS_STR, scheme) && set(easy, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1}) &&
      set(easy, CURLOPT_BUFFERSIZE, kHttpReadBufferSize) &&
      set(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout.count())) &&
      set(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
      set(easy, CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(onHeader)) &&
      set(easy, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(onBody)) && set(easy, CURLOPT_NOPROGRESS, 0L) &&
      set(easy, CURLOPT_XFERINFOFUNCTION, static_cast<curl_xferinfo_callback>(onProgress)) &&
      set(easy, CURLOPT_PREREQFUNCTION, static_cast<curl_prereq_callback>(onConnectionReady)) &&
      set(easy, CURLOPT_DEBUGFUNCTION, static_cast<curl_debug_callback>(onDebug)) && set(easy, CURLOPT_VERBOSE, 1L);
  if (origin.secure) {
    // HTTP/2 when the server offers it in the handshake, else HTTP/1.1.
    ok = ok && set(easy, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_2TLS}) &&
         set(easy, CURLOPT_SSLVERSION, long{CURL_SSLVERSION_TLSv1_2}) && set(easy, CURLOPT_SSL_VERIFYPEER, 1L) &&
         set(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  }
  // A loopback origin, plain or secure, never goes through a proxy,
  // whatever the environment says; any other origin follows the
  // environment's proxy settings (libcurl reads them itself).
  if (isLoopbackHost(origin.host)) {
    ok = ok && set(easy, CURLOPT_PROXY, "") && set(easy, CURLOPT_NOPROXY, "*");
  }
  // A fetch that ends during a host-name lookup (cancelled, or past the
  // connect limit) returns at once instead of waiting for the system's
  // lookup to give up, which can take far longer; the lookup's thread then
  // ends by itself when that lookup does, and frees only its own memory.
  ok = ok && set(easy, CURLOPT_QUICK_EXIT, 1L);
  if (!options.reuse_connections) {
    ok = ok && set(easy, CURLOPT_FRESH_CONNECT, 1L) && set(easy, CURLOPT_FORBID_REUSE, 1L);
  }
  return ok;
}

// One GET on one easy handle: the request, the state its callbacks share
// and everything else the handle points into. It lives on the heap because
// a request sent ahead outlives the fetch that sent it.
struct Exchange {
  CURLM* multi;
  CURL* easy;
  std::string path;
  FetchRequest request;
  Transfer transfer;
  HeaderList headers;
  std::string url;
  bool running = false;  // in the multi handle
  bool done = false;     // libcurl reported the end of the transfer
  CURLcode result = CURLE_OK;
  Clock::time_point idle_since;  // when the fetch that last drove it returned

  Exchange(CURLM* multi_handle, CURL* easy_handle, const FetchRequest& fetch, const std::atomic<bool>& flag,
           const TransferLimits& limits)
      : multi(multi_handle), easy(easy_handle), path(fetch.path), request(fetch), transfer(request, flag, limits) {
    request.path = path;
  }

  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // The handle must not keep pointers into this object once it is gone.
  ~Exchange() {
    stop();
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, static_cast<void*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, static_cast<void*>(nullptr));
  }

  // GET of the origin's URL prefix plus the path, with the header block.
  // "Accept:" removes the line libcurl would add by itself.
  bool prepare(const Origin& origin) {
    bool created = true;
    for (const std::string& line : requestHeaderLines(request)) created = created && headers.append(line);
    created = created && headers.append("Accept:");
    url = origin.urlPrefix() + path;
    return created && set(easy, CURLOPT_URL, url.c_str()) && set(easy, CURLOPT_HTTPGET, 1L) &&
           set(easy, CURLOPT_HTTPHEADER, headers.head) && set(easy, CURLOPT_HEADERDATA, &transfer) &&
           set(easy, CURLOPT_WRITEDATA, &transfer) && set(easy, CURLOPT_XFERINFODATA, &transfer) &&
           set(easy, CURLOPT_PREREQDATA, &transfer) && set(easy, CURLOPT_DEBUGDATA, &transfer);
  }

  // No redirects, no .netrc, no authentication (to the origin or to a
  // proxy). No cookie file is ever named, so the cookie engine stays off.
  bool applyPolicy(const Origin& origin) {
    const char* scheme = origin.secure ? "https" : "http";
    return set(easy, CURLOPT_FOLLOWLOCATION, 0L) && set(easy, CURLOPT_MAXREDIRS, 0L) &&
           set(easy, CURLOPT_REDIR_PROTOCOLS_STR, scheme) && set(easy, CURLOPT_NETRC, long{CURL_NETRC_IGNORED}) &&
           set(easy, CURLOPT_HTTPAUTH, CURLAUTH_NONE) && set(easy, CURLOPT_PROXYAUTH, CURLAUTH_NONE) &&
           set(easy, CURLOPT_UNRESTRICTED_AUTH, 0L);
  }

  bool start() {
    running = curl_multi_add_handle(multi, easy) == CURLM_OK;
    return running;
  }

  // Removing an unfinished transfer closes its connection.
  void stop() {
    if (running) curl_multi_remove_handle(multi, easy);
    running = false;
  }

  // Whether the transfer already went wrong in any way, or brought a status
  // its fetch would refuse.
  bool failed() const {
    const Transfer& t = transfer;
    return (done && result != CURLE_OK) || !t.refusal.empty() || t.cancel_seen || t.out_of_memory ||
           t.watch.broken() != BrokenLimit::None ||
           (t.head_complete && !statusRefusal(request.kind, t.head.status()).empty());
  }
};

}  // namespace

// The transport's libcurl handles: one easy handle for the fetch under way
// and one for each request sent ahead of it, driven through a multi handle
// whose connection cache keeps the connections between fetches.
struct CurlHttpHost::Handles {
  // A hinted request, waiting to be sent ahead.
  struct Hint {
    std::string path;
    std::uint64_t first;
    std::uint64_t last;
    std::uint64_t bound;
    FetchRequest request() const { return FetchRequest{FetchKind::Range, path, first, last, bound}; }
  };

  CURLM* multi = nullptr;
  CURL* easies[1 + kMaxRequestsAhead] = {};
  // The requests sent ahead, in the order their fetches will ask for them.
  std::deque<std::unique_ptr<Exchange>> ahead;
  // The hints for the fetches after the current one, in order.
  std::deque<Hint> hints;
  // Body memory for the next request sent ahead.
  std::vector<std::uint8_t> spare;

  ~Handles() {
    ahead.clear();
    if (multi != nullptr) curl_multi_cleanup(multi);
    for (CURL* easy : easies) {
      if (easy != nullptr) curl_easy_cleanup(easy);
    }
  }

  // Creates the handles and sets the options that hold for every fetch.
  bool open(const Origin& origin, const CurlHttpOptions& options) {
    multi = curl_multi_init();
    if (multi == nullptr) return false;
    for (CURL*& easy : easies) {
      easy = curl_easy_init();
      if (easy == nullptr || !configureHandle(easy, origin, options)) return false;
    }
    return true;
  }

  // An easy handle neither `busy` nor a request ahead uses.
  CURL* freeEasy(const Exchange* busy) const {
    for (CURL* easy : easies) {
      const bool used = (busy != nullptr && busy->easy == easy) ||
                        std::any_of(ahead.begin(), ahead.end(), [&](const auto& next) { return next->easy == easy; });
      if (!used) return easy;
    }
    return nullptr;
  }

  // The exchange running on `easy`, if any is.
  Exchange* exchangeOf(CURL* easy, Exchange& current) const {
    if (current.easy == easy) return &current;
    for (const auto& next : ahead) {
      if (next->easy == easy) return next.get();
    }
    return nullptr;
  }

  // The first request sent ahead when it is `request`, nothing went wrong
  // with it yet and it did not wait too long; otherwise every request ahead
  // is abandoned (the caller went another way) and the fetch sends its own.
  std::unique_ptr<Exchange> adopt(const FetchRequest& request) {
    if (ahead.empty()) return nullptr;
    std::unique_ptr<Exchange> next = std::move(ahead.front());
    ahead.pop_front();
    const Clock::time_point now = Clock::now();
    if (!sameRequest(next->request, request) || next->failed() || now - next->idle_since > kMaxAheadIdle) {
      ahead.clear();
      return nullptr;
    }
    next->transfer.watch.skip(now - next->idle_since);
    return next;
  }

  // Sends hinted requests ahead once the current fetch's answer has begun as
  // the partial one the hints were made for, in the caller's order. A
  // request for an object already answered whole in this chain (which may
  // hold the range) is not sent. Beyond the first, a request goes ahead only
  // while what is asked for ahead stays within kMaxBytesAhead.
  void sendAhead(const Exchange& current, const Origin& origin, const std::atomic<bool>& flag,
                 const TransferLimits& limits) {
    // Hints for requests already sent ahead (by an earlier fetch) are done.
    for (const auto& next : ahead) {
      if (hints.empty() || !sameRequest(hints.front().request(), next->request)) break;
      hints.pop_front();
    }
    std::uint64_t bytes_ahead = 0;
    for (const auto& next : ahead) bytes_ahead += rangeBytes(next->request);
    while (!hints.empty() && ahead.size() < kMaxRequestsAhead && answersRange(current) &&
           !answeredWhole(hints.front().path, current)) {
      const FetchRequest request = hints.front().request();
      if (!ahead.empty() && bytes_ahead + rangeBytes(request) > kMaxBytesAhead) return;
      auto next = std::make_unique<Exchange>(multi, freeEasy(&current), request, flag, limits);
      hints.pop_front();
      next->transfer.body = std::move(spare);
      // A request that cannot be sent ahead is simply sent by its fetch.
      if (!next->prepare(origin) || !next->applyPolicy(origin) || !next->start()) {
        hints.clear();
        return;
      }
      bytes_ahead += rangeBytes(request);
      ahead.push_back(std::move(next));
    }
  }

  // The end of a fetch: unused hints lapse, and after a failure the
  // requests sent ahead are abandoned too (the caller will not want them).
  void endFetch(bool ok) {
    hints.clear();
    if (!ok) ahead.clear();
    for (const auto& next : ahead) next->idle_since = Clock::now();
  }

 private:
  static bool sameRequest(const FetchRequest& a, const FetchRequest& b) {
    return a.kind == b.kind && a.path == b.path && a.first == b.first && a.last == b.last && a.bound == b.bound;
  }
  static std::uint64_t rangeBytes(const FetchRequest& request) { return request.last - request.first + 1; }
  static bool answersRange(const Exchange& exchange) {
    return exchange.transfer.head_complete && exchange.transfer.head.status() == 206;
  }

  // Whether the current exchange or a request ahead that asks for `path`
  // was answered with anything but a partial answer.
  bool answeredWhole(std::string_view path, const Exchange& current) const {
    const auto whole = [&](const Exchange& exchange) {
      return exchange.request.path == path && exchange.transfer.head_complete && !answersRange(exchange);
    };
    return whole(current) || std::any_of(ahead.begin(), ahead.end(), [&](const auto& next) { return whole(*next); });
  }
};

CurlHttpHost::CurlHttpHost(std::string_view origin, std::string& message, CurlHttpOptions options)
    : options_(std::move(options)) {
  origin_valid_ = parseOrigin(origin, origin_, message);
}

CurlHttpHost::~CurlHttpHost() = default;

void CurlHttpHost::cancel() { cancelled_.exchange(true); }

void CurlHttpHost::resetCancel() { cancelled_.exchange(false); }

bool CurlHttpHost::isCancelled() const { return cancelled_.load(); }

bool CurlHttpHost::fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                              HttpResponse& response, Failure& failure) {
  return requestStep(FetchRequest{FetchKind::Range, path, first, last, bound}, response, failure);
}

bool CurlHttpHost::fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                               Failure& failure) {
  return requestStep(FetchRequest{FetchKind::Suffix, path, length, 0, bound}, response, failure);
}

bool CurlHttpHost::fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) {
  return requestStep(FetchRequest{FetchKind::Whole, path, 0, 0, bound}, response, failure);
}

void CurlHttpHost::prefetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound) {
  if (!options_.pipelining || !origin_valid_ || first > last) return;
  if (handles_ == nullptr) {
    auto handles = std::make_unique<Handles>();
    if (!handles->open(origin_, options_)) return;  // the fetch reports it
    handles_ = std::move(handles);
  }
  if (handles_->hints.size() < kMaxRequestsAhead) handles_->hints.push_back({std::string(path), first, last, bound});
}

bool CurlHttpHost::requestStep(const FetchRequest& request, HttpResponse& response, Failure& failure) {
  const bool ok = exchangeStep(request, response, failure);
  if (handles_ != nullptr) handles_->endFetch(ok);
  return ok;
}

bool CurlHttpHost::exchangeStep(const FetchRequest& request, HttpResponse& response, Failure& failure) {
  // Storage the caller hands in is reused for the body, so a reader fetching
  // part after part does not fault in fresh pages for every response.
  std::vector<std::uint8_t> storage = std::move(response.body);
  storage.clear();
  response.reset();
  const auto fail = [&](std::string_view text) { return failFetch(*this, response, failure, text); };

  std::string rule;
  if (!checkRequestRules(request, origin_valid_, isCancelled(), rule)) return fail(rule);

  // Session: the handles (kept from earlier fetches) and client-wide options.
  if (handles_ == nullptr) {
    auto handles = std::make_unique<Handles>();
    if (!handles->open(origin_, options_)) return fail(fetchStepMessage(FetchStep::Session));
    handles_ = std::move(handles);
  }
  Handles& handles = *handles_;

  // Connection: the target is the origin's host and port; libcurl connects
  // (or reuses an open connection) when the transfer starts.
  if (isCancelled()) return fail(fetchStepMessage(FetchStep::Connection, /*cancelled=*/true));

  // A request sent ahead for exactly this fetch carries on where it stands;
  // otherwise the request, policy and send steps run here.
  std::unique_ptr<Exchange> exchange = handles.adopt(request);
  if (exchange != nullptr) {
    handles.spare = std::move(storage);
  } else {
    exchange =
        std::make_unique<Exchange>(handles.multi, handles.freeEasy(nullptr), request, cancelled_, options_.limits);
    exchange->transfer.body = std::move(storage);
    if (!exchange->prepare(origin_)) return fail(fetchStepMessage(FetchStep::Request));
    if (!exchange->applyPolicy(origin_)) return fail(fetchStepMessage(FetchStep::Policy));
    if (isCancelled()) return fail(fetchStepMessage(FetchStep::Send, /*cancelled=*/true));
    if (!exchange->start()) return fail(fetchStepMessage(FetchStep::Send));
  }
  Transfer& transfer = exchange->transfer;

  // Send: drive the transfer until it ends, checking the cancellation flag
  // and the transfer limits between waits.
  while (!exchange->done) {
    int running = 0;
    if (curl_multi_perform(handles.multi, &running) != CURLM_OK) {
      exchange->result = CURLE_RECV_ERROR;  // reported as a failure of the phase it happened in
      break;
    }
    int queued = 0;
    while (CURLMsg* info = curl_multi_info_read(handles.multi, &queued)) {
      if (info->msg != CURLMSG_DONE) continue;
      Exchange* ended = handles.exchangeOf(info->easy_handle, *exchange);
      if (ended == nullptr) continue;
      ended->result = info->data.result;
      ended->done = true;
    }
    if (exchange->done) break;
    if (isCancelled()) {
      transfer.cancel_seen = true;
      break;
    }
    if (!transfer.watch.withinLimits(Clock::now())) break;
    handles.sendAhead(*exchange, origin_, cancelled_, options_.limits);
    if (curl_multi_poll(handles.multi, nullptr, 0, kPollIntervalMs, nullptr) != CURLM_OK) {
      exchange->result = CURLE_RECV_ERROR;
      break;
    }
  }
  // A request sent ahead may have ended before its fetch began; the hint
  // then goes out now, so that it travels while the caller works on this
  // answer instead of waiting for the next fetch.
  if (exchange->done && exchange->result == CURLE_OK && !isCancelled()) {
    handles.sendAhead(*exchange, origin_, cancelled_, options_.limits);
    int running = 0;
    curl_multi_perform(handles.multi, &running);
  }
  exchange->stop();
  const CURLcode result = exchange->result;

  if (transfer.out_of_memory || result == CURLE_OUT_OF_MEMORY) {
    response.reset();
    throw std::bad_alloc();
  }
  if (!transfer.refusal.empty()) return fail(transfer.refusal);
  if (transfer.cancel_seen) return fail(curlFailureMessage(CURLE_ABORTED_BY_CALLBACK, transfer.head_complete));
  if (transfer.watch.broken() != BrokenLimit::None) return fail(fetchStepMessage(transfer.watch.failedStep()));
  if (result != CURLE_OK) return fail(curlFailureMessage(result, transfer.head_complete));
  if (!transfer.head_complete) return fail(fetchStepMessage(FetchStep::Status));
  if (isCancelled()) return fail(fetchStepMessage(FetchStep::Body, /*cancelled=*/true));

  // The status is judged only now that the body was read.
  const std::string_view refused = statusRefusal(request.kind, transfer.head.status());
  if (!refused.empty()) return fail(refused);
  response.status = transfer.head.status();
  response.valid = true;
  response.content_range = keptFieldValue(transfer.head.contentRange());
  response.etag = keptFieldValue(transfer.head.etag());
  response.body = std::move(transfer.body);
  failure.clear();
  return true;
}

}  // namespace vesmara
