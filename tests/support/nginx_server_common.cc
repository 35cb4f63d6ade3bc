// What NginxServer does the same way on Linux (nginx_server.cc) and under
// Wine (nginx_server_wine.cc).
#include <sstream>

#include "support/nginx_server.h"

namespace vesmara::test {

std::string NginxServer::origin(const std::string& host) const {
  return (protocol_ == Protocol::Https ? "https://" : "http://") + host + ":" + std::to_string(port_);
}

bool NginxServer::restart(ServerCertificate certificate) {
  kill();
  certificate_ = certificate;
  error_.clear();
  start();
  return started();
}

std::string NginxServer::configuration(const std::string& work, const std::string& listen, const std::string& root) {
  std::ostringstream config;
  config << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << work << "/nginx.pid;\n"
         << "error_log " << work << "/error.log;\nevents { worker_connections 256; }\nhttp {\n"
         << "  access_log off;\n  client_body_temp_path " << work << "/body;\n  proxy_temp_path " << work
         << "/proxy;\n  fastcgi_temp_path " << work << "/fastcgi;\n  uwsgi_temp_path " << work << "/uwsgi;\n"
         << "  scgi_temp_path " << work << "/scgi;\n  types { }\n  default_type application/octet-stream;\n"
         << "  server {\n    " << listen << ";\n    root " << root << ";\n    include " << VKR_NGINX_ORIGIN_CONF
         << ";\n  }\n}\n";
  return config.str();
}

}  // namespace vesmara::test
