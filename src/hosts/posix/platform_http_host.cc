// The platform HTTP client of this build: libcurl.
#include "hosts/http_host.h"
#include "hosts/posix/curl_http_host.h"

namespace vesmara {

std::unique_ptr<HttpHost> makePlatformHttpHost(std::string_view origin, std::string& message) {
  auto host = std::make_unique<CurlHttpHost>(origin, message);
  if (!host->originValid()) return nullptr;
  return host;
}

}  // namespace vesmara
