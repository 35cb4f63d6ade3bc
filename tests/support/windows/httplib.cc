#include "httplib.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace httplib {
namespace {

constexpr std::size_t kLargestHead = 65536;

struct Winsock {
  Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};

void startWinsock() { static Winsock winsock; }

bool sendAll(SOCKET socket, const char* data, std::size_t length) {
  while (length > 0) {
    const int sent = send(socket, data, static_cast<int>(std::min<std::size_t>(length, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool sendText(SOCKET socket, const std::string& text) { return sendAll(socket, text.data(), text.size()); }

const char* reasonOf(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 416:
      return "Range Not Satisfiable";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string decodePath(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// Reads one request head (up to the blank line) into `head`, keeping bytes
// that follow in `pending`. False when the peer closed, went silent or the
// server stops.
bool readHead(SOCKET socket, std::string& pending, std::string& head) {
  while (true) {
    const std::size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      head = pending.substr(0, end + 2);
      pending.erase(0, end + 4);
      return true;
    }
    if (pending.size() > kLargestHead) return false;
    char buffer[4096];
    const int got = recv(socket, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    pending.append(buffer, static_cast<std::size_t>(got));
  }
}

bool parseHead(const std::string& head, Request& request) {
  std::size_t line_end = head.find("\r\n");
  const std::string line = head.substr(0, line_end);
  const std::size_t first_space = line.find(' ');
  const std::size_t second_space = line.find(' ', first_space + 1);
  if (first_space == std::string::npos || second_space == std::string::npos) return false;
  request.method = line.substr(0, first_space);
  std::string target = line.substr(first_space + 1, second_space - first_space - 1);
  target = target.substr(0, target.find('?'));
  request.path = decodePath(target);
  std::size_t at = line_end + 2;
  while (at < head.size()) {
    line_end = head.find("\r\n", at);
    const std::string field = head.substr(at, line_end - at);
    at = line_end + 2;
    const std::size_t colon = field.find(':');
    if (colon == std::string::npos) continue;
    request.headers.emplace(field.substr(0, colon), trim(field.substr(colon + 1)));
  }
  return true;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

std::string Request::get_header_value(const std::string& name) const {
  const auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

void Response::set_content(const std::string& content, const std::string& content_type) {
  body = content;
  set_header("Content-Type", content_type);
}

void Response::set_content_provider(std::size_t length, const std::string& content_type, ContentProvider provider) {
  content_length_ = length;
  provider_ = std::move(provider);
  set_header("Content-Type", content_type);
}

void Response::set_chunked_content_provider(const std::string& content_type, ContentProviderWithoutLength provider) {
  chunked_provider_ = std::move(provider);
  set_header("Content-Type", content_type);
}

void Response::set_content_provider(const std::string& content_type, ContentProviderWithoutLength provider) {
  unbounded_provider_ = std::move(provider);
  set_header("Content-Type", content_type);
}

Server::Server() : listener_(INVALID_SOCKET) { startWinsock(); }

Server::~Server() { stop(); }

Server& Server::set_keep_alive_max_count(std::size_t count) {
  keep_alive_max_count_ = count;
  return *this;
}

Server& Server::set_keep_alive_timeout(std::time_t seconds) {
  keep_alive_timeout_ = seconds;
  return *this;
}

Server& Server::set_tcp_nodelay(bool on) {
  tcp_nodelay_ = on;
  return *this;
}

Server& Server::set_pre_routing_handler(HandlerWithResponse handler) {
  pre_routing_ = std::move(handler);
  return *this;
}

Server& Server::Get(const std::string&, Handler handler) {
  get_ = std::move(handler);
  return *this;
}

int Server::bind_to_any_port(const std::string& host, int) { return bindTo(host, 0); }

bool Server::bind_to_port(const std::string& host, int port, int) { return bindTo(host, port) == port; }

int Server::bindTo(const std::string& host, int port) {
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  int length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, SOMAXCONN) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(listener);
    return -1;
  }
  listener_ = listener;
  return ntohs(address.sin_port);
}

bool Server::listen_after_bind() {
  running_ = true;
  while (!stopping_) {
    sockaddr_in peer{};
    int length = sizeof peer;
    const SOCKET client = accept(static_cast<SOCKET>(listener_), reinterpret_cast<sockaddr*>(&peer), &length);
    if (client == INVALID_SOCKET) break;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      closesocket(client);
      break;
    }
    clients_.push_back(client);
    threads_.emplace_back([this, client] { serveConnection(client); });
  }
  running_ = false;
  return true;
}

void Server::stop() {
  std::vector<std::thread> threads;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_.exchange(true)) return;
    if (listener_ != INVALID_SOCKET) closesocket(static_cast<SOCKET>(listener_));
    // Wakes every connection blocked in recv; each closes its own socket.
    for (const std::uintptr_t client : clients_) shutdown(static_cast<SOCKET>(client), SD_BOTH);
  }
  // listen_after_bind has returned or will not add threads any more.
  while (running_) std::this_thread::yield();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

void Server::serveConnection(std::uintptr_t client_handle) {
  const SOCKET client = static_cast<SOCKET>(client_handle);
  const DWORD timeout_ms = static_cast<DWORD>(keep_alive_timeout_ * 1000);
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms), sizeof timeout_ms);
  const BOOL nodelay = tcp_nodelay_ ? TRUE : FALSE;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), sizeof nodelay);
  sockaddr_in peer{};
  int peer_length = sizeof peer;
  getpeername(client, reinterpret_cast<sockaddr*>(&peer), &peer_length);

  std::string pending;
  for (std::size_t served = 0; !stopping_ && served < keep_alive_max_count_; ++served) {
    std::string head;
    if (!readHead(client, pending, head)) break;
    Request request;
    if (!parseHead(head, request)) break;
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    request.remote_addr = address;
    request.remote_port = ntohs(peer.sin_port);
    const bool keep_alive = request.get_header_value("Connection") != "close" && served + 1 < keep_alive_max_count_;
    if (!answer(client_handle, request, keep_alive) || !keep_alive) break;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client_handle), clients_.end());
  }
  shutdown(client, SD_SEND);
  closesocket(client);
}

bool Server::answer(std::uintptr_t client_handle, const Request& request, bool keep_alive) {
  const SOCKET client = static_cast<SOCKET>(client_handle);
  Response response;
  if (pre_routing_) pre_routing_(request, response);
  if ((request.method == "GET" || request.method == "HEAD") && get_) {
    get_(request, response);
  } else {
    response.status = 400;
  }
  if (response.status == -1) response.status = 200;

  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonOf(response.status) + "\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  const bool chunked = static_cast<bool>(response.chunked_provider_);
  const bool unbounded = static_cast<bool>(response.unbounded_provider_);
  if (unbounded) {
    keep_alive = false;
  } else if (chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else {
    const std::size_t length = response.provider_ ? response.content_length_ : response.body.size();
    head += "Content-Length: " + std::to_string(length) + "\r\n";
  }
  head += keep_alive ? "Connection: Keep-Alive\r\n" : "Connection: close\r\n";
  head += "\r\n";
  if (!sendText(client, head)) return false;
  if (request.method == "HEAD") return true;

  if (chunked) {
    bool finished = false;
    std::size_t offset = 0;
    bool ok = true;
    DataSink sink;
    sink.write = [&](const char* data, std::size_t length) {
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", length);
      ok = ok && sendText(client, size) && sendAll(client, data, length) && sendText(client, "\r\n");
      offset += length;
      return ok;
    };
    sink.done = [&] {
      ok = ok && sendText(client, "0\r\n\r\n");
      finished = true;
    };
    while (!finished && ok) {
      if (!response.chunked_provider_(offset, sink)) return false;
    }
    return ok;
  }
  if (response.provider_ || unbounded) {
    std::size_t offset = 0;
    bool ok = true;
    DataSink sink;
    sink.write = [&](const char* data, std::size_t length) {
      ok = ok && sendAll(client, data, length);
      offset += length;
      return ok;
    };
    sink.done = [] {};
    if (unbounded) {
      // Written as it comes until the provider stops; closing the connection ends it.
      while (ok && !stopping_ && response.unbounded_provider_(offset, sink)) {
      }
      return false;
    }
    while (offset < response.content_length_ && ok) {
      if (!response.provider_(offset, response.content_length_ - offset, sink)) return false;
    }
    return ok;
  }
  return sendText(client, response.body);
}

}  // namespace httplib
