#include "retrieval/part_format.h"

#include "base/byte_writer.h"
#include "base/decimal.h"

namespace vesmara {

std::vector<std::uint8_t> keystreamCounterSeed(std::string_view resource_path, std::size_t part_index) {
  std::vector<std::uint8_t> seed;
  ByteWriter(seed).writeZeroSeparated({kKeystreamCounterLabel, resource_path, formatUnsignedDecimal(part_index)});
  return seed;
}

std::vector<std::uint8_t> memberSealingData(const Resource& resource, std::size_t part_index,
                                            std::uint64_t plain_length) {
  std::vector<std::uint8_t> data;
  ByteWriter(data).writeZeroSeparated({kMemberSealingLabel, resource.path, resource.mime,
                                       formatUnsignedDecimal(part_index), formatUnsignedDecimal(plain_length)});
  return data;
}

}  // namespace vesmara
