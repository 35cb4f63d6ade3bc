#include "media/png_carrier.h"

#include <string_view>

#include "base/byte_reader.h"
#include "hosts/png_codec.h"

namespace vesmara {
namespace {

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";
constexpr std::size_t kHeaderTypeAt = 12;

// The texts are fixed (callers compare them), so they keep the wording of
// the platform decoder the library was first built on.
std::string_view messageFor(PngDecodeStatus status) {
  switch (status) {
    case PngDecodeStatus::Ok:
      break;
    case PngDecodeStatus::Unavailable:
      return "Windows PNG decoder is unavailable";
    case PngDecodeStatus::DecodeFailed:
      return "PNG decode failed";
    case PngDecodeStatus::FrameCountInvalid:
      return "PNG frame count is invalid";
    case PngDecodeStatus::DimensionsChanged:
      return "PNG dimensions changed during decode";
    case PngDecodeStatus::ConversionFailed:
      return "PNG RGBA conversion failed";
    case PngDecodeStatus::PixelCopyFailed:
      return "PNG pixel copy failed";
    case PngDecodeStatus::ComInitFailed:
      return "COM initialization failed";
    case PngDecodeStatus::InputAllocationFailed:
      return "PNG input allocation failed";
    case PngDecodeStatus::InputLockFailed:
      return "PNG input lock failed";
    case PngDecodeStatus::StreamFailed:
      return "PNG stream failed";
  }
  return "PNG decode failed";
}

}  // namespace

bool decodePngCarrier(std::span<const std::uint8_t> carrier, PngDecoder& decoder, RgbaImage& image, Failure& failure) {
  image = {};
  ByteReader reader(carrier);
  if (carrier.size() < kMinPngCarrierLength || carrier.size() > kMaxPngCarrierLength ||
      !reader.readExpected(kPngSignature) || !reader.skip(kHeaderTypeAt - kPngSignature.size()) ||
      !reader.readExpected("IHDR")) {
    return failure.fail(FailureKind::InvalidData, "Expected a bounded PNG carrier");
  }
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (!reader.readU32BigEndian(width) || !reader.readU32BigEndian(height) || width == 0 || height == 0 ||
      static_cast<std::uint64_t>(width) * height > kMaxPngPixels) {
    return failure.fail(FailureKind::InvalidData, "PNG pixel count exceeds limit");
  }
  const PngDecodeStatus status = decoder.decodePixels(carrier, width, height, image.pixels);
  if (status != PngDecodeStatus::Ok) {
    return failure.fail(FailureKind::InvalidData, messageFor(status));
  }
  image.width = width;
  image.height = height;
  return true;
}

}  // namespace vesmara
