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

  bool decode(std::string_view codec, std::span<const std::uint8_t> carrier, const AudioCarrier* audio,
              CryptoHost& crypto, std::vector<std::uint8_t>& output, std::string& message) override {
    output.clear();
    if (codec == kCodecWav4Fsk1) {
      if (audio == nullptr) {
        message = "Missing audio carrier metadata";
        return false;
      }
      return recoverAudioCarrier(carrier, *audio, crypto, output, message);
    }
    using Reader = bool (*)(const RgbaImage&, CryptoHost&, std::vector<std::uint8_t>&, std::string&);
    Reader reader = nullptr;
    if (codec == kCodecPngLsb1) reader = readPixelPayload;
    if (codec == kCodecFrameLuma1) reader = readLegacyFrame;
    if (codec == kCodecFrameLuma2) reader = readSparseFrame;
    if (reader == nullptr) {
      // A fixed text that callers compare, worded for the first platform adapter.
      message = "Media codec is not supported by the Windows adapter";
      return false;
    }
    RgbaImage image;
    return decodePngCarrier(carrier, *png_, image, message) && reader(image, crypto, output, message);
  }

 private:
  std::unique_ptr<PngDecoder> png_;
};

}  // namespace

std::unique_ptr<MediaDecoder> makeMediaDecoder(std::unique_ptr<PngDecoder> png) {
  return std::make_unique<CarrierMediaDecoder>(std::move(png));
}

}  // namespace vesmara
