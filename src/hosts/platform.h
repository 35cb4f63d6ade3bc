// The platform seam: one object that makes every host a handle needs.
//
// The core never names a platform library. A site or game handle takes a
// Platform at creation and asks it for its transport, its crypto provider,
// its PNG decoder and, per download, its file sink. Each build links exactly
// one default platform (src/hosts/posix/ or src/hosts/windows/); tests hand
// the handles a platform of their own that wraps the default one and makes
// chosen operations fail.
#ifndef VESMARA_HOSTS_PLATFORM_H_
#define VESMARA_HOSTS_PLATFORM_H_

#include <memory>
#include <string>
#include <string_view>

#include "hosts/crypto_host.h"
#include "hosts/file_output.h"
#include "hosts/http_host.h"
#include "hosts/png_codec.h"

namespace vesmara {

// Every operation may be called from any thread; a platform holds no state
// that one handle could change for another. Every operation throws only
// std::bad_alloc.
class Platform {
 public:
  virtual ~Platform() = default;

  // The platform's own HTTP client for `origin`, after the origin policy. A
  // refused origin gives null with the policy's message in `message`
  // (emptied otherwise). No network activity.
  virtual std::unique_ptr<HttpHost> makeHttpHost(std::string_view origin, std::string& message) = 0;

  // The crypto provider. Never null.
  virtual std::unique_ptr<CryptoHost> makeCryptoHost() = 0;

  // The PNG decoder the media carriers use. Never null.
  virtual std::unique_ptr<PngDecoder> makePngDecoder() = 0;

  // The file sink for `destination`, the destination's UTF-8 text. Never
  // null; a bad destination gives a sink that is not open, with the reason
  // in `message` (emptied on success).
  virtual std::unique_ptr<FileOutput> makeFileOutput(std::string_view destination, std::string& message) = 0;

 protected:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
};

// The platform this build was made for; it lives as long as the process.
Platform& defaultPlatform();

}  // namespace vesmara

#endif  // VESMARA_HOSTS_PLATFORM_H_
