// PNG images, the one platform image service the media carriers need:
// decoding a carrier to pixels (the library) and encoding pixels to a PNG
// file (the publisher and the tests; never linked into the product, which
// references only the decoder).
#ifndef VESMARA_HOSTS_PNG_CODEC_H_
#define VESMARA_HOSTS_PNG_CODEC_H_

#include <cstdint>
#include <span>
#include <vector>

namespace vesmara {

// Where a decode stopped. Each value stands for one fixed failure message of
// the PNG carriers.
enum class PngDecodeStatus : std::uint32_t {
  Ok = 0,
  Unavailable,        // the platform decoder could not be set up
  DecodeFailed,       // the decoder refused the file's signature or header chunks
  FrameCountInvalid,  // not exactly one frame: an animated PNG
  DimensionsChanged,  // the decoder's image size differs from the header's
  ConversionFailed,   // the image cannot be converted to 8-bit RGBA
  PixelCopyFailed,    // the image data could not be decoded into the buffer
  // Steps only a decoder that reads through COM streams has.
  ComInitFailed,          // COM could not be initialised on the calling thread
  InputAllocationFailed,  // no memory block for the input stream
  InputLockFailed,        // the input memory block could not be locked
  StreamFailed,           // the input stream could not be created
};

// The platform's PNG decoder. Stateless as seen by callers: one instance
// serves any number of decodes, one at a time.
class PngDecoder {
 public:
  virtual ~PngDecoder() = default;

  // Decodes the one frame of `png`, whose IHDR announces `width` x `height`
  // pixels, into `rgba`: 8-bit straight (not premultiplied) red, green,
  // blue, alpha per pixel, rows top to bottom, stride width x 4. Palette,
  // grey and tRNS transparency are expanded, low grey depths widened by bit
  // replication, 16-bit samples reduced to their high byte, and no gamma or
  // colour-profile correction is applied: the least significant bits of the
  // samples reach the caller as stored.
  //
  // The caller has bounded width x height; the decoder allocates exactly
  // that many pixels and nothing in proportion to anything else the file
  // claims. Throws only std::bad_alloc.
  virtual PngDecodeStatus decodePixels(std::span<const std::uint8_t> png, std::uint32_t width, std::uint32_t height,
                                       std::vector<std::uint8_t>& rgba) = 0;

 protected:
  PngDecoder() = default;
  PngDecoder(const PngDecoder&) = delete;
  PngDecoder& operator=(const PngDecoder&) = delete;
};

// The PNG colour types, numbered as in the IHDR chunk.
enum class PngColourType : std::uint8_t {
  Grey = 0,
  Rgb = 2,
  Palette = 3,
  GreyAlpha = 4,
  Rgba = 6,
};

// The row filters an encoder may choose from.
enum class PngFilters : std::uint8_t {
  None,
  Sub,
  Up,
  Average,
  Paeth,
  Adaptive,  // any of the five, chosen per row
};

struct PngEncoding {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PngColourType colour_type = PngColourType::Rgba;
  std::uint8_t bit_depth = 8;
  std::vector<std::uint8_t> palette;       // PLTE contents, 3 bytes per entry (palette images)
  std::vector<std::uint8_t> transparency;  // tRNS contents as stored, or empty for none
  int compression_level = 6;               // 0 (stored) to 9
  PngFilters filters = PngFilters::Adaptive;
};

// Encodes `samples` — the image rows in the PNG's own sample layout (low bit
// depths packed, 16-bit samples big-endian, no filter bytes) — into a
// complete PNG file. False when the encoding is invalid or the encoder fails.
bool encodePng(const PngEncoding& encoding, std::span<const std::uint8_t> samples, std::vector<std::uint8_t>& png);

// An 8-bit RGBA image (`rgba` as a PngDecoder gives it) as a PNG file:
// colour type RGB when every pixel is opaque, RGBA otherwise.
bool encodeRgbaPng(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba,
                   std::vector<std::uint8_t>& png, int compression_level = 6,
                   PngFilters filters = PngFilters::Adaptive);

// encodeRgbaPng with the default compression, which packs an opaque image's
// samples to RGB within `rgba` itself instead of in a copy (48 MiB for the
// largest picture): `rgba` is spent.
bool encodeRgbaPngInPlace(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& rgba,
                          std::vector<std::uint8_t>& png);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_PNG_CODEC_H_
