#include "publish/media/media_encoder.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "hosts/platform.h"
#include "index/index_format.h"
#include "media/audio_format.h"
#include "media/frame_format.h"
#include "media/pixel_payload_format.h"
#include "publish/media/frame_writer.h"
#include "publish/media/pixel_carrier_writer.h"

namespace vesmara::publish {
namespace {

class CarrierEncoder : public MediaEncoder {
 public:
  CarrierEncoder(CryptoHost& crypto, MediaOptions options) : crypto_(crypto), options_(std::move(options)) {}

  std::uint64_t capacity(std::string_view codec) override {
    if (codec == kCodecPngLsb1) return pixelCapacity();
    if (codec == kCodecFrameLuma1 || codec == kCodecFrameLuma2) return frame::kMaxPayloadLength;
    if (codec == kCodecWav4Fsk1) return audio::kMaxPayloadLength;
    return 0;
  }

  bool encode(std::string_view codec, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& carrier,
              AudioCarrier& audio, Failure& failure) override {
    if (codec == kCodecPngLsb1) return writePixelCarrier(crypto_, payload, options_.cover, carrier, failure);
    if (codec == kCodecFrameLuma1 || codec == kCodecFrameLuma2) {
      return writeFrameCarrier(crypto_, codec, payload, options_.frame_width, options_.frame_height, carrier, failure);
    }
    if (codec == kCodecWav4Fsk1) return writeAudioCarrier(crypto_, payload, options_.audio, carrier, audio, failure);
    return failure.fail(FailureKind::InvalidData, "unknown media codec " + std::string(codec));
  }

 private:
  // A cover of the publisher's own carries what its opaque pixels hold. One
  // that cannot carry anything is given the format's bound, so that its
  // first carrier is refused with the reason.
  std::uint64_t pixelCapacity() {
    if (options_.cover.empty()) return kGeneratedCoverCapacity;
    if (!cover_capacity_) {
      RgbaImage image;
      Failure failure;
      cover_capacity_ = pixel_payload::kMaxPayloadLength;
      if (decodePngCarrier(options_.cover, *defaultPlatform().makePngDecoder(), image, failure)) {
        const std::uint64_t slots = pixel_payload::PixelSlots(image.pixels).count();
        if (slots >= pixel_payload::kMinSlots && slots / 8 > pixel_payload::kHeaderLength) {
          cover_capacity_ = std::min(slots / 8 - pixel_payload::kHeaderLength, pixel_payload::kMaxPayloadLength);
        }
      }
    }
    return *cover_capacity_;
  }

  CryptoHost& crypto_;
  MediaOptions options_;
  std::optional<std::uint64_t> cover_capacity_;
};

}  // namespace

std::shared_ptr<MediaEncoder> makeMediaEncoder(CryptoHost& crypto, MediaOptions options) {
  return std::make_shared<CarrierEncoder>(crypto, std::move(options));
}

}  // namespace vesmara::publish
