#include "index/external_index.h"

#include <optional>
#include <string_view>

#include "base/base64url.h"
#include "base/byte_reader.h"
#include "base/byte_writer.h"
#include "base/decimal.h"
#include "base/hex.h"
#include "base/wipe.h"
#include "hosts/checked_fetch.h"
#include "index/carrier_format.h"
#include "index/document_fields.h"
#include "index/index_format.h"
#include "index/memory_host.h"
#include "index/paths.h"
#include "json/json.h"

namespace vesmara {
namespace {

using namespace carrier;

// The bound of the sealed-range request, and the larger of its two body limits.
constexpr std::uint64_t kSealedRangeBound = kMaxSealedIndexLength;
constexpr std::uint64_t kWholeCarrierLimit = kMaxPayloadLength;

std::string_view asText(std::span<const std::uint8_t> bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool isValidSealedRange(std::uint64_t offset, std::uint64_t length) {
  return length >= kMinSealedIndexLength && length <= kMaxSealedIndexLength && offset <= UINT64_MAX - length;
}

bool readLocatorMembers(const JsonValue& object, PrivateIndexLocator& locator) {
  const auto text = [&object](std::string_view key, std::string& out) {
    const std::optional<JsonValue> member = object.findMember(key);
    return member && readJsonString(*member, out);
  };
  std::string algorithm;
  std::string digest;
  std::string nonce;
  std::string key;
  const WipedOnExit<std::string> wipe_key(key);
  return text(field::kUrl, locator.url) && isExternalCarrierPath(locator.url) &&
         readRequiredUnsignedMember(object, field::kOffset, locator.offset) &&
         readRequiredUnsignedMember(object, field::kLength, locator.length) &&
         isValidSealedRange(locator.offset, locator.length) && text(field::kAlgorithm, algorithm) &&
         algorithm == kAlgorithmAes256Gcm && text(field::kSha256, digest) && decodeLowerHex(digest, locator.sha256) &&
         text(field::kNonce, nonce) && decodeLowerHex(nonce, locator.nonce) && text(field::kKey, key) &&
         decodeLowerHex(key, locator.key.mutableBytes());
}

// The one request to the origin: the sealed range of the external carrier.
// A server that ignores the range may send the whole file, up to 16 MiB.
bool fetchSealedRange(HttpHost& transport, const PrivateIndexLocator& locator, HttpResponse& response,
                      CheckedBytes& fetched, Failure& failure) {
  const CheckedRequest request{.path = locator.url,
                               .first = locator.offset,
                               .last = locator.offset + locator.length - 1,
                               .bound = kSealedRangeBound,
                               .whole_body_limit = kWholeCarrierLimit,
                               .cancelled_before = "Index load cancelled"};
  const CheckedFetchMessages messages{.unsafe = "External index carrier response is unsafe",
                                      .bad_range = "External index range mismatch",
                                      .short_whole = "External index fallback is too short"};
  return fetchChecked(transport, request, messages, response, fetched, failure);
}

}  // namespace

bool parseKeyFile(std::span<const std::uint8_t> material, PrivateIndexLocator& locator, Failure& failure) {
  std::string_view text = asText(material);
  if (!text.starts_with(kKeyFilePrefix)) return failure.fail(FailureKind::InvalidData, "Invalid external key file");
  text.remove_prefix(kKeyFilePrefix.size());
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  if (text.size() < kMinKeyTokenText || text.size() > kMaxKeyTokenText) {
    return failure.fail(FailureKind::InvalidData, "Invalid external key length");
  }
  std::vector<std::uint8_t> token;
  const WipedOnExit<std::vector<std::uint8_t>> wipe_token(token);
  if (!decodeBase64Url(text, token) || token.size() <= kTokenFixedLength) {
    return failure.fail(FailureKind::InvalidData, "Invalid external key token");
  }
  ByteReader reader(token);
  std::uint8_t path_length = 0;
  if (!reader.readExpected(kKeyTokenMagic) || !reader.readU8(path_length) ||
      token.size() != kTokenFixedLength + path_length) {
    return failure.fail(FailureKind::InvalidData, "Invalid external key token");
  }
  std::uint32_t length = 0;
  std::span<const std::uint8_t> digest;
  std::span<const std::uint8_t> nonce;
  std::span<const std::uint8_t> key;
  std::span<const std::uint8_t> url;
  // The token's size was checked: these reads do not fail.
  if (!reader.readU64BigEndian(locator.offset) || !reader.readU32BigEndian(length) ||
      !reader.readBytes(kSha256Length, digest) || !reader.readBytes(kGcmNonceLength, nonce) ||
      !reader.readBytes(kAesKeyLength, key) || !reader.readBytes(path_length, url)) {
    return failure.fail(FailureKind::InvalidData, "Invalid external key token");
  }
  locator.url.assign(asText(url));
  if (!isExternalCarrierPath(locator.url)) {
    return failure.fail(FailureKind::InvalidData, "Invalid external index carrier path or offset");
  }
  locator.length = length;
  if (!isValidSealedRange(locator.offset, locator.length)) {
    return failure.fail(FailureKind::InvalidData, "Invalid encrypted index length " + formatUnsignedDecimal(length));
  }
  std::copy(digest.begin(), digest.end(), locator.sha256.begin());
  std::copy(nonce.begin(), nonce.end(), locator.nonce.begin());
  locator.key.assign(key.first<kAesKeyLength>());
  failure.clear();
  return true;
}

bool readIcoCredential(const HttpHost& transport, CryptoHost& crypto, std::span<const std::uint8_t> material,
                       PrivateIndexLocator& locator, Failure& failure) {
  if (material.size() < kMinCredentialLength || material.size() > kMaxCredentialLength) {
    return failure.fail(FailureKind::InvalidData, "Invalid external ICO credential length");
  }
  std::string document;
  const WipedOnExit<std::string> wipe_document(document);
  {
    MemoryHost credential(SecureBytes(material.begin(), material.end()), transport);
    std::string ignored_digest;
    if (!readCarrierDocument(credential, crypto, document, ignored_digest, failure)) return false;
  }
  JsonValue root;
  if (!parseJsonDocument(document, kCredentialJsonLimit, root, failure)) return false;
  const std::optional<JsonValue> private_index = root.findMember(field::kPrivateIndex);
  if (root.kind() != JsonKind::Object || root.findMember(field::kWebApp) || !private_index ||
      private_index->kind() != JsonKind::Object || private_index->size() != kCredentialLocatorMembers) {
    return failure.fail(FailureKind::InvalidData, "ICO credential has no unambiguous private index");
  }
  if (!readLocatorMembers(*private_index, locator)) {
    return failure.fail(FailureKind::InvalidData, "Invalid private index locator in ICO credential");
  }
  failure.clear();
  return true;
}

std::vector<std::uint8_t> privateIndexAdditionalData(std::string_view url, std::uint64_t offset) {
  std::vector<std::uint8_t> aad;
  ByteWriter(aad).writeZeroSeparated({kPrivateIndexLabel, url, formatUnsignedDecimal(offset)});
  return aad;
}

SecureBytes buildSyntheticFavicon(SecureBytes container, const Sha256Digest& container_digest) {
  std::vector<std::uint8_t> footer;
  ByteWriter writer(footer);
  writer.writeText(kFooterMagic);
  writer.writeU16(kFooterVersionPlain);
  writer.writeU16(static_cast<std::uint16_t>(kFooterLength));
  writer.writeZeros(kFooterIconLengthAt - kFooterReservedAt);
  writer.writeU64(0);  // icon length
  writer.writeU64(0);  // payload offset
  writer.writeU64(container.size());
  writer.writeBytes(container_digest);
  writer.writeZeros(kFooterLength - kFooterUnusedAt);
  container.insert(container.end(), footer.begin(), footer.end());
  return container;
}

bool loadExternalIndex(HttpHost& transport, CryptoHost& crypto, std::span<const std::uint8_t> material,
                       LoadedIndex& holder, Failure& failure) {
  failure.kind = FailureKind::InvalidData;
  PrivateIndexLocator locator;
  const bool located = asText(material).starts_with(kKeyFilePrefix)
                           ? parseKeyFile(material, locator, failure)
                           : readIcoCredential(transport, crypto, material, locator, failure);
  if (!located) return false;

  HttpResponse response;
  const WipedOnExit<std::vector<std::uint8_t>> wipe_response(response.body);
  CheckedBytes fetched;
  if (!fetchSealedRange(transport, locator, response, fetched, failure)) return false;
  const std::span<const std::uint8_t> sealed = fetched.requested;

  Sha256Digest digest{};
  if (!computeSha256(crypto, sealed, digest)) {
    return failure.fail(FailureKind::Provider, "External index SHA-256 provider failed");
  }
  if (digest != locator.sha256)
    return failure.fail(FailureKind::Integrity, "External index ciphertext digest mismatch");

  SecureBytes container;
  const GcmResult opened = crypto.aesGcmDecryptDetailed(
      locator.key.bytes(), locator.nonce, privateIndexAdditionalData(locator.url, locator.offset), sealed, container);
  if (opened == GcmResult::ProviderFailed) {
    return failure.fail(FailureKind::Provider, "External index AES-GCM provider failed");
  }
  if (opened != GcmResult::Ok || container.size() < kMinPayloadLength || container.size() > kMaxPayloadLength) {
    return failure.fail(FailureKind::Authentication, "External index key or authentication failed");
  }
  locator.key.wipe();
  wipeVector(response.body);

  Sha256Digest container_digest{};
  if (!computeSha256(crypto, container, container_digest)) {
    return failure.fail(FailureKind::Provider, "Index hash provider failed");
  }
  MemoryHost synthetic(buildSyntheticFavicon(std::move(container), container_digest), transport);
  return loadHostedIndex(synthetic, crypto, holder, failure);
}

}  // namespace vesmara
