// Fetches per second of 1 KiB ranges through the library's own HTTP client,
// keeping one connection open (the default) against the baseline of a
// client that keeps none: the same transport with connection reuse turned
// off, and a new transport for every fetch.
//
// Servers: the loopback test origin (cpp-httplib), and nginx when it is
// installed (started on a private configuration in a temporary directory).
//
//   http_fetch_bench [FETCHES_PER_MODE]      (default 3000)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hosts/posix/curl_http_host.h"
#include "support/test_origin.h"

extern char** environ;

namespace vesmara {
namespace {

constexpr std::uint64_t kFileSize = 1 << 20;
constexpr std::uint64_t kRangeSize = 1024;
constexpr const char* kPath = "/bench/carrier.bin";

using Clock = std::chrono::steady_clock;

bool fetchOne(CurlHttpHost& host, std::mt19937_64& random) {
  const std::uint64_t first = random() % (kFileSize - kRangeSize);
  HttpResponse response;
  Failure failure;
  if (!host.fetchRange(kPath, first, first + kRangeSize - 1, kRangeSize, response, failure)) {
    std::fprintf(stderr, "fetch failed: %s\n", failure.message.c_str());
    return false;
  }
  return response.status == 206 && response.body.size() == kRangeSize;
}

// Fetches per second over `count` fetches made by `fetch`.
std::optional<double> measure(int count, const std::function<bool()>& fetch) {
  for (int i = 0; i < 20; ++i) {  // warm up
    if (!fetch()) return std::nullopt;
  }
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (!fetch()) return std::nullopt;
  }
  const std::chrono::duration<double> took = Clock::now() - start;
  return count / took.count();
}

CurlHttpOptions withReuse(bool reuse) {
  CurlHttpOptions options;
  options.reuse_connections = reuse;
  return options;
}

void benchServer(const char* name, const std::string& origin, int count) {
  std::mt19937_64 random(42);
  std::string message;
  CurlHttpHost reused(origin, message, withReuse(true));
  CurlHttpHost fresh(origin, message, withReuse(false));
  const auto kept = measure(count, [&] { return fetchOne(reused, random); });
  const auto closed = measure(count, [&] { return fetchOne(fresh, random); });
  const auto perFetch = measure(count, [&] {
    CurlHttpHost host(origin, message, withReuse(true));
    return fetchOne(host, random);
  });
  if (!kept || !closed || !perFetch) {
    std::printf("%-8s fetches failed\n", name);
    return;
  }
  std::printf("%-8s one connection kept open          %9.0f fetches/s\n", name, *kept);
  std::printf("%-8s a new connection per fetch        %9.0f fetches/s   (reuse is %.1fx faster)\n", name, *closed,
              *kept / *closed);
  std::printf("%-8s a new transport per fetch         %9.0f fetches/s   (reuse is %.1fx faster)\n", name, *perFetch,
              *kept / *perFetch);
}

// nginx serving `root` on 127.0.0.1:`port` from a private prefix directory;
// stopped when the object goes away.
class Nginx {
 public:
  Nginx(const std::filesystem::path& dir, const std::filesystem::path& root, int port) {
    const std::string binary = "/usr/sbin/nginx";
    if (!std::filesystem::exists(binary)) return;
    std::filesystem::create_directories(dir / "logs");
    std::ofstream conf(dir / "nginx.conf");
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "error_log " << (dir / "logs" / "error.log").string() << " error;\n"
         << "pid " << (dir / "nginx.pid").string() << ";\n"
         << "events { worker_connections 256; }\n"
         << "http {\n  access_log off;\n  keepalive_requests 1000000;\n  keepalive_timeout 60s;\n"
         << "  client_body_temp_path " << (dir / "body").string() << ";\n"
         << "  proxy_temp_path " << (dir / "proxy").string() << ";\n"
         << "  fastcgi_temp_path " << (dir / "fastcgi").string() << ";\n"
         << "  uwsgi_temp_path " << (dir / "uwsgi").string() << ";\n"
         << "  scgi_temp_path " << (dir / "scgi").string() << ";\n"
         << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root.string() << ";\n  }\n}\n";
    conf.close();
    const std::string prefix = dir.string() + "/";
    const std::string config = (dir / "nginx.conf").string();
    const std::string errorLog = (dir / "logs" / "error.log").string();
    std::vector<std::string> args = {binary, "-p", prefix, "-c", config, "-e", errorLog};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, binary.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
  }

  ~Nginx() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = 0;
};

// Waits until `origin` answers a fetch.
bool waitForServer(const std::string& origin) {
  std::mt19937_64 random(1);
  for (int i = 0; i < 100; ++i) {
    std::string message;
    CurlHttpHost host(origin, message);
    HttpResponse response;
    Failure failure;
    if (host.fetchRange(kPath, 0, kRangeSize - 1, kRangeSize, response, failure)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int run(int count) {
  const std::string bytes = test::TestOrigin::makeBytes(kFileSize);
  std::printf("1 KiB range fetches from a 1 MiB file on 127.0.0.1, %d per mode\n", count);

  {
    test::TestOrigin origin;
    origin.addFile(kPath, bytes);
    benchServer("httplib", origin.origin(), count);
  }

  const auto dir = std::filesystem::temp_directory_path() / ("vkr_http_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "www" / "bench");
  std::ofstream(dir / "www" / "bench" / "carrier.bin", std::ios::binary) << bytes;
  int port = 0;
  {
    test::TestOrigin probe;  // an ephemeral port that was free a moment ago
    port = probe.port();
  }
  {
    Nginx nginx(dir, dir / "www", port);
    const std::string origin = "http://127.0.0.1:" + std::to_string(port);
    if (nginx.started() && waitForServer(origin)) {
      benchServer("nginx", origin, count);
    } else {
      std::printf("nginx    not available; skipped\n");
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}

}  // namespace
}  // namespace vesmara

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 3000;
  return vesmara::run(count > 0 ? count : 3000);
}
