// The contract of media carriers: files the site serves (PNG images, WAV
// recordings) that hide a part's stored bytes, turned back into the payload
// they carry.
#ifndef VESMARA_MEDIA_MEDIA_DECODER_H_
#define VESMARA_MEDIA_MEDIA_DECODER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "hosts/png_codec.h"
#include "index/site_index.h"

namespace vesmara {

// Stateless: one instance serves any number of decodes, one at a time or
// from several threads. The virtual operations keep this slot order:
// destructor, decode.
class MediaDecoder {
 public:
  virtual ~MediaDecoder() = default;

  // Decodes the payload `carrier` hides under `codec` (the part's codec text,
  // compared byte for byte). `audio` is the index's metadata for the
  // carrier's path, or null (only the audio codec needs it). `output` is
  // emptied at entry and holds the payload on success; on failure `failure`
  // holds the reason, always as Integrity (the site served a carrier that
  // does not hold what its index promises), and `output` means nothing. Throws only std::bad_alloc.
  virtual bool decode(std::string_view codec, std::span<const std::uint8_t> carrier, const AudioCarrier* audio,
                      CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure) = 0;

 protected:
  MediaDecoder() = default;
  MediaDecoder(const MediaDecoder&) = delete;
  MediaDecoder& operator=(const MediaDecoder&) = delete;
};

// The decoder with every codec the library knows; PNG carriers are decoded
// with `png`, the platform's decoder.
std::unique_ptr<MediaDecoder> makeMediaDecoder(std::unique_ptr<PngDecoder> png);

}  // namespace vesmara

#endif  // VESMARA_MEDIA_MEDIA_DECODER_H_
