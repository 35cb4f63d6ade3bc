#include "publish/carrier_writer.h"

#include "base/byte_reader.h"
#include "base/byte_writer.h"
#include "base/hex.h"
#include "index/carrier_format.h"
#include "index/document_fields.h"
#include "index/paths.h"
#include "publish/json_writer.h"

namespace vesmara::publish {
namespace {

using namespace carrier;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string renderManifest(const Sha256Digest& bootstrap_digest, std::uint64_t bootstrap_length,
                           const Sha256Digest& document_digest, std::uint64_t document_length,
                           std::uint64_t manifest_length) {
  const std::uint64_t bootstrap_offset = kContainerHeaderLength + manifest_length;
  const auto section = [](JsonWriter& json, std::string_view id, const Sha256Digest& digest, std::uint64_t offset,
                          std::uint64_t length) {
    json.beginObject().member(field::kId, id).member(field::kType, kSectionType);
    json.member(field::kSha256, encodeLowerHex(digest)).member(field::kOffset, offset);
    json.member(field::kLength, length).endObject();
  };
  JsonWriter json;
  json.beginObject().member(field::kFormat, kManifestFormat).key(field::kSections).beginArray();
  section(json, kBootstrapSectionId, bootstrap_digest, bootstrap_offset, bootstrap_length);
  section(json, kDocumentSectionId, document_digest, bootstrap_offset + bootstrap_length, document_length);
  json.endArray().endObject();
  return json.take();
}

}  // namespace

std::string defaultBootstrap() {
  JsonWriter json;
  json.beginObject().member(field::kFormat, kBootstrapFormat).member(field::kLaunch, launchPath());
  json.endObject();
  return json.take();
}

bool buildContainer(CryptoHost& crypto, std::string_view bootstrap, std::string_view document,
                    std::vector<std::uint8_t>& container, Failure& failure) {
  if (bootstrap.empty() || document.empty()) {
    return failure.fail(FailureKind::InvalidData, "Container sections must not be empty");
  }
  Sha256Digest bootstrap_digest{};
  Sha256Digest document_digest{};
  if (!computeSha256(crypto, bytesOf(bootstrap), bootstrap_digest) ||
      !computeSha256(crypto, bytesOf(document), document_digest)) {
    return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
  }
  // The manifest names offsets that depend on its own length: render until
  // the length it assumes is the length it has.
  std::string manifest;
  std::uint64_t assumed = 0;
  do {
    assumed = manifest.size();
    manifest = renderManifest(bootstrap_digest, bootstrap.size(), document_digest, document.size(), assumed);
  } while (manifest.size() != assumed);

  const std::uint64_t total = kContainerHeaderLength + manifest.size() + bootstrap.size() + document.size();
  if (manifest.size() > kMaxManifestLength || total > kMaxPayloadLength) {
    return failure.fail(FailureKind::InvalidData, "Index document too large for its container");
  }
  Sha256Digest manifest_digest{};
  if (!computeSha256(crypto, bytesOf(manifest), manifest_digest)) {
    return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
  }
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  ByteWriter writer(out);
  writer.writeText(kContainerMagic);
  writer.writeU16(kContainerVersion);
  writer.writeU16(static_cast<std::uint16_t>(kContainerHeaderLength));
  writer.writeZeros(kHeaderContainerLengthAt - kHeaderReservedAt);
  writer.writeU64(total);
  writer.writeU64(kContainerHeaderLength);
  writer.writeU64(manifest.size());
  writer.writeU64(kContainerHeaderLength + manifest.size());
  writer.writeU64(bootstrap.size());
  writer.writeBytes(manifest_digest);
  writer.writeBytes(bootstrap_digest);
  writer.writeZeros(kContainerHeaderLength - kHeaderTailReservedAt);
  writer.writeText(manifest);
  writer.writeText(bootstrap);
  writer.writeText(document);
  container = std::move(out);
  return true;
}

bool buildFavicon(CryptoHost& crypto, std::span<const std::uint8_t> icon, std::span<const std::uint8_t> container,
                  std::uint16_t footer_version, std::vector<std::uint8_t>& favicon, Failure& failure) {
  if (footer_version != kFooterVersionPlain && footer_version != kFooterVersionPrefixed) {
    return failure.fail(FailureKind::InvalidData, "Footer version must be 1 or 2");
  }
  ByteReader header(container);
  std::uint64_t bootstrap_offset = 0;
  std::uint64_t bootstrap_length = 0;
  if (container.size() < kContainerHeaderLength || !header.skip(kHeaderBootstrapOffsetAt) ||
      !header.readU64(bootstrap_offset) || !header.readU64(bootstrap_length) ||
      bootstrap_offset + bootstrap_length > container.size()) {
    return failure.fail(FailureKind::InvalidData, "Not a container");
  }
  Sha256Digest payload_digest{};
  Sha256Digest prefix_digest{};
  if (!computeSha256(crypto, container, payload_digest) ||
      (footer_version == kFooterVersionPrefixed &&
       !computeSha256(crypto, container.first(static_cast<std::size_t>(bootstrap_offset + bootstrap_length)),
                      prefix_digest))) {
    return failure.fail(FailureKind::Provider, "SHA-256 provider failed");
  }
  std::vector<std::uint8_t> out;
  out.reserve(icon.size() + container.size() + kFooterLength);
  ByteWriter writer(out);
  writer.writeBytes(icon);
  writer.writeBytes(container);
  writer.writeText(kFooterMagic);
  writer.writeU16(footer_version);
  writer.writeU16(static_cast<std::uint16_t>(kFooterLength));
  writer.writeZeros(kFooterIconLengthAt - kFooterReservedAt);
  writer.writeU64(icon.size());
  writer.writeU64(icon.size());
  writer.writeU64(container.size());
  writer.writeBytes(payload_digest);
  writer.writeZeros(kFooterPrefixDigestAt - kFooterUnusedAt);
  if (footer_version == kFooterVersionPrefixed) {
    writer.writeBytes(std::span<const std::uint8_t>(prefix_digest).first(kPrefixDigestLength));
  } else {
    writer.writeZeros(kPrefixDigestLength);
  }
  favicon = std::move(out);
  return true;
}

std::vector<std::uint8_t> defaultIcon() {
  std::vector<std::uint8_t> icon;
  ByteWriter writer(icon);
  // ICONDIR: reserved, type 1 (icon), one image.
  writer.writeU16(0);
  writer.writeU16(1);
  writer.writeU16(1);
  // ICONDIRENTRY: 1x1, no palette, 1 plane, 32 bits, 48 bytes at offset 22.
  writer.writeU8(1);
  writer.writeU8(1);
  writer.writeU8(0);
  writer.writeU8(0);
  writer.writeU16(1);
  writer.writeU16(32);
  writer.writeU32(48);
  writer.writeU32(22);
  // BITMAPINFOHEADER: the height counts the colour and the mask rows.
  writer.writeU32(40);
  writer.writeU32(1);
  writer.writeU32(2);
  writer.writeU16(1);
  writer.writeU16(32);
  writer.writeU32(0);
  writer.writeU32(8);
  writer.writeZeros(16);
  // One opaque pixel (BGRA), then the AND mask row padded to four bytes.
  writer.writeU32(0xFF3A6EA5);
  writer.writeU32(0);
  return icon;
}

}  // namespace vesmara::publish
