// What the stored form of a part is derived from, shared by the reader that
// decodes parts (src/retrieval) and the publisher that encodes them
// (src/publish) so the two cannot drift apart.
#ifndef VESMARA_RETRIEVAL_PART_FORMAT_H_
#define VESMARA_RETRIEVAL_PART_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "index/site_index.h"

namespace vesmara {

inline constexpr std::string_view kKeystreamCounterLabel = "VKR1-SITE-CTR";
inline constexpr std::string_view kMemberSealingLabel = "VKR1-SEALED";

// The seed whose digest starts the keystream of part `part_index`:
// label, 0, resource path, 0, part index in decimal.
std::vector<std::uint8_t> keystreamCounterSeed(std::string_view resource_path, std::size_t part_index);

// The additional data sealing a members part: label, 0, path, 0, media type,
// 0, part index, 0, plain length (numbers in decimal).
std::vector<std::uint8_t> memberSealingData(const Resource& resource, std::size_t part_index,
                                            std::uint64_t plain_length);

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_PART_FORMAT_H_
