// PNG encoding with zlib, for the publisher and the tests of the Windows
// build. Kept apart from the decoder so that the product library, which only
// decodes, never links it.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "base/byte_writer.h"
#include "hosts/png_codec.h"

namespace vesmara {
namespace {

constexpr std::uint32_t kLargestSide = 0x7FFFFFFFu;

int channelsOf(PngColourType type) {
  switch (type) {
    case PngColourType::Grey:
    case PngColourType::Palette:
      return 1;
    case PngColourType::GreyAlpha:
      return 2;
    case PngColourType::Rgb:
      return 3;
    case PngColourType::Rgba:
      return 4;
  }
  return 0;
}

// The colour type and bit depth combinations the PNG format allows.
bool isAllowedDepth(PngColourType type, std::uint8_t depth) {
  switch (type) {
    case PngColourType::Grey:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case PngColourType::Palette:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case PngColourType::Rgb:
    case PngColourType::GreyAlpha:
    case PngColourType::Rgba:
      return depth == 8 || depth == 16;
  }
  return false;
}

bool isValidEncoding(const PngEncoding& e) {
  if (e.width == 0 || e.height == 0 || e.width > kLargestSide || e.height > kLargestSide) return false;
  if (channelsOf(e.colour_type) == 0 || !isAllowedDepth(e.colour_type, e.bit_depth)) return false;
  if (e.compression_level < 0 || e.compression_level > 9) return false;
  const std::size_t entries = e.palette.size() / 3;
  if (e.colour_type == PngColourType::Palette) {
    if (e.palette.empty() || entries > (std::size_t{1} << e.bit_depth)) return false;
  }
  if (!e.palette.empty()) {
    if (e.palette.size() % 3 != 0 || entries > 256) return false;
    if (e.colour_type == PngColourType::Grey || e.colour_type == PngColourType::GreyAlpha) return false;
  }
  if (!e.transparency.empty()) {
    switch (e.colour_type) {
      case PngColourType::Grey:
        return e.transparency.size() == 2;
      case PngColourType::Rgb:
        return e.transparency.size() == 6;
      case PngColourType::Palette:
        return e.transparency.size() <= entries;
      case PngColourType::GreyAlpha:
      case PngColourType::Rgba:
        return false;
    }
  }
  return true;
}

std::uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Row `row` filtered with `filter` (1 to 4; 0 copies) into `out`, given the
// previous row (all zero for the first) and the bytes per complete pixel.
void filterRow(int filter, std::span<const std::uint8_t> row, std::span<const std::uint8_t> previous,
               std::size_t pixel_bytes, std::uint8_t* out) {
  for (std::size_t i = 0; i < row.size(); ++i) {
    const int a = i >= pixel_bytes ? row[i - pixel_bytes] : 0;
    const int b = previous[i];
    const int c = i >= pixel_bytes ? previous[i - pixel_bytes] : 0;
    int predicted = 0;
    switch (filter) {
      case 1:
        predicted = a;
        break;
      case 2:
        predicted = b;
        break;
      case 3:
        predicted = (a + b) / 2;
        break;
      case 4:
        predicted = paeth(a, b, c);
        break;
      default:
        break;
    }
    out[i] = static_cast<std::uint8_t>(row[i] - predicted);
  }
}

// The usual heuristic for choosing a filter per row: the smallest sum of
// the filtered bytes taken as signed values.
std::uint64_t filteredCost(std::span<const std::uint8_t> filtered) {
  std::uint64_t cost = 0;
  for (const std::uint8_t byte : filtered) cost += static_cast<std::uint64_t>(std::abs(static_cast<std::int8_t>(byte)));
  return cost;
}

void writeChunk(ByteWriter& writer, std::string_view type, std::span<const std::uint8_t> data) {
  writer.writeU32BigEndian(static_cast<std::uint32_t>(data.size()));
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), static_cast<uInt>(type.size()));
  crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  writer.writeText(type);
  writer.writeBytes(data);
  writer.writeU32BigEndian(static_cast<std::uint32_t>(crc));
}

bool deflateAll(std::span<const std::uint8_t> raw, int level, std::vector<std::uint8_t>& out) {
  z_stream stream{};
  if (deflateInit(&stream, level) != Z_OK) return false;
  out.resize(deflateBound(&stream, static_cast<uLong>(raw.size())));
  stream.next_in = const_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return result == Z_STREAM_END;
}

}  // namespace

bool encodePng(const PngEncoding& encoding, std::span<const std::uint8_t> samples, std::vector<std::uint8_t>& png) {
  png.clear();
  if (!isValidEncoding(encoding)) return false;
  const std::size_t bits_per_pixel = static_cast<std::size_t>(channelsOf(encoding.colour_type)) * encoding.bit_depth;
  const std::size_t row_bytes = (encoding.width * bits_per_pixel + 7) / 8;
  const std::size_t pixel_bytes = std::max<std::size_t>(1, bits_per_pixel / 8);
  if (samples.size() != row_bytes * encoding.height) return false;
  // zlib takes 32-bit lengths.
  if ((row_bytes + 1) * encoding.height > 0xFFFFFFF0u) return false;

  std::vector<std::uint8_t> raw((row_bytes + 1) * encoding.height);
  const std::vector<std::uint8_t> zero_row(row_bytes, 0);
  std::vector<std::uint8_t> trial(row_bytes);
  for (std::uint32_t y = 0; y < encoding.height; ++y) {
    const auto row = samples.subspan(y * row_bytes, row_bytes);
    const auto previous =
        y == 0 ? std::span<const std::uint8_t>(zero_row) : samples.subspan((y - 1) * row_bytes, row_bytes);
    std::uint8_t* out = raw.data() + y * (row_bytes + 1);
    int chosen = static_cast<int>(encoding.filters);
    if (encoding.filters == PngFilters::Adaptive) {
      std::uint64_t best = UINT64_MAX;
      for (int filter = 0; filter <= 4; ++filter) {
        filterRow(filter, row, previous, pixel_bytes, trial.data());
        const std::uint64_t cost = filteredCost(trial);
        if (cost < best) {
          best = cost;
          chosen = filter;
        }
      }
    }
    out[0] = static_cast<std::uint8_t>(chosen);
    filterRow(chosen, row, previous, pixel_bytes, out + 1);
  }
  std::vector<std::uint8_t> compressed;
  if (!deflateAll(raw, encoding.compression_level, compressed)) return false;

  ByteWriter writer(png);
  writer.writeText("\x89PNG\r\n\x1a\n");
  std::vector<std::uint8_t> header;
  ByteWriter header_writer(header);
  header_writer.writeU32BigEndian(encoding.width);
  header_writer.writeU32BigEndian(encoding.height);
  const std::uint8_t rest[] = {encoding.bit_depth, static_cast<std::uint8_t>(encoding.colour_type), 0, 0, 0};
  header_writer.writeBytes(rest);
  writeChunk(writer, "IHDR", header);
  if (!encoding.palette.empty()) writeChunk(writer, "PLTE", encoding.palette);
  if (!encoding.transparency.empty()) writeChunk(writer, "tRNS", encoding.transparency);
  writeChunk(writer, "IDAT", compressed);
  writeChunk(writer, "IEND", {});
  return true;
}

}  // namespace vesmara
