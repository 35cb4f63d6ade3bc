#include "support/test_origin.h"

#include <httplib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
#include "support/test_certificates.h"
#endif

namespace vesmara::test {
namespace {

std::string etagFor(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a, 64 bits
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  char text[40];
  std::snprintf(text, sizeof text, "\"%016llx-%zx\"", static_cast<unsigned long long>(hash), bytes.size());
  return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Fields httplib adds to a request's header map itself.
bool isPseudoHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

bool parseNumber(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

struct Slice {
  int status = 200;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::optional<std::string> content_range;
};

// The answer to a Range field for a file of `size` bytes. A field this
// origin does not understand is ignored (200 and the whole file).
Slice sliceFor(std::string_view range, std::uint64_t size) {
  Slice whole{200, 0, size, std::nullopt};
  if (range.empty() || !range.starts_with("bytes=")) return whole;
  range.remove_prefix(6);
  const std::size_t dash = range.find('-');
  if (dash == std::string_view::npos || range.find(',') != std::string_view::npos) return whole;
  const std::string unsatisfiable = "bytes */" + std::to_string(size);
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  if (dash == 0) {  // bytes=-n
    std::uint64_t n = 0;
    if (!parseNumber(range.substr(1), n)) return whole;
    if (n == 0 || size == 0) return {416, 0, 0, unsatisfiable};
    first = n >= size ? 0 : size - n;
    last = size - 1;
  } else {
    if (!parseNumber(range.substr(0, dash), first)) return whole;
    const std::string_view tail = range.substr(dash + 1);
    if (tail.empty()) {
      last = size == 0 ? 0 : size - 1;
    } else if (!parseNumber(tail, last)) {
      return whole;
    }
    if (first > last) return whole;
    if (first >= size) return {416, 0, 0, unsatisfiable};
    last = std::min(last, size - 1);
  }
  return {206, first, last - first + 1,
          "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size)};
}

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// A TLS server with a new self-signed certificate for "localhost" and
// 127.0.0.1, valid for a day.
std::unique_ptr<httplib::Server> makeTlsServer() {
  const TlsIdentity identity = makeTlsIdentity({});
  // The server takes its own references.
  auto server = std::make_unique<httplib::SSLServer>(identity.certificate.get(), identity.key.get());
  if (!server->is_valid()) throw std::runtime_error("test origin: TLS set-up failed");
  return server;
}
#else
// The Windows build's server speaks plain HTTP only.
std::unique_ptr<httplib::Server> makeTlsServer() {
  throw std::runtime_error("test origin: TLS needs cpp-httplib with OpenSSL, which this build has not");
}
#endif

}  // namespace

bool TestOrigin::LoggedRequest::hasHeader(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return equalsIgnoringCase(h.first, name); });
}

std::string TestOrigin::LoggedRequest::header(std::string_view name) const {
  for (const auto& h : headers) {
    if (equalsIgnoringCase(h.first, name)) return h.second;
  }
  return {};
}

TestOrigin::TestOrigin(Scheme scheme, int port)
    : server_(scheme == Scheme::Https ? makeTlsServer() : std::make_unique<httplib::Server>()), scheme_(scheme) {
  // A client that gives up on an endless answer closes the connection while
  // the origin still writes to it: the write must fail, not end the test.
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  server_->set_keep_alive_max_count(1000000);
  server_->set_keep_alive_timeout(1);
  server_->set_tcp_nodelay(true);
  // httplib would answer ranges by itself; this origin answers them (and
  // misanswers them) in its handler.
  server_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    const_cast<httplib::Request&>(request).ranges.clear();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->Get(".*",
               [this](const httplib::Request& request, httplib::Response& response) { handle(request, response); });
  port_ = port == 0 ? server_->bind_to_any_port("127.0.0.1") : server_->bind_to_port("127.0.0.1", port) ? port : -1;
  if (port_ <= 0) throw std::runtime_error("test origin: cannot bind 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestOrigin::~TestOrigin() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  server_->stop();
  thread_.join();
}

std::string TestOrigin::origin() const {
  if (scheme_ == Scheme::Https) return "https://localhost:" + std::to_string(port_);
  return "http://127.0.0.1:" + std::to_string(port_);
}

void TestOrigin::addFile(const std::string& path, std::string_view bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_[path] = std::make_shared<const File>(File{std::string(bytes), etagFor(bytes)});
}

void TestOrigin::addFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  addFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void TestOrigin::removeFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_.erase(path);
}

void TestOrigin::serveDirectory(const std::filesystem::path& root, const std::string& prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  directories_.emplace_back(prefix, root);
}

std::optional<std::string> TestOrigin::etagOf(const std::string& path) const {
  auto file = findFile(path);
  if (!file) return std::nullopt;
  return file->etag;
}

void TestOrigin::setBehaviour(const std::string& path, Behaviour behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  behaviours_[path] = std::move(behaviour);
}

void TestOrigin::setGlobalBehaviour(Behaviour behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  global_ = std::move(behaviour);
}

void TestOrigin::clearBehaviours() {
  std::lock_guard<std::mutex> lock(mutex_);
  behaviours_.clear();
  global_.reset();
}

std::vector<TestOrigin::LoggedRequest> TestOrigin::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::size_t TestOrigin::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.size();
}

void TestOrigin::clearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

std::string TestOrigin::makeBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state & 0xFF);
  }
  return bytes;
}

std::shared_ptr<const TestOrigin::File> TestOrigin::findFile(const std::string& path) const {
  std::vector<std::pair<std::string, std::filesystem::path>> directories;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(path);
    if (it != files_.end()) return it->second;
    directories = directories_;
  }
  for (const auto& [prefix, root] : directories) {
    if (!path.starts_with(prefix) || path.size() == prefix.size()) continue;
    const std::string relative = path.substr(prefix.size());
    std::stringstream segments(relative);
    std::string segment;
    bool safe = relative.front() != '/';
    while (safe && std::getline(segments, segment, '/')) safe = !segment.empty() && segment != "." && segment != "..";
    if (!safe) continue;
    const std::filesystem::path file = root / relative;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) continue;
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) continue;
    std::string etag = etagFor(bytes);
    return std::make_shared<const File>(File{std::move(bytes), std::move(etag)});
  }
  return nullptr;
}

TestOrigin::Behaviour TestOrigin::behaviourFor(const std::string& path) const {
  auto it = behaviours_.find(path);
  if (it != behaviours_.end()) return it->second;
  return global_.value_or(Behaviour{});
}

bool TestOrigin::waitForStalls(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stalled_.wait_for(lock, timeout, [this, count] { return stalls_ >= count; });
}

bool TestOrigin::pause(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++stalls_;
  stalled_.notify_all();
  return !wake_.wait_for(lock, duration, [this] { return stopping_; });
}

void TestOrigin::handle(const httplib::Request& request, httplib::Response& response) {
  const std::string range = request.get_header_value("Range");
  LoggedRequest entry;
  entry.method = request.method;
  entry.path = request.path;
  entry.range = range;
  entry.remotePort = request.remote_port;
  for (const auto& [name, value] : request.headers) {
    if (!isPseudoHeader(name)) entry.headers.emplace_back(name, value);
  }
  Behaviour behaviour;
  std::uint64_t answer = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::move(entry));
    behaviour = behaviourFor(request.path);
    answer = ++answers_;
  }
  const auto file = findFile(request.path);

  if (behaviour.stallBeforeHead.count() > 0 && !pause(behaviour.stallBeforeHead)) {
    response.status = 503;
    return;
  }
  for (const auto& [name, value] : behaviour.extraHeaders) response.set_header(name, value);
  if (behaviour.content_encoding) response.set_header("Content-Encoding", *behaviour.content_encoding);
  if (behaviour.endless != Endless::None) {
    answerEndlessly(behaviour, file ? file->bytes : std::string("endless"), response);
    return;
  }
  if (behaviour.redirectTo) {
    response.status = 302;
    response.set_header("Location", *behaviour.redirectTo);
    return;
  }
  if (!file) {
    response.status = behaviour.status.value_or(404);
    response.set_content("not found", "text/plain");
    return;
  }

  const std::string& bytes = file->bytes;
  Slice slice = behaviour.ignoreRanges ? Slice{200, 0, bytes.size(), std::nullopt} : sliceFor(range, bytes.size());
  if (slice.status == 206) {
    const std::string total = "/" + std::to_string(bytes.size());
    if (behaviour.wrongContentRange) {
      slice.content_range =
          "bytes " + std::to_string(slice.offset + 1) + "-" + std::to_string(slice.offset + slice.length) + total;
    }
    if (behaviour.starContentRange) slice.content_range = "bytes *" + total;
  }
  if (behaviour.content_range) slice.content_range = behaviour.content_range;

  std::string etag = file->etag;
  if (behaviour.changeEtag) etag.insert(etag.size() - 1, "-" + std::to_string(answer));
  if (behaviour.etag) etag = *behaviour.etag;
  response.set_header("ETag", etag);
  if (slice.content_range) response.set_header("Content-Range", *slice.content_range);
  response.status = behaviour.status.value_or(slice.status);

  auto body = std::make_shared<std::string>(bytes.substr(slice.offset, slice.length));
  body->append(behaviour.extraBodyBytes, '#');
  const std::size_t length = behaviour.declaredLength.value_or(body->size());

  const bool interrupted = behaviour.stallMidBody.count() > 0 || behaviour.closeMidBody;
  // A large body goes out in pieces too, each waiting for room at most the
  // server's write time-out: a client that stops reading it must not hold
  // the origin's thread (and so the origin's end) in one endless send. Under
  // Wine a client's closed connection can stay open while its own read of it
  // is still pending.
  constexpr std::size_t kWholeWriteLimit = 1 << 20;
  if (!interrupted && !behaviour.chunked && !behaviour.drip && !behaviour.declaredLength &&
      body->size() <= kWholeWriteLimit) {
    response.set_content(*body, "application/octet-stream");
    return;
  }
  // Writes the body in pieces of at most 64 KiB (or of the drip's size,
  // waiting between them); at its middle, closes or waits once.
  auto paused = std::make_shared<bool>(false);
  auto provide = [this, body, paused, behaviour, interrupted, length](std::size_t offset, httplib::DataSink& sink) {
    const std::size_t half = interrupted ? length / 2 : 0;
    if (interrupted && offset >= half && !*paused) {
      *paused = true;
      if (behaviour.closeMidBody) return false;
      if (!pause(behaviour.stallMidBody)) return false;
    }
    if (behaviour.drip && offset > 0 && behaviour.drip->every.count() > 0 && !pause(behaviour.drip->every)) {
      return false;
    }
    std::size_t end = std::min(offset < half ? half : length, offset + 65536);
    if (behaviour.drip) end = std::min(end, offset + behaviour.drip->pieces);
    if (offset < body->size()) {
      const std::size_t stop = std::min(end, body->size());
      sink.write(body->data() + offset, stop - offset);
      offset = stop;
    }
    if (end > offset) {
      const std::string padding(end - offset, '#');
      sink.write(padding.data(), padding.size());
    }
    return true;
  };
  if (behaviour.chunked) {
    response.set_chunked_content_provider("application/octet-stream",
                                          [provide, length](std::size_t offset, httplib::DataSink& sink) {
                                            if (offset >= length) {
                                              sink.done();
                                              return true;
                                            }
                                            return provide(offset, sink);
                                          });
  } else {
    response.set_content_provider(
        length, "application/octet-stream",
        [provide](std::size_t offset, std::size_t, httplib::DataSink& sink) { return provide(offset, sink); });
  }
}

void TestOrigin::answerEndlessly(const Behaviour& behaviour, const std::string& content, httplib::Response& response) {
  // httplib writes the first head (an interim one where the answer is a
  // stream of heads); everything after it goes out as it is.
  std::string opening;
  std::string (*piece)(std::uint64_t n) = nullptr;
  switch (behaviour.endless) {
    case Endless::FieldLines:
      response.status = 103;
      opening = "HTTP/1.1 200 OK\r\n";
      piece = [](std::uint64_t n) { return "X-Drip-" + std::to_string(n) + ": x\r\n"; };
      break;
    case Endless::InterimHeads:
      response.status = 102;
      piece = [](std::uint64_t) { return std::string("HTTP/1.1 102 Processing\r\n\r\n"); };
      break;
    case Endless::ChunkExtension:
      response.set_header("Transfer-Encoding", "chunked");
      opening = "1;";
      piece = [](std::uint64_t) { return std::string("x"); };
      break;
    case Endless::Trailers: {
      response.set_header("Transfer-Encoding", "chunked");
      char size[20];
      std::snprintf(size, sizeof size, "%zx", content.size());
      opening = std::string(size) + "\r\n" + content + "\r\n0\r\n";
      piece = [](std::uint64_t n) { return "X-Trailer-" + std::to_string(n) + ": x\r\n"; };
      break;
    }
    case Endless::None:
      return;
  }
  auto sent = std::make_shared<std::uint64_t>(0);
  const Pace pace = behaviour.endlessPace;
  response.set_content_provider("application/octet-stream",
                                [this, opening, piece, pace, sent](std::size_t offset, httplib::DataSink& sink) {
                                  if (offset == 0 && !opening.empty() && !sink.write(opening.data(), opening.size()))
                                    return false;
                                  std::string step;
                                  for (std::size_t i = 0; i < pace.pieces; ++i) step += piece((*sent)++);
                                  if (!sink.write(step.data(), step.size())) return false;
                                  return pace.every.count() == 0 || pause(pace.every);
                                });
}

}  // namespace vesmara::test
