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

// `bytes` holds the stored bytes on entry and the plain bytes on success.
// `member_key` is null when the caller gave none.
bool decodePart(const SiteIndex& index, const Resource& resource, std::size_t part_index, const ResourcePart& part,
                const SecretKey* member_key, CryptoHost& crypto, SecureBytes& bytes, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_PART_DECODE_H_
