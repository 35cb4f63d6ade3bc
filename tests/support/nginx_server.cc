#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace vesmara::test {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

// A port the kernel just gave out and took back: free for the server to bind.
int pickFreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

NginxServer::NginxServer(const std::filesystem::path& root, Protocol protocol, ServerCertificate certificate)
    : root_(std::filesystem::absolute(root)), protocol_(protocol), certificate_(certificate) {
  if (access(kNginx, X_OK) != 0) {
    error_ = std::string(kNginx) + " is missing (scripts/setup-deps installs it)";
    return;
  }
  port_ = pickFreePort();
  start();
}

void NginxServer::start() {
  std::string listen = "listen 127.0.0.1:" + std::to_string(port_);
  if (protocol_ == Protocol::Https) {
    const TestTls* tls = TestTls::get();
    if (tls == nullptr) {
      error_ = "no test certificates: " + TestTls::unavailableReason();
      return;
    }
    const TlsFiles& files = tls->server(certificate_);
    listen += " ssl http2;\n    ssl_certificate " + files.certificate.string() + ";\n    ssl_certificate_key " +
              files.key.string();
  }
  const std::string work = work_.path().string();
  std::ofstream(work_.path() / "nginx.conf") << configuration(work, listen, root_.string());
  const std::string config = (work_.path() / "nginx.conf").string();
  const std::string error_log = (work_.path() / "error.log").string();
  std::vector<char*> argv = {const_cast<char*>(kNginx),
                             const_cast<char*>("-c"),
                             const_cast<char*>(config.c_str()),
                             const_cast<char*>("-p"),
                             const_cast<char*>(work.c_str()),
                             const_cast<char*>("-e"),
                             const_cast<char*>(error_log.c_str()),
                             nullptr};
  if (posix_spawn(&pid_, kNginx, nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    error_ = "cannot start nginx";
    return;
  }
  // Generous: on a loaded machine the server may take seconds to listen.
  // A server that exited (a bad configuration, a taken port) is not waited for.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int status = 0;
  while (!accepts(port_) && std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (pid_ <= 0 || !accepts(port_)) {
    error_ = "nginx did not start; see " + error_log;
    kill();
  }
}

void NginxServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

NginxServer::~NginxServer() { kill(); }

}  // namespace vesmara::test
