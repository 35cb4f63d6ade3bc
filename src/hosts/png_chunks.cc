#include "hosts/png_chunks.h"

#include "base/byte_reader.h"

namespace vesmara {

bool isAnimatedPng(std::span<const std::uint8_t> png) {
  constexpr std::size_t kSignatureLength = 8;
  ByteReader reader(png);
  if (!reader.skip(kSignatureLength)) return false;
  std::uint32_t length = 0;
  while (reader.readU32BigEndian(length)) {
    if (reader.readExpected("acTL")) return true;
    if (reader.readExpected("IDAT")) return false;
    // Type, data and CRC of any other chunk.
    if (!reader.skip(4) || !reader.skip(length) || !reader.skip(4)) return false;
  }
  return false;
}

}  // namespace vesmara
