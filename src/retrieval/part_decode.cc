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
                     SecureBytes& bytes, Failure& failure) {
  SecretKey key;
  if (!decodeLowerHex(index.encoding_key, key.mutableBytes())) {
    return failure.fail(FailureKind::InvalidData, "Invalid website key");
  }
  Sha256Digest seed_digest{};
  if (!computeSha256(crypto, keystreamCounterSeed(resource.path, part_index), seed_digest)) {
    return failure.fail(FailureKind::Provider, "Counter digest failed");
  }
  const std::size_t stored = bytes.size();
  const CounterBlock counter = std::span<const std::uint8_t>(seed_digest).first<kAesBlockLength>();
  if (!crypto.aesCtrTransform(key.bytes(), counter, bytes, bytes) || bytes.size() != stored) {
    return failure.fail(FailureKind::Provider, "Website decoding failed");
  }
  return true;
}

bool openMemberSealing(const Resource& resource, std::size_t part_index, const ResourcePart& part,
                       const SecretKey* member_key, CryptoHost& crypto, SecureBytes& bytes, Failure& failure) {
  if (member_key == nullptr) return failure.fail(FailureKind::Authentication, "Member content key required");
  std::array<std::uint8_t, kGcmNonceLength> nonce{};
  if (!decodeLowerHex(part.nonce, nonce)) return failure.fail(FailureKind::InvalidData, "Invalid member nonce");
  SecureBytes plain;
  const GcmResult result = crypto.aesGcmDecryptDetailed(
      member_key->bytes(), nonce, memberSealingData(resource, part_index, part.plain_length), bytes, plain);
  if (result == GcmResult::ProviderFailed) {
    return failure.fail(FailureKind::Provider, "Member AES-GCM provider failed");
  }
  if (result != GcmResult::Ok || plain.size() != part.plain_length) {
    return failure.fail(FailureKind::Authentication, "Member key or part authentication failed");
  }
  // Copied into the part buffer rather than swapped, so the buffer keeps the
  // storage the read reserved once (no growth, no stray copies).
  bytes.assign(plain.begin(), plain.end());
  return true;
}

}  // namespace

bool decodePart(const SiteIndex& index, const Resource& resource, std::size_t part_index, const ResourcePart& part,
                const SecretKey* member_key, CryptoHost& crypto, SecureBytes& bytes, Failure& failure) {
  if (!checkPartDigest(part, crypto, bytes, failure)) return false;
  if (!index.encoding_key.empty() && !removeKeystream(index, resource, part_index, crypto, bytes, failure)) {
    return false;
  }
  if (isMembersResource(index, resource) &&
      !openMemberSealing(resource, part_index, part, member_key, crypto, bytes, failure)) {
    return false;
  }
  if (bytes.size() != part.plain_length) return failure.fail(FailureKind::Integrity, "Decoded part length mismatch");
  return true;
}

}  // namespace vesmara
