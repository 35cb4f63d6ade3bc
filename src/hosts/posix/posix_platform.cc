// The platform of the Linux build: libcurl, OpenSSL, libspng and POSIX files.
#include "hosts/platform.h"
#include "hosts/posix/curl_http_host.h"
#include "hosts/posix/openssl_crypto_host.h"
#include "hosts/posix/posix_file_output.h"
#include "hosts/posix/spng_png_decoder.h"

namespace vesmara {
namespace {

class PosixPlatform final : public Platform {
 public:
  std::unique_ptr<HttpHost> makeHttpHost(std::string_view origin, std::string& message) override {
    auto host = std::make_unique<CurlHttpHost>(origin, message);
    if (!host->originValid()) return nullptr;
    return host;
  }

  std::unique_ptr<CryptoHost> makeCryptoHost() override { return std::make_unique<OpenSslCryptoHost>(); }

  std::unique_ptr<PngDecoder> makePngDecoder() override { return std::make_unique<SpngPngDecoder>(); }

  std::unique_ptr<FileOutput> makeFileOutput(std::string_view destination, std::string& message) override {
    return std::make_unique<PosixFileOutput>(destination, message);
  }
};

}  // namespace

Platform& defaultPlatform() {
  // Never destroyed: handles released during process exit may still use it.
  static PosixPlatform* const kPlatform = new PosixPlatform();
  return *kPlatform;
}

}  // namespace vesmara
