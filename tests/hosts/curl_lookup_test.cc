// A host-name lookup that never ends, against the libcurl transport: the
// fetch must still end at once when cancelled or when the connect limit
// passes, and the lookup's thread must end by itself once the system's
// lookup does.
//
// The program runs in network and mount namespaces of its own (set up by
// main() before any thread starts): there the name server is a UDP socket
// of the test on 127.0.0.1:53 that takes queries and answers only when told,
// and /etc/resolv.conf names it with a 30 s time-out.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "hosts/posix/curl_http_host.h"
#include "support/private_namespace.h"
#include "support/temp_dir.h"

namespace vesmara {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The name server of the namespace: queries arrive, answers come only from
// answerEverything().
class SilentNameServer {
 public:
  // Makes the namespaces and the server; from main(), before any thread
  // starts. A failure is recorded: the tests then skip.
  static void setUp() {
    if (!make(reason_)) instance_.reset();
  }
  static SilentNameServer* get() { return instance_.get(); }
  static const std::string& unavailableReason() { return reason_; }

  // Waits for a query to arrive without taking it.
  bool waitForQuery(milliseconds timeout) {
    pollfd ready{fd_, POLLIN, 0};
    return poll(&ready, 1, static_cast<int>(timeout.count())) == 1;
  }

  // Answers every query ("no such name") until `done` holds; false when it
  // still does not after `timeout`.
  template <typename Condition>
  bool answerEverythingUntil(Condition done, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 20) != 1) continue;
      unsigned char query[512];
      sockaddr_in client{};
      socklen_t length = sizeof client;
      const ssize_t n = recvfrom(fd_, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&client), &length);
      if (n < 12) continue;
      query[2] |= 0x80;                                              // a response
      query[3] = static_cast<unsigned char>((query[3] & 0xF0) | 3);  // NXDOMAIN
      sendto(fd_, query, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&client), length);
    }
    return true;
  }

  ~SilentNameServer() { close(fd_); }

 private:
  explicit SilentNameServer(int fd) : fd_(fd) {}
  static bool make(std::string& reason);

  static inline std::unique_ptr<SilentNameServer> instance_;
  static inline std::string reason_ = "the name server set-up did not run";
  static inline std::unique_ptr<test::TempDir> files_;
  int fd_;
};

bool SilentNameServer::make(std::string& reason) {
  if (!test::enterPrivateNamespaces(/*network=*/true, reason)) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    reason = "cannot bind 127.0.0.1:53 in the namespace";
    if (fd >= 0) close(fd);
    return false;
  }
  instance_.reset(new SilentNameServer(fd));
  files_ = std::make_unique<test::TempDir>("vkr-resolver");
  const auto resolv = files_->path() / "resolv.conf";
  const auto nsswitch = files_->path() / "nsswitch.conf";
  std::ofstream(resolv) << "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n";
  std::ofstream(nsswitch) << "hosts: files dns\n";
  if (!test::mountOver(resolv, "/etc/resolv.conf", reason) ||
      !test::mountOver(nsswitch, "/etc/nsswitch.conf", reason) || !test::dropNamespaceCapabilities(reason)) {
    return false;
  }
  return true;
}

// The threads of this process, as the kernel counts them.
int threadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

// Well below the resolver's 30 s, with room for a loaded sanitizer run.
constexpr auto kPrompt = std::chrono::seconds(5);

TEST(CurlLookupTest, AHangingLookupEndsTheFetchAtOnce) {
  SilentNameServer* server = SilentNameServer::get();
  if (server == nullptr) GTEST_SKIP() << SilentNameServer::unavailableReason();
  const struct {
    const char* name;
    bool cancel;
    milliseconds connect_timeout;
  } cases[] = {
      {"cancelled during the lookup", true, milliseconds(30000)},
      {"the connect limit passes during the lookup", false, milliseconds(300)},
  };
  // A sanitizer's runtime starts a thread of its own with the first thread
  // of the program: that happens now, not while the lookup threads are
  // counted.
  std::thread([] {}).join();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int threads_before = threadCount();
    CurlHttpOptions options;
    options.connect_timeout = c.connect_timeout;
    std::string message;
    CurlHttpHost host("https://lookup-" + std::to_string(++n) + ".test", message, options);
    ASSERT_EQ(message, "");
    HttpResponse response;
    Failure failure;
    Clock::time_point ended;
    std::thread fetcher([&] {
      host.fetchWhole("/favicon.ico", 1000, response, failure);
      ended = Clock::now();
    });
    ASSERT_TRUE(server->waitForQuery(std::chrono::seconds(20)));
    const auto asked = Clock::now();
    if (c.cancel) host.cancel();
    fetcher.join();
    EXPECT_LT(ended - asked, kPrompt);
    EXPECT_EQ(failure.message, "HTTP send failed or cancelled");
    EXPECT_EQ(failure.kind, c.cancel ? FailureKind::Cancelled : FailureKind::Transport);
    EXPECT_TRUE(response.body.empty());
    // The lookup is answered at last: its thread ends by itself.
    EXPECT_TRUE(
        server->answerEverythingUntil([&] { return threadCount() == threads_before; }, std::chrono::seconds(20)));
  }
}

}  // namespace
}  // namespace vesmara

// Enters the namespaces before GoogleTest or anything else starts a thread.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(list_tests)) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(name);
    }
    vesmara::SilentNameServer::setUp();
  }
  return RUN_ALL_TESTS();
}
