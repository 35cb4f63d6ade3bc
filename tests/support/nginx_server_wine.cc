// NginxServer for the Windows test programs, which run under Wine: nginx is
// a Linux program, and Wine starts a Linux executable named by its Z: path
// as a plain Linux process (without a process handle). A shell started that
// way records nginx's process number, detaches it from the test's output,
// and a second shell stops it.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h first: it replaces the socket parts of windows.h.
#include <windows.h>

#include <array>
#include <chrono>
#include <fstream>
#include <thread>

#include "support/nginx_server.h"

namespace vesmara::test {
namespace {

constexpr const wchar_t* kNginx = L"Z:\\usr\\sbin\\nginx";
constexpr const wchar_t* kShell = L"Z:\\bin\\sh";

struct Winsock {
  Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port the system just gave out and took back: free for the server to bind.
int pickFreePort() {
  const SOCKET fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = loopback(0);
  int length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  closesocket(fd);
  return port;
}

bool accepts(int port) {
  const SOCKET fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in address = loopback(port);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  closesocket(fd);
  return ok;
}

// The Linux path of a Windows path, through Wine's own conversion; empty
// when not running under Wine.
std::string unixPath(const std::filesystem::path& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return {};
  char* converted = convert(std::filesystem::absolute(path).wstring().c_str());
  if (converted == nullptr) return {};
  std::string result(converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return result;
}

// Runs `script` with the Linux shell; Wine gives no handle to wait on.
bool runShell(const std::string& script) {
  std::wstring command = L"sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(kShell, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  return true;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

NginxServer::NginxServer(const std::filesystem::path& root, Protocol protocol, ServerCertificate certificate)
    : root_(std::filesystem::absolute(root)), protocol_(protocol), certificate_(certificate) {
  static Winsock winsock;
  if (GetFileAttributesW(kNginx) == INVALID_FILE_ATTRIBUTES) {
    error_ = "/usr/sbin/nginx is missing (scripts/setup-deps installs it)";
    return;
  }
  port_ = pickFreePort();
  start();
}

void NginxServer::start() {
  if (protocol_ == Protocol::Https) {
    error_ = "no test certificates: " + TestTls::unavailableReason();
    return;
  }
  const std::string work = unixPath(work_.path());
  const std::string served = unixPath(root_);
  if (work.empty() || served.empty()) {
    error_ = "nginx runs as a Linux process, which needs Wine";
    return;
  }
  std::ofstream(work_.path() / "nginx.conf")
      << configuration(work, "listen 127.0.0.1:" + std::to_string(port_), served);
  const std::string pid_file = work + "/shell.pid";
  std::filesystem::remove(work_.path() / "shell.pid");
  if (!runShell("echo $$ > " + quoted(pid_file) + "; exec /usr/sbin/nginx -c " + quoted(work + "/nginx.conf") + " -p " +
                quoted(work) + " -e " + quoted(work + "/error.log") + " </dev/null >/dev/null 2>&1")) {
    error_ = "cannot start nginx";
    return;
  }
  for (int i = 0; i < 300 && !accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream(work_.path() / "shell.pid") >> pid_;
  if (pid_ <= 0 || !accepts(port_)) {
    error_ = "nginx did not start; see " + work + "/error.log";
    kill();
  }
}

void NginxServer::kill() {
  if (pid_ <= 0) return;
  runShell("kill -9 " + std::to_string(pid_));
  for (int i = 0; i < 300 && accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  pid_ = -1;
}

NginxServer::~NginxServer() { kill(); }

}  // namespace vesmara::test
