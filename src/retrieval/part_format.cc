#include "retrieval/part_format.h"

#include "base/byte_writer.h"
#include "base/decimal.h"

namespace vesmara {

std::vector<std::uint8_t> keystreamCounterSeed(std::string_view resource_path, std::size_t part_index) {
  std::vector<std::uint8_t> seed;
  ByteWriter writer(seed);
  writer.writeText(kKeystreamCounterLabel);
  writer.writeU8(0);
  writer.writeText(resource_path);
  writer.writeU8(0);
  writer.writeText(formatUnsignedDecimal(part_index));
  return seed;
}

std::vector<std::uint8_t> memberSealingData(const Resource& resource, std::size_t part_index,
                                            std::uint64_t plain_length) {
  std::vector<std::uint8_t> data;
  ByteWriter writer(data);
  writer.writeText(kMemberSealingLabel);
  writer.writeU8(0);
  writer.writeText(resource.path);
  writer.writeU8(0);
  writer.writeText(resource.mime);
  writer.writeU8(0);
  writer.writeText(formatUnsignedDecimal(part_index));
  writer.writeU8(0);
  writer.writeText(formatUnsignedDecimal(plain_length));
  return data;
}

}  // namespace vesmara
