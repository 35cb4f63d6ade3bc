// The library's own HTTP client of this build, for tests that fetch from a
// test origin through it: libcurl on Linux, WinHTTP on Windows. Both take
// the same options (a connect time-out and the transfer limits).
#ifndef VESMARA_TESTS_SUPPORT_PLATFORM_HTTP_HOST_H_
#define VESMARA_TESTS_SUPPORT_PLATFORM_HTTP_HOST_H_

#include <map>
#include <string>

#ifdef _WIN32
#include "hosts/windows/windows_http_host.h"
namespace vesmara::test {
using PlatformHttpHost = WindowsHttpHost;
using PlatformHttpOptions = WindowsHttpOptions;
// The request fields the transport adds beside Host.
inline const std::map<std::string, std::string> kPlatformRequestFields = {{"Connection", "Keep-Alive"}};
}  // namespace vesmara::test
#else
#include "hosts/posix/curl_http_host.h"
namespace vesmara::test {
using PlatformHttpHost = CurlHttpHost;
using PlatformHttpOptions = CurlHttpOptions;
inline const std::map<std::string, std::string> kPlatformRequestFields = {};
}  // namespace vesmara::test
#endif

#endif  // VESMARA_TESTS_SUPPORT_PLATFORM_HTTP_HOST_H_
