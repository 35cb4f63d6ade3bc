#include "retrieval/part_decode.h"

#include "base/hex.h"
#include "retrieval/part_format.h"

namespace vesmara {
namespace {

bool checkPartDigest(const ResourcePart& part, CryptoHost& crypto, std::span<const std::uint8_t> bytes,
                     Failure& failure) {
  Sha256Digest digest{};
  if (!computeSha256(crypto, bytes, digest)) return failure.fail(FailureKind::Provider, "Part SHA-256 provider failed");
  if (encodeLowerHex(digest) != part.sha256) {
    return failure.fail(FailureKind::Integrity, part.url + ": part digest mismatch");
  }
  return true;
}

bool removeKeystream(const SiteIndex& index, const Resource& resource, std::size_t part_index, CryptoHost& crypto,
                     std::span<const std::uint8_t> stored, SecureBytes& plain, Failure& failure) {
  SecretKey key;
  if (!decodeLowerHex(index.encoding_key, key.mutableBytes())) {
    return failure.fail(FailureKind::InvalidData, "Invalid website key");
  }
  Sha256Digest seed_digest{};
  if (!computeSha256(crypto, keystreamCounterSeed(resource.path, part_index), seed_digest)) {
    return failure.fail(FailureKind::Provider, "Counter digest failed");
  }
  const CounterBlock counter = std::span<const std::uint8_t>(seed_digest).first<kAesBlockLength>();
  if (!crypto.aesCtrTransform(key.bytes(), counter, stored, plain) || plain.size() != stored.size()) {
    return failure.fail(FailureKind::Provider, "Website decoding failed");
  }
  return true;
}

// `sealed` may be `plain` itself.
bool openMemberSealing(const Resource& resource, std::size_t part_index, const ResourcePart& part,
                       const SecretKey* member_key, CryptoHost& crypto, std::span<const std::uint8_t> sealed,
                       SecureBytes& plain, Failure& failure) {
  if (member_key == nullptr) return failure.fail(FailureKind::Authentication, "Member content key required");
  std::array<std::uint8_t, kGcmNonceLength> nonce{};
  if (!decodeLowerHex(part.nonce, nonce)) return failure.fail(FailureKind::InvalidData, "Invalid member nonce");
  SecureBytes opened;
  const GcmResult result = crypto.aesGcmDecryptDetailed(
      member_key->bytes(), nonce, memberSealingData(resource, part_index, part.plain_length), sealed, opened);
  if (result == GcmResult::ProviderFailed) {
    return failure.fail(FailureKind::Provider, "Member AES-GCM provider failed");
  }
  if (result != GcmResult::Ok || opened.size() != part.plain_length) {
    return failure.fail(FailureKind::Authentication, "Member key or part authentication failed");
  }
  // Copied into the part buffer rather than swapped, so the buffer keeps the
  // storage the read reserved once (no growth, no stray copies).
  plain.assign(opened.begin(), opened.end());
  return true;
}

}  // namespace

bool decodePart(const SiteIndex& index, const Resource& resource, std::size_t part_index, const ResourcePart& part,
                const SecretKey* member_key, CryptoHost& crypto, std::span<const std::uint8_t> stored,
                SecureBytes& plain, Failure& failure) {
  if (!checkPartDigest(part, crypto, stored, failure)) return false;
  const bool keystream = !index.encoding_key.empty();
  const bool sealed = isMembersResource(index, resource);
  // Each step reads where the one before left the bytes: the keystream
  // writes the plain bytes straight from the stored ones, so no step copies
  // a part only to transform it in place.
  if (keystream && !removeKeystream(index, resource, part_index, crypto, stored, plain, failure)) return false;
  if (sealed) {
    const std::span<const std::uint8_t> input = keystream ? std::span<const std::uint8_t>(plain) : stored;
    if (!openMemberSealing(resource, part_index, part, member_key, crypto, input, plain, failure)) return false;
  }
  if (!keystream && !sealed) plain.assign(stored.begin(), stored.end());
  if (plain.size() != part.plain_length) return failure.fail(FailureKind::Integrity, "Decoded part length mismatch");
  return true;
}

}  // namespace vesmara
