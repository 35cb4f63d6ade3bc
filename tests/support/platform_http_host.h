// The library's own HTTP client of this build, for tests that fetch from a
// test origin through it.
#ifndef VESMARA_TESTS_SUPPORT_PLATFORM_HTTP_HOST_H_
#define VESMARA_TESTS_SUPPORT_PLATFORM_HTTP_HOST_H_

#ifdef _WIN32
#include "hosts/windows/windows_http_host.h"
namespace vesmara::test {
using PlatformHttpHost = WindowsHttpHost;
}
#else
#include "hosts/posix/curl_http_host.h"
namespace vesmara::test {
using PlatformHttpHost = CurlHttpHost;
}
#endif

#endif  // VESMARA_TESTS_SUPPORT_PLATFORM_HTTP_HOST_H_
