#include "media/pixel_payload.h"

#include <algorithm>
#include <utility>

#include "base/byte_reader.h"
#include "media/pixel_payload_format.h"

namespace vesmara {
namespace {

using pixel_payload::PixelSlots;
using pixel_payload::SlotWalk;

// Appends `count` bytes of the stream, each made of the next eight bits,
// the first of them the most significant.
void readStream(std::span<const std::uint8_t> pixels, const PixelSlots& slots, SlotWalk& walk, std::size_t count,
                std::vector<std::uint8_t>& out) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      byte = static_cast<std::uint8_t>(byte << 1 | (pixels[slots.byteOf(walk.next())] & 1));
    }
    out.push_back(byte);
  }
}

// The inverse of `value` modulo `modulus` (coprime to it).
std::uint64_t inverseModulo(std::uint64_t value, std::uint64_t modulus) {
  std::int64_t t = 0;
  std::int64_t next_t = 1;
  std::int64_t r = static_cast<std::int64_t>(modulus);
  std::int64_t next_r = static_cast<std::int64_t>(value % modulus);
  while (next_r != 0) {
    const std::int64_t quotient = r / next_r;
    t = std::exchange(next_t, t - quotient * next_t);
    r = std::exchange(next_r, r - quotient * next_r);
  }
  return static_cast<std::uint64_t>(t < 0 ? t + static_cast<std::int64_t>(modulus) : t);
}

// The first `count` bytes of the stream, read by visiting every slot once in
// memory order: slot k carries bit k x (stride^-1) mod N. The same bits as
// the walk gives, but the pixels are read in order instead of with one far
// jump per bit (only the writes scatter, over an output a sixteenth of the
// pixels' size) — worth it once the stream covers a good part of the slots.
void sweepStream(std::span<const std::uint8_t> pixels, const PixelSlots& slots, std::size_t count,
                 std::vector<std::uint8_t>& out) {
  const std::uint64_t slot_count = slots.count();
  const std::uint64_t bits = 8 * static_cast<std::uint64_t>(count);
  const std::uint64_t step = inverseModulo(pixel_payload::strideFor(slot_count) % slot_count, slot_count);
  out.assign(count, 0);
  std::uint64_t bit = 0;
  for (std::uint64_t slot = 0; slot < slot_count; ++slot) {
    if (bit < bits) {
      out[bit / 8] = static_cast<std::uint8_t>(out[bit / 8] | (pixels[slots.byteOf(slot)] & 1) << (7 - bit % 8));
    }
    bit += step;
    if (bit >= slot_count) bit -= slot_count;
  }
}

}  // namespace

bool readPixelPayload(const RgbaImage& image, CryptoHost& crypto, std::vector<std::uint8_t>& output, Failure& failure) {
  output.clear();
  const PixelSlots slots(image.pixels);
  if (slots.count() < pixel_payload::kMinSlots) {
    return failure.fail(FailureKind::InvalidData, "PNG has too few opaque pixels");
  }
  SlotWalk walk(slots.count());
  std::vector<std::uint8_t> header;
  readStream(image.pixels, slots, walk, pixel_payload::kHeaderLength, header);
  ByteReader reader(header);
  std::uint32_t length = 0;
  if (!reader.readExpected(pixel_payload::kMagic) || !reader.readU32(length)) {
    return failure.fail(FailureKind::InvalidData, "No VesmaraWeb pixel payload");
  }
  const std::uint64_t stream_length = slots.count() / 8;
  if (length == 0 || length > pixel_payload::kMaxPayloadLength ||
      length + pixel_payload::kHeaderLength > stream_length) {
    return failure.fail(FailureKind::InvalidData, "Invalid pixel payload length");
  }
  const std::size_t stream_bytes = length + pixel_payload::kHeaderLength;
  if (8 * static_cast<std::uint64_t>(stream_bytes) > slots.count() / 8) {
    sweepStream(image.pixels, slots, stream_bytes, output);
    output.erase(output.begin(), output.begin() + pixel_payload::kHeaderLength);
  } else {
    // The stream continues where the header ended.
    output.reserve(length);
    readStream(image.pixels, slots, walk, length, output);
  }
  Sha256Digest digest{};
  std::span<const std::uint8_t> expected;
  if (!reader.readBytes(kSha256Length, expected) || !computeSha256(crypto, output, digest) ||
      !std::equal(digest.begin(), digest.end(), expected.begin())) {
    return failure.fail(FailureKind::InvalidData, "Pixel payload integrity failure");
  }
  return true;
}

}  // namespace vesmara
