// A static origin for local development: serves the files below a folder
// on a loopback address, with the HTTP a site reader relies on — byte
// ranges ("bytes=a-b", "bytes=a-", suffix "bytes=-n"), strong ETags,
// If-None-Match and If-Range, 206, 304, 404, 405 and 416 — and nothing it
// does not need (no directory listings, no redirects, no compression).
#ifndef VESMARA_TOOLS_PACK_ORIGIN_SERVER_H_
#define VESMARA_TOOLS_PACK_ORIGIN_SERVER_H_

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace httplib {
class Server;
}

namespace vesmara::pack {

// Whether `host` is a loopback address (127.0.0.0/8 or ::1) or "localhost".
bool isLoopbackHost(std::string_view host);

// The answer to a Range field for a representation of `size` bytes.
struct RangeAnswer {
  int status = 200;           // 200 whole, 206 partial, 416 unsatisfiable
  std::uint64_t first = 0;    // the slice sent
  std::uint64_t length = 0;
};

// A field this server does not take (several ranges, another unit, bad
// syntax) is ignored, as HTTP allows: the whole representation.
RangeAnswer answerRange(std::string_view range, std::uint64_t size);

class OriginServer {
 public:
  using Logger = std::function<void(const std::string& line)>;

  // Binds 127.0.0.1 on `port` (0: any free port) for `host` "127.0.0.1" or
  // "localhost" (any case): the plain HTTP origins readers open. Throws
  // UsageError for any other host, CommandError when the folder or the
  // address cannot be used.
  OriginServer(const std::filesystem::path& root, const std::string& host, int port, Logger logger);
  ~OriginServer();
  OriginServer(const OriginServer&) = delete;
  OriginServer& operator=(const OriginServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string origin() const;
  // Starts serving on a thread of its own and returns once it accepts requests.
  void start();
  // Stops serving; any thread, any time.
  void stop();
  // Returns once serving has stopped.
  void wait();

 private:
  std::filesystem::path root_;
  std::string host_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_ORIGIN_SERVER_H_
