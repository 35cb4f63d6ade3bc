// Writes the seed corpora of the media fuzz targets with the publisher's
// media writers: make_media_seeds DIRECTORY (normally fuzz/corpus).
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/byte_writer.h"
#include "hosts/platform.h"
#include "hosts/png_codec.h"
#include "media_seeds.h"
#include "publish/media/audio_writer.h"
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

// ---- Seeds of the targets that take pixels and short recordings ----------

// An image as the pixel target reads it: width and height (16-bit
// little-endian), then the RGBA bytes.
Bytes rawImage(const vesmara::RgbaImage& image) {
  Bytes bytes;
  vesmara::ByteWriter writer(bytes);
  writer.writeU16(static_cast<std::uint16_t>(image.width));
  writer.writeU16(static_cast<std::uint16_t>(image.height));
  writer.writeBytes(image.pixels);
  return bytes;
}

// rgba_codecs: a legacy and a sparse frame of the smallest size, a pixel
// payload in an opaque image and in one with transparent pixels.
bool writePixelSeeds(vesmara::CryptoHost& crypto, const std::filesystem::path& out, vesmara::Failure& failure) {
  const std::filesystem::path dir = out / "rgba_codecs";
  vesmara::RgbaImage image;
  if (!vesmara::publish::makeLegacyFrame(crypto, Bytes(21, 'f'), 256, 128, image, failure)) return false;
  writeFile(dir / "frame-luma1", rawImage(image));
  image = vesmara::publish::makeFrameCover(256, 128);
  if (!vesmara::publish::embedSparseFrame(crypto, Bytes(21, 'f'), image, failure)) return false;
  writeFile(dir / "frame-luma2", rawImage(image));
  for (const bool transparent : {false, true}) {
    image = vesmara::publish::makePixelCover(60);
    for (std::size_t p = 0; transparent && p < image.pixelCount(); p += 5) image.pixels[4 * p + 3] = 0;
    if (!vesmara::publish::embedPixelPayload(crypto, Bytes(40, 'p'), image, failure)) return false;
    writeFile(dir / (transparent ? "pixels-transparent" : "pixels"), rawImage(image));
  }
  return true;
}

// wav_reader: each sample layout, a burst of tone that closes and one that
// is still open at the end (about 40 milliseconds in all).
bool writeWavSeeds(const std::filesystem::path& out, vesmara::Failure& failure) {
  const vesmara::publish::AudioFormat formats[] = {{16000, 8, 1}, {16000, 8, 2}, {44100, 16, 2}, {48000, 16, 1}};
  for (const auto& format : formats) {
    std::vector<double> samples;
    const auto append = [&](double seconds, double amplitude) {
      const auto count = static_cast<std::size_t>(seconds * format.rate);
      for (std::size_t i = 0; i < count; ++i) samples.push_back(amplitude * std::sin(0.4 * static_cast<double>(i)));
    };
    append(0.002, 0.0);
    append(0.01, 0.5);
    append(0.022, 0.0);
    append(0.005, 0.5);
    Bytes wav;
    if (!vesmara::publish::encodeWav(samples, format, wav, failure)) return false;
    writeFile(
        out / "wav_reader" /
            (std::to_string(format.rate) + "-" + std::to_string(format.bits) + "-" + std::to_string(format.channels)),
        wav);
  }
  return true;
}

// audio_transport: a message sealed with another key than the target's, and
// a recording of the short last packet of a two-packet message alone (the
// whole message would take 7 seconds of sound).
bool writeTransportSeeds(vesmara::CryptoHost& crypto, const std::filesystem::path& out, vesmara::Failure& failure) {
  std::array<std::uint8_t, 32> other_key = vesmara::fuzz::seedTransportKey();
  other_key[0] ^= 1;
  vesmara::publish::TransportLayout layout{.format = {16000, 8, 1}, .lead_seconds = 0.005};
  layout.nonce.emplace().fill(7);
  Bytes wav;
  if (!vesmara::publish::writeTransportRecording(crypto, other_key, Bytes{'h', 'i'}, layout, wav, failure)) {
    return false;
  }
  writeFile(out / "audio_transport" / "other-key.wav", wav);
  // The payload digest is never checked: the group stays incomplete.
  Bytes frame;
  const vesmara::Sha256Digest payload_digest{};
  vesmara::Sha256Digest packet_digest{};
  if (!vesmara::fuzz::makeSeedFrame(crypto, Bytes{'z'}, vesmara::audio::kMaxPacketLength + 1, 2, 1, payload_digest,
                                    frame, packet_digest)) {
    return failure.fail(vesmara::FailureKind::Provider, "SHA-256");
  }
  vesmara::publish::ToneSignal signal(16000, 0.5);
  signal.appendSilence(80);
  signal.appendFrame(frame);
  signal.appendSilence(640);
  if (!vesmara::publish::encodeWav(signal.samples(), layout.format, wav, failure)) return false;
  writeFile(out / "audio_transport" / "last-packet.wav", wav);
  return true;
}

bool writeRawSeeds(vesmara::CryptoHost& crypto, const std::filesystem::path& out) {
  vesmara::Failure failure;
  return check(
      writeWavSeeds(out, failure) && writePixelSeeds(crypto, out, failure) && writeTransportSeeds(crypto, out, failure),
      failure.message);
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
  writeFile(out / "png_carrier" / "pixels.png", png);
  // A palette image with transparency: the decoder's other colour paths.
  vesmara::PngEncoding palette{.width = 16,
                               .height = 16,
                               .colour_type = vesmara::PngColourType::Palette,
                               .bit_depth = 4,
                               .palette = Bytes(48, 90),
                               .transparency = {0, 128, 255}};
  if (!check(vesmara::encodePng(palette, Bytes(128, 0x12), png), "palette PNG")) return 1;
  writeFile(out / "png_carrier" / "palette.png", png);
  return writeRawSeeds(*crypto, out) ? 0 : 1;
}
