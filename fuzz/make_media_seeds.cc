// Writes the seed corpora of the media fuzz targets with the publisher's
// media writers: make_media_seeds DIRECTORY (normally fuzz/corpus).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hosts/platform.h"
#include "hosts/png_codec.h"
#include "media_seeds.h"
#include "publish/media/frame_writer.h"
#include "publish/media/pixel_carrier_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool check(bool ok, const std::string& what) {
  if (!ok) std::fprintf(stderr, "make_media_seeds: %s failed\n", what.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_media_seeds DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
  vesmara::Failure failure;

  Bytes wav;
  vesmara::AudioCarrier carrier;
  if (!check(vesmara::fuzz::makeSeedAudioCarrier(*crypto, wav, carrier), "audio carrier")) return 1;
  writeFile(out / "wav_carrier" / "carrier.wav", wav);

  const std::array<std::uint8_t, 32> key = vesmara::fuzz::seedTransportKey();
  vesmara::publish::TransportLayout layout{.format = {16000, 8, 1}, .lead_seconds = 0.005};
  layout.nonce.emplace().fill(7);
  if (!check(vesmara::publish::writeTransportRecording(*crypto, key, Bytes{'h', 'i'}, layout, wav, failure),
             failure.message)) {
    return 1;
  }
  writeFile(out / "audio_transport" / "message.wav", wav);

  Bytes png;
  if (!check(vesmara::publish::writePixelCarrier(*crypto, Bytes(40, 'p'), {}, png, failure), failure.message)) return 1;
  writeFile(out / "png_carriers" / "pixels.png", png);
  for (const char* codec : {"frame-luma1", "frame-luma2"}) {
    if (!check(vesmara::publish::writeFrameCarrier(*crypto, codec, Bytes(21, 'f'), 256, 128, png, failure),
               failure.message)) {
      return 1;
    }
    writeFile(out / "png_carriers" / (std::string(codec) + ".png"), png);
  }
  // A palette image with transparency: the decoder's other colour paths.
  vesmara::PngEncoding palette{.width = 16,
                               .height = 16,
                               .colour_type = vesmara::PngColourType::Palette,
                               .bit_depth = 4,
                               .palette = Bytes(48, 90),
                               .transparency = {0, 128, 255}};
  if (!check(vesmara::encodePng(palette, Bytes(128, 0x12), png), "palette PNG")) return 1;
  writeFile(out / "png_carriers" / "palette.png", png);
  return 0;
}
