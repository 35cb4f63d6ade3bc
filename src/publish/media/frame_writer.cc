#include "publish/media/frame_writer.h"

#include <algorithm>
#include <array>

#include "base/byte_writer.h"
#include "hosts/png_codec.h"
#include "index/index_format.h"
#include "media/frame_format.h"
#include "media/frame_payload.h"

namespace vesmara::publish {
namespace {

// Grey levels of the brighter and darker block of a legacy cell.
constexpr std::uint8_t kBright = 168;
constexpr std::uint8_t kDark = 88;

using Header = std::array<std::uint8_t, frame::kHeaderLength>;

constexpr std::string_view kPayloadLengthRange = "frame payload must be 1 to 21 bytes long";

bool buildHeader(CryptoHost& crypto, std::string_view magic, std::span<const std::uint8_t> payload, Header& header,
                 Failure& failure) {
  if (payload.empty() || payload.size() > frame::kMaxPayloadLength) {
    return failure.fail(FailureKind::InvalidData, kPayloadLengthRange);
  }
  Sha256Digest digest{};
  if (!computeSha256(crypto, payload, digest)) return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
  std::vector<std::uint8_t> bytes;
  ByteWriter writer(bytes);
  writer.writeText(magic);
  writer.writeZeros(frame::kLengthAt - frame::kZerosAt);
  if (!writer.writeU8Checked(payload.size())) return failure.fail(FailureKind::InvalidData, kPayloadLengthRange);
  writer.writeBytes(std::span(digest).first(frame::kDigestLength));
  writer.writeBytes(payload);
  writer.writeZeros(frame::kHeaderLength - frame::kPayloadAt - payload.size());
  std::copy(bytes.begin(), bytes.end(), header.begin());
  return true;
}

bool bitOf(std::span<const std::uint8_t, 32> header, std::size_t bit) {
  return (header[bit / 8] >> (7 - bit % 8) & 1) != 0;
}

bool checkFrameSize(std::uint32_t width, std::uint32_t height, Failure& failure) {
  if (width < frame::kRegionWidth || height < frame::kRegionHeight ||
      static_cast<std::uint64_t>(width) * height > kMaxPngPixels) {
    return failure.fail(FailureKind::InvalidData, "frame must be at least 256 x 128 and at most 16,777,216 pixels");
  }
  return true;
}

// Writes the header into the frame's sparse positions.
bool embedSparseHeader(const Header& header, RgbaImage& frame, Failure& failure) {
  if (!writeSparseHeader(header, frame))
    return failure.fail(FailureKind::InvalidData, "frame has too few opaque pixels");
  return true;
}

void fillBlock(RgbaImage& image, std::uint32_t x, std::uint32_t y, std::uint8_t level) {
  for (std::uint32_t row = y; row < y + frame::kBlockSide; ++row) {
    for (std::uint32_t column = x; column < x + frame::kBlockSide; ++column) {
      const std::size_t at = 4 * (static_cast<std::size_t>(row) * image.width + column);
      std::fill_n(image.pixels.begin() + static_cast<std::ptrdiff_t>(at), 3, level);
      image.pixels[at + 3] = 255;
    }
  }
}

}  // namespace

RgbaImage makeFrameCover(std::uint32_t width, std::uint32_t height) {
  RgbaImage image{.width = width, .height = height};
  image.pixels.resize(static_cast<std::size_t>(image.pixelCount()) * 4);
  // A fixed pseudo-random texture over a gradient (xorshift, seeded alike
  // for every frame).
  std::uint32_t state = 0x9E3779B9u;
  for (std::size_t p = 0; p < image.pixelCount(); ++p) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::uint32_t y = static_cast<std::uint32_t>(p / width);
    const std::uint8_t base = static_cast<std::uint8_t>(80 + (y * 96) / height);
    image.pixels[4 * p] = static_cast<std::uint8_t>(base + (state & 31));
    image.pixels[4 * p + 1] = static_cast<std::uint8_t>(base + (state >> 5 & 31));
    image.pixels[4 * p + 2] = static_cast<std::uint8_t>(base + (state >> 10 & 31));
    image.pixels[4 * p + 3] = 255;
  }
  return image;
}

bool makeLegacyFrame(CryptoHost& crypto, std::span<const std::uint8_t> payload, std::uint32_t width,
                     std::uint32_t height, RgbaImage& frame, Failure& failure) {
  Header header{};
  if (!checkFrameSize(width, height, failure) || !buildHeader(crypto, frame::kLegacyMagic, payload, header, failure)) {
    return false;
  }
  frame = makeFrameCover(width, height);
  drawLegacyHeader(header, frame);
  return true;
}

bool embedSparseFrame(CryptoHost& crypto, std::span<const std::uint8_t> payload, RgbaImage& frame, Failure& failure) {
  Header header{};
  if (!checkFrameSize(frame.width, frame.height, failure) ||
      !buildHeader(crypto, frame::kSparseMagic, payload, header, failure)) {
    return false;
  }
  return embedSparseHeader(header, frame, failure);
}

void drawLegacyHeader(std::span<const std::uint8_t, 32> header, RgbaImage& frame) {
  for (std::size_t bit = 0; bit < frame::kHeaderBits; ++bit) {
    const std::uint32_t x = static_cast<std::uint32_t>(bit % frame::kCellsPerRow) * 2 * frame::kBlockSide;
    const std::uint32_t y = static_cast<std::uint32_t>(bit / frame::kCellsPerRow) * frame::kBlockSide;
    const bool one = bitOf(header, bit);
    fillBlock(frame, x, y, one ? kBright : kDark);
    fillBlock(frame, x + frame::kBlockSide, y, one ? kDark : kBright);
  }
}

bool writeSparseHeader(std::span<const std::uint8_t, 32> header, RgbaImage& frame) {
  SparsePositions positions{};
  if (!selectSparsePositions(frame, positions)) return false;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    std::uint8_t& red = frame.pixels[4 * static_cast<std::size_t>(positions[i])];
    red = static_cast<std::uint8_t>((red & 0xFE) | (bitOf(header, i / 3) ? 1 : 0));
  }
  return true;
}

bool writeFrameCarrier(CryptoHost& crypto, std::string_view codec, std::span<const std::uint8_t> payload,
                       std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& png, Failure& failure) {
  RgbaImage frame;
  if (codec == kCodecFrameLuma1) {
    if (!makeLegacyFrame(crypto, payload, width, height, frame, failure)) return false;
  } else if (codec == kCodecFrameLuma2) {
    // The payload is checked before the cover exists.
    Header header{};
    if (!checkFrameSize(width, height, failure) ||
        !buildHeader(crypto, frame::kSparseMagic, payload, header, failure)) {
      return false;
    }
    frame = makeFrameCover(width, height);
    if (!embedSparseHeader(header, frame, failure)) return false;
  } else {
    return failure.fail(FailureKind::InvalidData, "not a frame codec");
  }
  if (!encodeRgbaPng(frame.width, frame.height, frame.pixels, png)) {
    return failure.fail(FailureKind::Internal, "PNG encoding failed");
  }
  return true;
}

}  // namespace vesmara::publish
