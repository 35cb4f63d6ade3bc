#include "publish/media/pixel_carrier_writer.h"

#include <algorithm>
#include <cmath>

#include "base/byte_writer.h"
#include "hosts/platform.h"
#include "hosts/png_codec.h"
#include "media/pixel_payload_format.h"

namespace vesmara::publish {

using pixel_payload::PixelSlots;
using pixel_payload::SlotWalk;

namespace {

constexpr std::string_view kPayloadLengthRange = "pixel payload must be 1 byte to 16 MiB long";

bool checkPayloadLength(std::span<const std::uint8_t> payload, Failure& failure) {
  if (payload.empty() || payload.size() > pixel_payload::kMaxPayloadLength) {
    return failure.fail(FailureKind::InvalidData, kPayloadLengthRange);
  }
  return true;
}

}  // namespace

RgbaImage makePixelCover(std::uint64_t payload_length) {
  const std::uint64_t bits = 8 * (payload_length + pixel_payload::kHeaderLength);
  const std::uint64_t slots = std::max(bits, pixel_payload::kMinSlots);
  const std::uint64_t pixels = (slots + 2) / 3;
  RgbaImage image;
  image.width = static_cast<std::uint32_t>(std::ceil(std::sqrt(static_cast<double>(pixels))));
  image.height = static_cast<std::uint32_t>((pixels + image.width - 1) / image.width);
  image.pixels.resize(static_cast<std::size_t>(image.pixelCount()) * 4);
  // Soft diagonal bands: a picture, not noise, so the file compresses.
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::size_t at = 4 * (static_cast<std::size_t>(y) * image.width + x);
      image.pixels[at] = static_cast<std::uint8_t>(64 + (x * 128) / image.width);
      image.pixels[at + 1] = static_cast<std::uint8_t>(96 + (y * 96) / image.height);
      image.pixels[at + 2] = static_cast<std::uint8_t>(128 + ((x + y) % 64));
      image.pixels[at + 3] = 255;
    }
  }
  return image;
}

bool embedPixelPayload(CryptoHost& crypto, std::span<const std::uint8_t> payload, RgbaImage& image, Failure& failure) {
  if (!checkPayloadLength(payload, failure)) return false;
  const PixelSlots slots(image.pixels);
  if (slots.count() < pixel_payload::kMinSlots || payload.size() + pixel_payload::kHeaderLength > slots.count() / 8) {
    return failure.fail(FailureKind::InvalidData, "cover image has too few opaque pixels for the payload");
  }
  Sha256Digest digest{};
  if (!computeSha256(crypto, payload, digest)) return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
  std::vector<std::uint8_t> stream;
  ByteWriter writer(stream);
  writer.writeText(pixel_payload::kMagic);
  if (!writer.writeU32Checked(payload.size())) return failure.fail(FailureKind::InvalidData, kPayloadLengthRange);
  writer.writeBytes(digest);
  writer.writeBytes(payload);
  SlotWalk walk(slots.count());
  for (const std::uint8_t byte : stream) {
    for (int bit = 7; bit >= 0; --bit) {
      std::uint8_t& sample = image.pixels[slots.byteOf(walk.next())];
      sample = static_cast<std::uint8_t>((sample & 0xFE) | (byte >> bit & 1));
    }
  }
  return true;
}

bool writePixelCarrier(CryptoHost& crypto, std::span<const std::uint8_t> payload, std::span<const std::uint8_t> cover,
                       std::vector<std::uint8_t>& png, Failure& failure) {
  // The payload is checked before any image exists.
  if (!checkPayloadLength(payload, failure)) return false;
  RgbaImage image;
  if (cover.empty()) {
    // The largest image a reader decodes bounds the payload a generated cover carries.
    if (payload.size() > kGeneratedCoverCapacity) {
      return failure.fail(FailureKind::InvalidData, "payload is too large for a PNG carrier");
    }
    image = makePixelCover(payload.size());
  } else if (Failure cover_failure;
             !decodePngCarrier(cover, *defaultPlatform().makePngDecoder(), image, cover_failure)) {
    return failure.fail(FailureKind::InvalidData, "cover image: " + cover_failure.message);
  }
  if (!embedPixelPayload(crypto, payload, image, failure)) return false;
  if (!encodeRgbaPngInPlace(image.width, image.height, image.pixels, png)) {
    return failure.fail(FailureKind::Internal, "PNG encoding failed");
  }
  return true;
}

}  // namespace vesmara::publish
