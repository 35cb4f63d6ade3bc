// Verifying and unwrapping the stored bytes of one part: its digest, the
// site keystream, the member sealing, its plain length — in that order.
#ifndef VESMARA_RETRIEVAL_PART_DECODE_H_
#define VESMARA_RETRIEVAL_PART_DECODE_H_

#include <cstdint>
#include <span>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"

namespace vesmara {

// Checks `stored` (the part's stored bytes) and puts its plain bytes into
// `plain`, which may keep its earlier size and storage (the bytes are
// overwritten). `member_key` is null when the caller gave none.
bool decodePart(const SiteIndex& index, const Resource& resource, std::size_t part_index, const ResourcePart& part,
                const SecretKey* member_key, CryptoHost& crypto, std::span<const std::uint8_t> stored,
                SecureBytes& plain, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_PART_DECODE_H_
