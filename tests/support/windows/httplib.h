// The part of cpp-httplib's server interface the test origin uses, for the
// Windows build, where Debian's cpp-httplib (a Linux library) is not
// available: a blocking HTTP/1.1 server on Winsock with keep-alive, one
// thread per connection, fixed-length, provider-written, chunked and
// close-delimited bodies. Plain HTTP only.
#ifndef VESMARA_TESTS_SUPPORT_WINDOWS_HTTPLIB_H_
#define VESMARA_TESTS_SUPPORT_WINDOWS_HTTPLIB_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using Headers = std::multimap<std::string, std::string, CaseInsensitiveLess>;
using Ranges = std::vector<std::pair<long long, long long>>;

struct Request {
  std::string method;
  std::string path;  // percent-decoded, without the query
  Headers headers;
  Ranges ranges;
  std::string remote_addr;
  int remote_port = -1;

  bool has_header(const std::string& name) const { return headers.find(name) != headers.end(); }
  std::string get_header_value(const std::string& name) const;
};

class DataSink {
 public:
  std::function<bool(const char* data, std::size_t length)> write;
  std::function<void()> done;
};

using ContentProvider = std::function<bool(std::size_t offset, std::size_t length, DataSink& sink)>;
using ContentProviderWithoutLength = std::function<bool(std::size_t offset, DataSink& sink)>;

struct Response {
  int status = -1;
  Headers headers;
  std::string body;

  void set_header(const std::string& name, const std::string& value) { headers.emplace(name, value); }
  void set_content(const std::string& content, const std::string& content_type);
  void set_content_provider(std::size_t length, const std::string& content_type, ContentProvider provider);
  void set_chunked_content_provider(const std::string& content_type, ContentProviderWithoutLength provider);
  // A body without a length, ended by closing the connection.
  void set_content_provider(const std::string& content_type, ContentProviderWithoutLength provider);

  // How the body is written.
  std::size_t content_length_ = 0;
  ContentProvider provider_;
  ContentProviderWithoutLength chunked_provider_;
  ContentProviderWithoutLength unbounded_provider_;
};

class Server {
 public:
  enum class HandlerResponse { Handled, Unhandled };
  using Handler = std::function<void(const Request&, Response&)>;
  using HandlerWithResponse = std::function<HandlerResponse(const Request&, Response&)>;

  Server();
  virtual ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  Server& set_keep_alive_max_count(std::size_t count);
  Server& set_keep_alive_timeout(std::time_t seconds);
  Server& set_tcp_nodelay(bool on);
  Server& set_pre_routing_handler(HandlerWithResponse handler);
  // Every GET (and HEAD) goes to the one handler; the pattern is not used.
  Server& Get(const std::string& pattern, Handler handler);

  // Binds `host` on an ephemeral port; the port, or -1.
  int bind_to_any_port(const std::string& host, int socket_flags = 0);
  // Binds `host` on `port`; false when it cannot.
  bool bind_to_port(const std::string& host, int port, int socket_flags = 0);
  // Serves until stop().
  bool listen_after_bind();
  bool is_running() const { return running_.load(); }
  bool is_valid() const { return true; }
  void stop();

 private:
  int bindTo(const std::string& host, int port);
  void serveConnection(std::uintptr_t client);
  bool answer(std::uintptr_t client, const Request& request, bool keep_alive);

  std::uintptr_t listener_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
  std::size_t keep_alive_max_count_ = 5;
  std::time_t keep_alive_timeout_ = 5;
  bool tcp_nodelay_ = false;
  HandlerWithResponse pre_routing_;
  Handler get_;
  std::mutex mutex_;
  std::vector<std::uintptr_t> clients_;
  std::vector<std::thread> threads_;
};

}  // namespace httplib

#endif  // VESMARA_TESTS_SUPPORT_WINDOWS_HTTPLIB_H_
