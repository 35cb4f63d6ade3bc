// The site publisher's media encoder: hides a file's stored parts in a
// carrier of the codec the file asks for.
#ifndef VESMARA_PUBLISH_MEDIA_MEDIA_ENCODER_H_
#define VESMARA_PUBLISH_MEDIA_MEDIA_ENCODER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "hosts/crypto_host.h"
#include "publish/media/audio_writer.h"
#include "publish/site_builder.h"

namespace vesmara::publish {

struct MediaOptions {
  std::vector<std::uint8_t> cover;  // png-lsb1: a PNG to hide payloads in; empty: a generated one
  std::uint32_t frame_width = 256;  // frame-luma1 and frame-luma2 frames
  std::uint32_t frame_height = 128;
  AudioCarrierLayout audio;  // wav-4fsk1
};

// An encoder for SiteOptions::media_encoder that writes every codec the
// library reads. `crypto` must outlive it.
std::shared_ptr<MediaEncoder> makeMediaEncoder(CryptoHost& crypto, MediaOptions options = {});

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_MEDIA_MEDIA_ENCODER_H_
