#include "publish/media/media_encoder.h"

#include <string>
#include <utility>

#include "index/index_format.h"
#include "publish/media/frame_writer.h"
#include "publish/media/pixel_carrier_writer.h"

namespace vesmara::publish {

MediaEncoder makeMediaEncoder(CryptoHost& crypto, MediaOptions options) {
  return [&crypto, options = std::move(options)](std::string_view codec, std::span<const std::uint8_t> payload,
                                                 std::vector<std::uint8_t>& carrier, AudioCarrier& audio,
                                                 Failure& failure) {
    if (codec == kCodecPngLsb1) return writePixelCarrier(crypto, payload, options.cover, carrier, failure);
    if (codec == kCodecFrameLuma1 || codec == kCodecFrameLuma2) {
      return writeFrameCarrier(crypto, codec, payload, options.frame_width, options.frame_height, carrier, failure);
    }
    if (codec == kCodecWav4Fsk1) return writeAudioCarrier(crypto, payload, options.audio, carrier, audio, failure);
    return failure.fail(FailureKind::InvalidData, "unknown media codec " + std::string(codec));
  };
}

}  // namespace vesmara::publish
