#include "media/media_decoder.h"

#include "index/index_format.h"
#include "media/audio_carrier.h"
#include "media/frame_payload.h"
#include "media/pixel_payload.h"
#include "media/png_carrier.h"

namespace vesmara {
namespace {

// Every codec the library knows, dispatched by exact comparison of the
// codec text before the carrier is looked at. Only the PNG decoding behind
// decodePngCarrier is a platform service.
class CarrierMediaDecoder final : public MediaDecoder {
 public:
  explicit CarrierMediaDecoder(std::unique_ptr<PngDecoder> png) : png_(std::move(png)) {}

  // A carrier that the index names but that does not give the payload back
  // is a fault of the site, whatever the step that found it.
  bool decode(std::string_view codec, std::span<const std::uint8_t> carrier, const AudioCarrier* audio,
              CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure) override {
    if (decodeCarrier(codec, carrier, audio, crypto, output, failure)) return true;
    failure.kind = FailureKind::Integrity;
    return false;
  }

 private:
  bool decodeCarrier(std::string_view codec, std::span<const std::uint8_t> carrier, const AudioCarrier* audio,
                     CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure) {
    output.clear();
    if (codec == kCodecWav4Fsk1) {
      if (audio == nullptr) {
        return failure.fail(FailureKind::InvalidData, "Missing audio carrier metadata");
      }
      return recoverAudioCarrier(carrier, *audio, crypto, output, failure);
    }
    using Reader = bool (*)(const RgbaImage&, CryptoHost&, std::vector<std::uint8_t>&, Failure&);
    Reader reader = nullptr;
    if (codec == kCodecPngLsb1) reader = readPixelPayload;
    if (codec == kCodecFrameLuma1) reader = readLegacyFrame;
    if (codec == kCodecFrameLuma2) reader = readSparseFrame;
    if (reader == nullptr) {
      // A fixed text that callers compare, worded for the first platform adapter.
      return failure.fail(FailureKind::InvalidData, "Media codec is not supported by the Windows adapter");
    }
    RgbaImage image;
    return decodePngCarrier(carrier, *png_, image, failure) && reader(image, crypto, output, failure);
  }

  std::unique_ptr<PngDecoder> png_;
};

}  // namespace

std::unique_ptr<MediaDecoder> makeMediaDecoder(std::unique_ptr<PngDecoder> png) {
  return std::make_unique<CarrierMediaDecoder>(std::move(png));
}

}  // namespace vesmara
