// A real web server for end-to-end tests: nginx serving a directory on a
// free port of 127.0.0.1, started by the test and stopped with it. Needs no
// root privileges (one process, no user switch, everything under a private
// working directory).
#ifndef VESMARA_TESTS_SUPPORT_NGINX_SERVER_H_
#define VESMARA_TESTS_SUPPORT_NGINX_SERVER_H_

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace vesmara::test {

class NginxServer {
 public:
  // Serves `root`. Check started() (and error()) before use.
  explicit NginxServer(const std::filesystem::path& root);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool started() const { return pid_ > 0; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Stops the server at once (a server killed mid-transfer).
  void kill();

 private:
  TempDir work_{"vkr-nginx"};
  pid_t pid_ = -1;
  int port_ = 0;
  std::string error_;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_NGINX_SERVER_H_
