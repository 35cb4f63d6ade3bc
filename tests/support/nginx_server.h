// A real web server for end-to-end tests: nginx serving a directory on a
// free port of 127.0.0.1, started by the test and stopped with it. Needs no
// root privileges (one process, no user switch, everything under a private
// working directory). Over HTTPS it presents one of the test certificates
// (test_tls.h) and offers HTTP/2 besides HTTP/1.1. The server block
// includes examples/nginx/vkr-origin.conf, the configuration the project
// ships for origins.
#ifndef VESMARA_TESTS_SUPPORT_NGINX_SERVER_H_
#define VESMARA_TESTS_SUPPORT_NGINX_SERVER_H_

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "support/test_tls.h"

namespace vesmara::test {

class NginxServer {
 public:
  // Serves `root` over `protocol`, presenting `certificate` over HTTPS.
  // Check started() (and error()) before use; HTTPS needs TestTls::get().
  explicit NginxServer(const std::filesystem::path& root, Protocol protocol = Protocol::Http,
                       ServerCertificate certificate = ServerCertificate::Trusted);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool started() const { return pid_ > 0; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  // "http://HOST:PORT" or "https://HOST:PORT"; the test certificates name
  // both 127.0.0.1 and localhost.
  std::string origin(const std::string& host = "127.0.0.1") const;

  // Stops the server at once (a server killed mid-transfer).
  void kill();
  // Stops the server and starts it again on the same port, presenting
  // `certificate` from now on. False (see error()) when it did not start.
  bool restart(ServerCertificate certificate);

 private:
  void start();
  // The configuration file of a server whose files go to `work` (a path
  // nginx reads), listening as `listen` says and serving `root`.
  static std::string configuration(const std::string& work, const std::string& listen, const std::string& root);

  const std::filesystem::path root_;
  const Protocol protocol_;
  ServerCertificate certificate_;
  TempDir work_{"vkr-nginx"};
  pid_t pid_ = -1;
  int port_ = 0;
  std::string error_;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_NGINX_SERVER_H_
