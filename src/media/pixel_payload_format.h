// The png-lsb1 pixel payload, shared by its reader (src/media) and its
// writer (src/publish) so the two cannot drift apart.
//
// The payload lives in the least significant bits of the red, green and blue
// bytes of the image's opaque pixels. Those bytes, in pixel order, are the
// channel slots; the bit stream visits them with a stride coprime to their
// number, so consecutive bits land far apart. The stream starts with a
// 44-byte header: magic (8 bytes), payload length (32-bit little-endian),
// SHA-256 of the payload (32 bytes); the payload follows.
#ifndef VESMARA_MEDIA_PIXEL_PAYLOAD_FORMAT_H_
#define VESMARA_MEDIA_PIXEL_PAYLOAD_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <span>
#include <string_view>
#include <vector>

namespace vesmara::pixel_payload {

inline constexpr std::string_view kMagic = std::string_view("VKRPX1\0\0", 8);
inline constexpr std::size_t kHeaderLength = 44;
inline constexpr std::size_t kLengthAt = 8;
inline constexpr std::size_t kDigestAt = 12;
inline constexpr std::uint64_t kMaxPayloadLength = 16777216;
// Fewer slots than this cannot hold the header.
inline constexpr std::uint64_t kMinSlots = 352;
inline constexpr std::uint64_t kFirstStride = 65537;

// The first odd stride from 65,537 on that is coprime to `slots` (> 0).
inline std::uint64_t strideFor(std::uint64_t slots) {
  std::uint64_t stride = kFirstStride;
  while (std::gcd(stride, slots) != 1) stride += 2;
  return stride;
}

// The channel slots of an RGBA pixel buffer: slot k is channel k mod 3 of the
// (k div 3)-th opaque pixel. Alpha never carries data.
class PixelSlots {
 public:
  explicit PixelSlots(std::span<const std::uint8_t> rgba) {
    const std::size_t pixels = rgba.size() / 4;
    std::size_t opaque = 0;
    for (std::size_t p = 0; p < pixels; ++p) opaque += rgba[4 * p + 3] == 255 ? 1 : 0;
    count_ = 3 * static_cast<std::uint64_t>(opaque);
    // A fully opaque image needs no list: its opaque pixels are all pixels.
    if (opaque == pixels) return;
    opaque_.reserve(opaque);
    for (std::size_t p = 0; p < pixels; ++p) {
      if (rgba[4 * p + 3] == 255) opaque_.push_back(static_cast<std::uint32_t>(p));
    }
    listed_ = true;
  }

  std::uint64_t count() const { return count_; }

  // The offset in the pixel buffer of slot `slot` (< count()).
  std::size_t byteOf(std::uint64_t slot) const {
    const std::uint64_t index = slot / 3;
    const std::uint64_t pixel = listed_ ? opaque_[index] : index;
    return static_cast<std::size_t>(4 * pixel + slot % 3);
  }

 private:
  std::vector<std::uint32_t> opaque_;
  std::uint64_t count_ = 0;
  bool listed_ = false;
};

// The slots of the bit stream in order: bit j lives in slot (j x stride) mod
// count. Advancing by the stride reduced modulo the count gives the same
// sequence with one comparison per bit.
class SlotWalk {
 public:
  explicit SlotWalk(std::uint64_t count) : count_(count), step_(strideFor(count) % count) {}

  std::uint64_t next() {
    const std::uint64_t current = slot_;
    slot_ += step_;
    if (slot_ >= count_) slot_ -= count_;
    return current;
  }

 private:
  std::uint64_t count_;
  std::uint64_t step_;
  std::uint64_t slot_ = 0;
};

}  // namespace vesmara::pixel_payload

#endif  // VESMARA_MEDIA_PIXEL_PAYLOAD_FORMAT_H_
