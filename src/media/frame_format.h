// The frame-luma carriers, shared by their readers (src/media) and writers
// (src/publish) so the two cannot drift apart.
//
// A frame is a PNG image of at least 256 x 128 pixels whose top-left
// 256 x 128 region (the data region) is opaque. It carries a 256-bit header,
// most significant bit of each byte first: magic (4 bytes), two zero bytes,
// payload length (1 to 21), the first 4 bytes of the payload's SHA-256, the
// payload, unread filler up to 32 bytes.
//
// The legacy reading (frame-luma1) takes bit i from cell (i mod 16, i div 16)
// of 16 x 8 pixels: 1 when the mean luma of the cell's left 8 x 8 block is
// above that of its right block. The sparse reading (frame-luma2) takes each
// bit as the majority of the red low bits of three pixels that a scatter over
// the whole frame chooses by their (low-bit-blind) contrast.
#ifndef VESMARA_MEDIA_FRAME_FORMAT_H_
#define VESMARA_MEDIA_FRAME_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string_view>

namespace vesmara::frame {

inline constexpr std::string_view kLegacyMagic = "VKF1";
inline constexpr std::string_view kSparseMagic = "VKF2";
inline constexpr std::size_t kHeaderLength = 32;
inline constexpr std::size_t kHeaderBits = 256;
inline constexpr std::size_t kZerosAt = 4;
inline constexpr std::size_t kLengthAt = 6;
inline constexpr std::size_t kDigestAt = 7;
inline constexpr std::size_t kDigestLength = 4;
inline constexpr std::size_t kPayloadAt = 11;
inline constexpr std::size_t kMaxPayloadLength = 21;
static_assert(kPayloadAt + kMaxPayloadLength == kHeaderLength, "the largest payload ends the header");

// The data region, and the legacy cells within it.
inline constexpr std::uint32_t kRegionWidth = 256;
inline constexpr std::uint32_t kRegionHeight = 128;
inline constexpr std::uint32_t kBlockSide = 8;
inline constexpr std::uint32_t kCellsPerRow = 16;
inline constexpr double kBlockMeanScale = 0.015625;  // 1/64

// The sparse scatter.
inline constexpr std::size_t kSparsePositions = 768;  // three per bit
inline constexpr std::uint64_t kCandidateWindow = 16;
inline constexpr double kScatterRatio = 0.61803398875;
inline constexpr std::uint32_t kWidthScatter = 73856093;
inline constexpr std::uint32_t kHeightScatter = 19349663;

// Luma of 8-bit red, green and blue. The weighted sum is an exact integer,
// so the one rounding is the division.
inline double lumaOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<double>(587 * green + 299 * red + 114 * blue) / 1000;
}

// Luma with each channel's least significant bit cleared: what the sparse
// selection sees, so that writing the red low bits never moves a position.
inline double maskedLumaOf(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return lumaOf(red & 254, green & 254, blue & 254);
}

// The scatter stride for `pixels` candidates: the golden-ratio fraction of
// the count, made odd, then raised by 2 until coprime to the count.
inline std::uint64_t scatterStride(std::uint64_t pixels) {
  std::uint64_t stride = static_cast<std::uint64_t>(static_cast<double>(pixels) * kScatterRatio) | 1;
  while (std::gcd(stride, pixels) != 1) stride += 2;
  return stride;
}

// The first candidate of the scatter, from the frame's size (products wrap at
// 32 bits).
inline std::uint64_t scatterStart(std::uint32_t width, std::uint32_t height) {
  const std::uint32_t a = width * kWidthScatter;
  const std::uint32_t b = height * kHeightScatter;
  return (a ^ b) % (static_cast<std::uint64_t>(width) * height);
}

}  // namespace vesmara::frame

#endif  // VESMARA_MEDIA_FRAME_FORMAT_H_
