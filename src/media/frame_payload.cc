#include "media/frame_payload.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/byte_reader.h"

namespace vesmara {
namespace {

using Header = std::array<std::uint8_t, frame::kHeaderLength>;

std::size_t offsetOf(const RgbaImage& image, std::uint64_t x, std::uint64_t y) {
  return static_cast<std::size_t>(4 * (y * image.width + x));
}

// Both readings need the data region in full and opaque.
bool checkFrame(const RgbaImage& image, Failure& failure) {
  if (image.width < frame::kRegionWidth || image.height < frame::kRegionHeight) {
    return failure.fail(FailureKind::InvalidData, "Frame dimensions are too small");
  }
  for (std::uint32_t y = 0; y < frame::kRegionHeight; ++y) {
    for (std::uint32_t x = 0; x < frame::kRegionWidth; ++x) {
      if (image.pixels[offsetOf(image, x, y) + 3] != 255) {
        return failure.fail(FailureKind::InvalidData, "Frame data region must be opaque");
      }
    }
  }
  return true;
}

double lumaAt(const RgbaImage& image, std::uint64_t x, std::uint64_t y) {
  const std::size_t at = offsetOf(image, x, y);
  return frame::lumaOf(image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]);
}

double maskedLumaAt(const RgbaImage& image, std::uint64_t pixel) {
  const std::size_t at = static_cast<std::size_t>(4 * pixel);
  return frame::maskedLumaOf(image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]);
}

// The mean luma of the 8 x 8 block whose top-left pixel is (x, y), summed
// row by row and left to right.
double blockMean(const RgbaImage& image, std::uint32_t x, std::uint32_t y) {
  double sum = 0.0;
  for (std::uint32_t row = y; row < y + frame::kBlockSide; ++row) {
    for (std::uint32_t column = x; column < x + frame::kBlockSide; ++column) sum += lumaAt(image, column, row);
  }
  return sum * frame::kBlockMeanScale;
}

void setBit(Header& header, std::size_t bit) {
  header[bit / 8] = static_cast<std::uint8_t>(header[bit / 8] | 0x80 >> (bit % 8));
}

// The header's fields, when magic, zeros and length are right.
bool parseHeader(const Header& header, std::string_view magic, std::span<const std::uint8_t>& digest,
                 std::span<const std::uint8_t>& payload) {
  ByteReader reader(header);
  std::uint8_t length = 0;
  if (!reader.readExpected(magic) || !reader.readZeros(2) || !reader.readU8(length) || length < 1 ||
      length > frame::kMaxPayloadLength) {
    return false;
  }
  return reader.readBytes(frame::kDigestLength, digest) && reader.readBytes(length, payload);
}

// True when the first bytes of the payload's SHA-256 equal `digest`.
bool digestMatches(CryptoHost& crypto, std::span<const std::uint8_t> payload, std::span<const std::uint8_t> digest) {
  Sha256Digest full{};
  return computeSha256(crypto, payload, full) && std::equal(digest.begin(), digest.end(), full.begin());
}

bool readLegacyChecked(const RgbaImage& image, CryptoHost& crypto, std::vector<std::uint8_t>& output,
                       Failure& failure) {
  Header header{};
  for (std::size_t bit = 0; bit < frame::kHeaderBits; ++bit) {
    const std::uint32_t x = static_cast<std::uint32_t>(bit % frame::kCellsPerRow) * 2 * frame::kBlockSide;
    const std::uint32_t y = static_cast<std::uint32_t>(bit / frame::kCellsPerRow) * frame::kBlockSide;
    if (blockMean(image, x, y) > blockMean(image, x + frame::kBlockSide, y)) setBit(header, bit);
  }
  std::span<const std::uint8_t> digest;
  std::span<const std::uint8_t> payload;
  if (!parseHeader(header, frame::kLegacyMagic, digest, payload)) {
    return failure.fail(FailureKind::InvalidData, "Invalid legacy frame payload");
  }
  if (!digestMatches(crypto, payload, digest)) {
    return failure.fail(FailureKind::InvalidData, "Legacy frame integrity failure");
  }
  output.assign(payload.begin(), payload.end());
  return true;
}

// The contrast of a pixel with its existing neighbours, in the order left,
// right, up, down.
double scoreOf(const RgbaImage& image, std::uint64_t pixel) {
  const std::uint64_t x = pixel % image.width;
  const std::uint64_t y = pixel / image.width;
  const double own = maskedLumaAt(image, pixel);
  double score = 0.0;
  if (x > 0) score += std::fabs(own - maskedLumaAt(image, pixel - 1));
  if (x + 1 < image.width) score += std::fabs(own - maskedLumaAt(image, pixel + 1));
  if (y > 0) score += std::fabs(own - maskedLumaAt(image, pixel - image.width));
  if (y + 1 < image.height) score += std::fabs(own - maskedLumaAt(image, pixel + image.width));
  return score;
}

}  // namespace

bool selectSparsePositions(const RgbaImage& image, SparsePositions& positions) {
  const std::uint64_t pixels = image.pixelCount();
  if (pixels == 0) return false;
  const std::uint64_t step = frame::scatterStride(pixels) % pixels;
  std::uint64_t candidate = frame::scatterStart(image.width, image.height);
  std::size_t found = 0;
  for (std::uint64_t k = 0; k < pixels;) {
    const std::uint64_t window_end = std::min(k + frame::kCandidateWindow, pixels);
    double best_score = -1.0;
    std::uint64_t best = 0;
    for (; k < window_end; ++k) {
      if (image.pixels[static_cast<std::size_t>(4 * candidate + 3)] == 255) {
        const double score = scoreOf(image, candidate);
        if (score > best_score) {
          best_score = score;
          best = candidate;
        }
      }
      candidate += step;
      if (candidate >= pixels) candidate -= pixels;
    }
    if (best_score >= 0.0) {
      positions[found++] = static_cast<std::uint32_t>(best);
      if (found == positions.size()) return true;
    }
  }
  return false;
}

bool readLegacyFrame(const RgbaImage& frame, CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure) {
  output.clear();
  return checkFrame(frame, failure) && readLegacyChecked(frame, crypto, output, failure);
}

bool readSparseFrame(const RgbaImage& image, CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure) {
  output.clear();
  if (!checkFrame(image, failure)) return false;
  SparsePositions positions{};
  // Cannot fail once the frame checks pass: the 32,768 opaque pixels of the
  // data region alone fall into at least 2,048 windows of 16 candidates.
  if (!selectSparsePositions(image, positions)) {
    return failure.fail(FailureKind::InvalidData, "Frame has too few opaque pixels");
  }
  Header header{};
  for (std::size_t bit = 0; bit < frame::kHeaderBits; ++bit) {
    int ones = 0;
    for (std::size_t copy = 0; copy < 3; ++copy) {
      ones += image.pixels[static_cast<std::size_t>(4 * positions[3 * bit + copy])] & 1;
    }
    if (ones >= 2) setBit(header, bit);
  }
  std::span<const std::uint8_t> digest;
  std::span<const std::uint8_t> payload;
  if (!parseHeader(header, frame::kSparseMagic, digest, payload)) {
    // No sparse header: the frame may be a legacy one.
    return readLegacyChecked(image, crypto, output, failure);
  }
  if (!digestMatches(crypto, payload, digest)) {
    return failure.fail(FailureKind::InvalidData, "Sparse-frame integrity failure");
  }
  output.assign(payload.begin(), payload.end());
  return true;
}

}  // namespace vesmara
