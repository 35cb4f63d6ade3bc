#include "hosts/windows/windows_platform.h"

#include "hosts/windows/wic_png_decoder.h"
#include "hosts/windows/windows_crypto_host.h"
#include "hosts/windows/windows_file_output.h"
#include "hosts/windows/windows_http_host.h"

namespace vesmara {

std::unique_ptr<HttpHost> WindowsPlatform::makeHttpHost(std::string_view origin, std::string& message) {
  auto host = std::make_unique<WindowsHttpHost>(origin, message);
  if (!host->originValid()) return nullptr;
  return host;
}

std::unique_ptr<CryptoHost> WindowsPlatform::makeCryptoHost() { return std::make_unique<WindowsCryptoHost>(); }

std::unique_ptr<PngDecoder> WindowsPlatform::makePngDecoder() { return std::make_unique<WicPngDecoder>(); }

std::unique_ptr<FileOutput> WindowsPlatform::makeFileOutput(std::string_view destination, std::string& message) {
  return std::make_unique<WindowsFileOutput>(destination, message);
}

Platform& defaultPlatform() {
  // Stateless, so one instance serves every handle; never destroyed, so no
  // handle released during process exit can outlive it.
  static WindowsPlatform* const platform = new WindowsPlatform();
  return *platform;
}

}  // namespace vesmara
