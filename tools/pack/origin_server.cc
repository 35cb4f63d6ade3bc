#include "pack/origin_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/command_error.h"
#include "hosts/origin_policy.h"
#include "pack/media_types.h"

namespace vesmara::pack {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kReadChunk = 262144;

// An open file that stays open as long as a response still sends from it.
class OpenFile {
 public:
  explicit OpenFile(int descriptor) : descriptor_(descriptor) {}
  ~OpenFile() { ::close(descriptor_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int descriptor() const { return descriptor_; }

 private:
  int descriptor_;
};

std::optional<std::uint64_t> parseNumber(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// If-None-Match compares weakly: "W/" is ignored on either side.
bool noneMatchHits(std::string_view field, std::string_view etag) {
  while (!field.empty()) {
    const std::size_t comma = field.find(',');
    std::string_view candidate = trim(field.substr(0, comma));
    if (candidate.starts_with("W/")) candidate.remove_prefix(2);
    if (candidate == "*" || candidate == etag) return true;
    if (comma == std::string_view::npos) break;
    field.remove_prefix(comma + 1);
  }
  return false;
}

// Identity, modification time and size: a file replaced or rewritten gets a
// new tag.
std::string etagOf(const struct stat& status) {
  char text[96];
  const auto nanoseconds = static_cast<unsigned long long>(status.st_mtim.tv_sec) * 1000000000ULL +
                           static_cast<unsigned long long>(status.st_mtim.tv_nsec);
  std::snprintf(text, sizeof text, "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(status.st_ino), nanoseconds,
                static_cast<unsigned long long>(status.st_size));
  return text;
}

// The file below `root` a request path names, or nothing. Only plain
// segments are accepted, and the resolved file must still lie below `root`
// (a link inside the tree may not lead out of it).
std::optional<fs::path> resolveRequestPath(const fs::path& root, std::string_view path) {
  if (!path.starts_with('/') || path.size() == 1) return std::nullopt;
  fs::path relative;
  std::string_view rest = path.substr(1);
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    if (segment.empty() || segment == "." || segment == ".." || segment.find('\0') != std::string_view::npos) {
      return std::nullopt;
    }
    relative /= std::string(segment);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  std::error_code code;
  const fs::path resolved = fs::canonical(root / relative, code);
  if (code) return std::nullopt;
  const auto [root_end, unused] = std::mismatch(root.begin(), root.end(), resolved.begin(), resolved.end());
  if (root_end != root.end()) return std::nullopt;
  return resolved;
}

void answerNotFound(httplib::Response& response) {
  response.status = 404;
  response.set_content("not found\n", "text/plain");
}

void serveFile(const fs::path& root, const httplib::Request& request, httplib::Response& response) {
  const std::optional<fs::path> file = resolveRequestPath(root, request.path);
  if (!file) return answerNotFound(response);
  const int descriptor = ::open(file->c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return answerNotFound(response);
  auto open_file = std::make_shared<OpenFile>(descriptor);
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return answerNotFound(response);
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::string etag = etagOf(status);
  response.set_header("ETag", etag);
  response.set_header("Accept-Ranges", "bytes");
  response.set_header("Cache-Control", "no-cache");
  if (request.has_header("If-None-Match") && noneMatchHits(request.get_header_value("If-None-Match"), etag)) {
    response.status = 304;
    return;
  }
  // A range is honoured only for the representation it was asked against.
  const bool range_applies = !request.has_header("If-Range") || request.get_header_value("If-Range") == etag;
  const RangeAnswer answer = answerRange(range_applies ? request.get_header_value("Range") : "", size);
  response.status = answer.status;
  if (answer.status == 416) {
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  if (answer.status == 206) {
    response.set_header("Content-Range", "bytes " + std::to_string(answer.first) + "-" +
                                             std::to_string(answer.first + answer.length - 1) + "/" +
                                             std::to_string(size));
  }
  const std::string type(mediaTypeOf(file->filename().string()));
  if (answer.length == 0) {
    response.set_content("", type);
    return;
  }
  const std::uint64_t first = answer.first;
  response.set_content_provider(
      static_cast<std::size_t>(answer.length), type,
      [open_file, first](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        std::vector<char> buffer(std::min(length, kReadChunk));
        const ssize_t got = ::pread(open_file->descriptor(), buffer.data(), buffer.size(),
                                    static_cast<off_t>(first + offset));
        // A file that shrank under the server ends the connection early.
        if (got <= 0) return false;
        return sink.write(buffer.data(), static_cast<std::size_t>(got));
      });
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
  if (host == "localhost") return true;
  const std::string text(host);
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, text.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

RangeAnswer answerRange(std::string_view range, std::uint64_t size) {
  const RangeAnswer whole{200, 0, size};
  if (!range.starts_with("bytes=")) return whole;
  range = trim(range.substr(6));
  const std::size_t dash = range.find('-');
  if (dash == std::string_view::npos || range.find(',') != std::string_view::npos) return whole;
  const std::optional<std::uint64_t> first = parseNumber(trim(range.substr(0, dash)));
  const std::string_view tail = trim(range.substr(dash + 1));
  if (dash == 0 || trim(range.substr(0, dash)).empty()) {
    const std::optional<std::uint64_t> suffix = parseNumber(tail);
    if (!suffix) return whole;
    if (*suffix == 0 || size == 0) return {416, 0, 0};
    const std::uint64_t length = std::min(*suffix, size);
    return {206, size - length, length};
  }
  if (!first) return whole;
  std::uint64_t last = size == 0 ? 0 : size - 1;
  if (!tail.empty()) {
    const std::optional<std::uint64_t> given = parseNumber(tail);
    if (!given || *given < *first) return whole;
    last = std::min(*given, last);
  }
  if (*first >= size) return {416, 0, 0};
  return {206, *first, last - *first + 1};
}

OriginServer::OriginServer(const fs::path& root, const std::string& host, int port, Logger logger)
    : host_(vesmara::isLoopbackHost(host) ? "127.0.0.1" : host), server_(std::make_unique<httplib::Server>()) {
  // Other loopback addresses would serve an origin no reader opens.
  if (!vesmara::isLoopbackHost(host)) {
    throw tools::UsageError("refusing to serve on " + host +
                            (isLoopbackHost(host) ? ": readers open plain HTTP only at 127.0.0.1 or localhost"
                                                  : ": only on loopback, at 127.0.0.1 or localhost"));
  }
  std::error_code code;
  root_ = fs::canonical(root, code);
  if (code || !fs::is_directory(root_, code)) tools::fail(root.string() + " is not a folder");
  server_->set_tcp_nodelay(true);
  // httplib's default adds SO_REUSEPORT, with which a second server binds a
  // port that is already serving and silently shares its requests.
  server_->set_socket_options([](socket_t socket) {
    int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // httplib would answer ranges by itself; this server answers them.
  server_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    const_cast<httplib::Request&>(request).ranges.clear();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    serveFile(root_, request, response);
  });
  const auto refuse = [](const httplib::Request&, httplib::Response& response) {
    response.status = 405;
    response.set_header("Allow", "GET, HEAD");
  };
  server_->Post(".*", refuse).Put(".*", refuse).Patch(".*", refuse).Delete(".*", refuse).Options(".*", refuse);
  if (logger) {
    server_->set_logger([logger](const httplib::Request& request, const httplib::Response& response) {
      logger(request.method + " " + request.path + (request.has_header("Range") ? " " + request.get_header_value("Range") : "") +
             " -> " + std::to_string(response.status));
    });
  }
  errno = 0;
  port_ = port == 0 ? server_->bind_to_any_port(host_) : (server_->bind_to_port(host_, port) ? port : -1);
  if (port_ <= 0) {
    const int error = errno;  // of the failed bind or listen ("Address already in use")
    tools::fail("cannot listen on " + host_ + (port == 0 ? "" : ":" + std::to_string(port)) +
                (error != 0 ? std::string(": ") + std::strerror(error) : ""));
  }
}

OriginServer::~OriginServer() {
  stop();
  wait();
}

std::string OriginServer::origin() const { return "http://" + host_ + ":" + std::to_string(port_); }

void OriginServer::start() {
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    finished_ = true;
  });
  while (!server_->is_running() && !finished_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void OriginServer::stop() { server_->stop(); }

void OriginServer::wait() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace vesmara::pack
