// The libcurl transport's own cases: connection reuse as an option, the
// environment's proxies and certificate verification (the cases every
// transport shares: http_transport_test.cc).
#include "hosts/posix/curl_http_host.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "hosts/http_transport_fixture.h"

namespace vesmara::test {
namespace {

using std::chrono::milliseconds;

class CurlHostTest : public HttpTransportTest {};

TEST_F(CurlHostTest, WithoutReuseEveryFetchConnectsAnew) {
  CurlHttpOptions options = quickOptions();
  options.reuse_connections = false;
  auto host = makeHost(options);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(range(*host, "/data/file.bin", i, i + 10), "");
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 3u);
  std::set<int> ports;
  for (const auto& request : log) ports.insert(request.remotePort);
  EXPECT_EQ(ports.size(), 3u);
}

// Changes environment variables for the life of the object, then restores them.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

  void set(const char* name, const std::string& value) {
    save(name);
    setenv(name, value.c_str(), 1);
  }
  void unset(const char* name) {
    save(name);
    unsetenv(name);
  }

  // Every proxy variable libcurl reads set to `proxy`, or all of them unset.
  void proxies(const std::optional<std::string>& proxy) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
      if (proxy) {
        set(name, *proxy);
      } else {
        unset(name);
      }
    }
    unset("no_proxy");
    unset("NO_PROXY");
  }

 private:
  void save(const char* name) {
    if (saved_.count(name) != 0) return;
    const char* value = std::getenv(name);
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

size_t appendTo(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

TEST_F(CurlHostTest, DeadProxyInTheEnvironmentDoesNotAffectALoopbackOrigin) {
  std::string deadProxy;
  {
    TestOrigin gone;
    deadProxy = gone.origin();
  }
  ScopedEnvironment environment;
  environment.proxies(deadProxy);

  // A plain libcurl handle follows the environment and fails...
  CURL* plain = curl_easy_init();
  ASSERT_NE(plain, nullptr);
  const std::string url = origin_.origin() + "/data/file.bin";
  curl_easy_setopt(plain, CURLOPT_URL, url.c_str());
  curl_easy_setopt(plain, CURLOPT_NOBODY, 1L);
  const CURLcode viaProxy = curl_easy_perform(plain);
  curl_easy_cleanup(plain);
  EXPECT_EQ(viaProxy, CURLE_COULDNT_CONNECT);
  EXPECT_EQ(origin_.requestCount(), 0u);

  // ...while the transport of a loopback origin goes straight to it.
  for (const std::string& origin : {origin_.origin(), "http://localhost:" + std::to_string(origin_.port())}) {
    std::string message;
    CurlHttpHost host(origin, message, quickOptions());
    ASSERT_EQ(message, "");
    EXPECT_EQ(range(host, "/data/file.bin", 0, 1023), "") << origin;
    EXPECT_EQ(text(response_.body), file_.substr(0, 1024));
  }
  EXPECT_EQ(origin_.requestCount(), 2u);
}

// A proxy that never answers: it keeps the first request line a client left
// with it, for the test to collect.
class SilentProxy {
 public:
  SilentProxy() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 8) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentProxy() { close(listener_); }
  SilentProxy(const SilentProxy&) = delete;
  SilentProxy& operator=(const SilentProxy&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // The first line of the request a client sent since the last call, or
  // empty when no client connected.
  std::string takeRequestLine() {
    pollfd ready{listener_, POLLIN, 0};
    if (poll(&ready, 1, 0) != 1) return {};
    const int client = accept(listener_, nullptr, nullptr);
    char buffer[256];
    const ssize_t n = recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
    close(client);
    const std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.find("\r\n"));
  }

 private:
  int listener_ = -1;
  int port_ = 0;
};

TEST(CurlHostProxy, LoopbackOriginsNeverUseTheEnvironmentsProxyOthersDo) {
  // The environment changes before anything in this test starts a thread.
  ScopedEnvironment environment;
  SilentProxy proxy;
  environment.proxies(proxy.url());
  // A port that refuses connections: reached directly, every fetch fails at once.
  const int unlistened = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(unlistened, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(unlistened, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  struct Case {
    std::string origin;
    std::string proxy_saw;
  };
  const Case cases[] = {
      {"https://127.0.0.1:" + port, ""},
      {"https://localhost:" + port, ""},
      {"https://LocalHost:" + port, ""},
      {"http://127.0.0.1:" + port, ""},
      {"https://proxied.invalid", "CONNECT proxied.invalid:443 HTTP/1.1"},
  };
  CurlHttpOptions options = quickOptions();
  options.connect_timeout = milliseconds(500);  // the silent proxy never answers the tunnel request
  for (const Case& c : cases) {
    std::string message;
    CurlHttpHost host(c.origin, message, options);
    ASSERT_EQ(message, "") << c.origin;
    HttpResponse response;
    Failure failure;
    EXPECT_FALSE(host.fetchWhole("/data/file.bin", 100, response, failure)) << c.origin;
    EXPECT_EQ(failure.message, "HTTP send failed or cancelled") << c.origin;
    EXPECT_EQ(proxy.takeRequestLine(), c.proxy_saw) << c.origin;
  }
  close(unlistened);
}

TEST(CurlHostTls, CertificateIsVerifiedAgainstTheSystemTrustStore) {
  ScopedEnvironment environment;
  environment.proxies(std::nullopt);
  TestOrigin tls(TestOrigin::Scheme::Https);  // self-signed: trusted by nobody
  tls.addFile("/data/file.bin", "0123456789");

  // The server works: a client that skips verification gets the file.
  std::string body;
  CURL* unverified = curl_easy_init();
  ASSERT_NE(unverified, nullptr);
  const std::string url = tls.origin() + "/data/file.bin";
  curl_easy_setopt(unverified, CURLOPT_URL, url.c_str());
  curl_easy_setopt(unverified, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(unverified, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(unverified, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(appendTo));
  curl_easy_setopt(unverified, CURLOPT_WRITEDATA, &body);
  EXPECT_EQ(curl_easy_perform(unverified), CURLE_OK);
  curl_easy_cleanup(unverified);
  EXPECT_EQ(body, "0123456789");

  // The transport verifies, and refuses the certificate during the handshake.
  std::string message;
  CurlHttpHost host(tls.origin(), message, quickOptions());
  ASSERT_TRUE(host.origin().secure);
  HttpResponse response;
  Failure failure;
  EXPECT_FALSE(host.fetchWhole("/data/file.bin", 100, response, failure));
  EXPECT_EQ(failure.message, "HTTP send failed or cancelled");
  EXPECT_TRUE(response.body.empty());
  EXPECT_EQ(tls.requestCount(), 1u);  // only the unverified client's request was answered
}

}  // namespace
}  // namespace vesmara::test
