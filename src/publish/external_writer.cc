#include "publish/external_writer.h"

#include "base/base64url.h"
#include "base/byte_writer.h"
#include "base/hex.h"
#include "base/wipe.h"
#include "index/carrier_format.h"
#include "index/document_fields.h"
#include "index/index_format.h"
#include "index/paths.h"
#include "publish/carrier_writer.h"
#include "publish/json_writer.h"

namespace vesmara::publish {
namespace {

using namespace carrier;

constexpr std::string_view kInvalidPath = "Invalid external index carrier path";
constexpr std::string_view kInvalidLength = "Invalid encrypted index length";

bool checkLocator(const PrivateIndexLocator& locator, Failure& failure) {
  if (!isExternalCarrierPath(locator.url) || locator.url.size() > kMaxTokenPathLength) {
    return failure.fail(FailureKind::InvalidData, kInvalidPath);
  }
  if (locator.length < kMinSealedIndexLength || locator.length > kMaxSealedIndexLength ||
      locator.offset > UINT64_MAX - locator.length) {
    return failure.fail(FailureKind::InvalidData, kInvalidLength);
  }
  return true;
}

}  // namespace

bool sealPrivateIndex(CryptoHost& crypto, std::span<const std::uint8_t> container, PrivateIndexLocator& locator,
                      std::vector<std::uint8_t>& sealed, Failure& failure) {
  if (container.size() < kMinPayloadLength || container.size() > kMaxPayloadLength) {
    return failure.fail(FailureKind::InvalidData, "Private index container size out of range");
  }
  if (!crypto.aesGcmEncrypt(locator.key.bytes(), locator.nonce,
                            privateIndexAdditionalData(locator.url, locator.offset), container, sealed) ||
      !computeSha256(crypto, sealed, locator.sha256)) {
    return failure.fail(FailureKind::Provider, "Crypto provider failed");
  }
  locator.length = sealed.size();
  return checkLocator(locator, failure);
}

bool writeKeyFile(const PrivateIndexLocator& locator, std::string& text, Failure& failure) {
  if (!checkLocator(locator, failure)) return false;
  std::vector<std::uint8_t> token;
  const WipedOnExit<std::vector<std::uint8_t>> wipe_token(token);
  ByteWriter writer(token);
  writer.writeText(kKeyTokenMagic);
  if (!writer.writeU8Checked(locator.url.size())) return failure.fail(FailureKind::InvalidData, kInvalidPath);
  writer.writeU64BigEndian(locator.offset);
  if (!writer.writeU32BigEndianChecked(locator.length)) return failure.fail(FailureKind::InvalidData, kInvalidLength);
  writer.writeBytes(locator.sha256);
  writer.writeBytes(locator.nonce);
  writer.writeBytes(locator.key.bytes());
  writer.writeText(locator.url);
  text = std::string(kKeyFilePrefix) + encodeBase64Url(token) + "\n";
  return true;
}

bool writeIcoCredential(CryptoHost& crypto, const PrivateIndexLocator& locator, std::span<const std::uint8_t> icon,
                        std::uint16_t footer_version, std::vector<std::uint8_t>& credential, Failure& failure) {
  if (!checkLocator(locator, failure)) return false;
  JsonWriter json;
  json.beginObject().key(field::kPrivateIndex).beginObject();
  json.member(field::kUrl, locator.url).member(field::kOffset, locator.offset);
  json.member(field::kLength, locator.length).member(field::kAlgorithm, kAlgorithmAes256Gcm);
  json.member(field::kSha256, encodeLowerHex(locator.sha256));
  json.member(field::kNonce, encodeLowerHex(locator.nonce));
  json.member(field::kKey, encodeLowerHex(locator.key.bytes()));
  json.endObject().endObject();
  std::string document = json.take();
  const WipedOnExit<std::string> wipe_document(document);
  std::vector<std::uint8_t> container;
  const WipedOnExit<std::vector<std::uint8_t>> wipe_container(container);
  return buildContainer(crypto, defaultBootstrap(), document, container, failure) &&
         buildFavicon(crypto, icon, container, footer_version, credential, failure);
}

}  // namespace vesmara::publish
