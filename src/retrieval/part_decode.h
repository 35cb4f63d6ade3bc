// Verifying and unwrapping the stored bytes of one part: its digest, the
// site keystream, the member sealing, its plain length — in that order.
#ifndef VESMARA_RETRIEVAL_PART_DECODE_H_
#define VESMARA_RETRIEVAL_PART_DECODE_H_

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"

namespace vesmara {

// The seed whose digest starts the keystream of part `part_index`:
// label, 0, resource path, 0, part index in decimal.
std::vector<std::uint8_t> keystreamCounterSeed(std::string_view resource_path, std::size_t part_index);

// The additional data sealing a members part: label, 0, path, 0, media type,
// 0, part index, 0, plain length (numbers in decimal).
std::vector<std::uint8_t> memberSealingData(const Resource& resource, std::size_t part_index,
                                            std::uint64_t plain_length);

// `bytes` holds the stored bytes on entry and the plain bytes on success.
// `member_key` is null when the caller gave none.
bool decodePart(const SiteIndex& index, const Resource& resource, std::size_t part_index, const ResourcePart& part,
                const SecretKey* member_key, CryptoHost& crypto, SecureBytes& bytes, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_PART_DECODE_H_
