// The Windows platform: WinHTTP, BCrypt, the Windows Imaging Component and
// Win32 files.
#ifndef VESMARA_HOSTS_WINDOWS_WINDOWS_PLATFORM_H_
#define VESMARA_HOSTS_WINDOWS_WINDOWS_PLATFORM_H_

#include "hosts/platform.h"

namespace vesmara {

class WindowsPlatform final : public Platform {
 public:
  WindowsPlatform() = default;
  std::unique_ptr<HttpHost> makeHttpHost(std::string_view origin, std::string& message) override;
  std::unique_ptr<CryptoHost> makeCryptoHost() override;
  std::unique_ptr<PngDecoder> makePngDecoder() override;
  std::unique_ptr<FileOutput> makeFileOutput(std::string_view destination, std::string& message) override;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_WINDOWS_WINDOWS_PLATFORM_H_
