#include "index/hosted_index.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <vector>

#include "base/byte_reader.h"
#include "base/hex.h"
#include "base/wipe.h"
#include "index/carrier_format.h"
#include "index/favicon_fetch.h"
#include "index/index_document.h"
#include "json/json.h"

namespace vesmara {
namespace {

using namespace carrier;

struct Footer {
  std::uint16_t version = 0;
  std::uint64_t icon_length = 0;
  std::uint64_t payload_offset = 0;
  std::uint64_t payload_length = 0;
  Sha256Digest payload_digest{};
  std::array<std::uint8_t, kPrefixDigestLength> prefix_digest{};
};

struct ContainerHeader {
  std::uint64_t container_length = 0;
  std::uint64_t manifest_offset = 0;
  std::uint64_t manifest_length = 0;
  std::uint64_t bootstrap_offset = 0;
  std::uint64_t bootstrap_length = 0;
  std::span<const std::uint8_t> manifest_digest;
  std::span<const std::uint8_t> bootstrap_digest;
};

struct Section {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  Sha256Digest digest{};
};

std::span<const std::uint8_t> slice(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t length) {
  return bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

// The whole read, one step per method, in the order failures must be reported.
class CarrierDocumentReader {
 public:
  CarrierDocumentReader(HttpHost& transport, CryptoHost& crypto, Failure& failure)
      : transport_(transport), crypto_(crypto), failure_(failure) {}

  bool read(std::string& document, std::string& index_digest) {
    // The carrier of an external index holds key material: no copy of it
    // outlives the read.
    HttpResponse footer_response;
    HttpResponse payload_response;
    const WipedOnExit<std::vector<std::uint8_t>> wipe_footer(footer_response.body);
    const WipedOnExit<std::vector<std::uint8_t>> wipe_payload(payload_response.body);
    FaviconFetch fetch;
    std::span<const std::uint8_t> footer_bytes;
    Footer footer;
    if (!fetchFaviconFooter(transport_, fetch, footer_response, footer_bytes, failure_) ||
        !parseFooter(footer_bytes, footer) || !checkFooterLayout(footer, fetch.favicon_length)) {
      return false;
    }

    std::span<const std::uint8_t> payload;
    if (!fetchFaviconPayload(transport_, fetch, footer.payload_offset, footer.payload_length, payload_response, payload,
                             failure_)) {
      return false;
    }
    wipeVector(footer_response.body);  // a server that ignored the range sent a whole favicon: free it
    if (!checkDigest(payload, footer.payload_digest, "VKR payload digest mismatch")) return false;

    ContainerHeader header;
    if (!parseContainerHeader(payload, header)) return false;
    std::span<const std::uint8_t> document_bytes;
    if (!readSections(payload, header, document_bytes)) return false;
    if (footer.version == kFooterVersionPrefixed &&
        !checkDigest(payload.first(static_cast<std::size_t>(header.bootstrap_offset + header.bootstrap_length)),
                     footer.prefix_digest, "Invalid VKR prefix digest")) {
      return false;
    }
    document.assign(document_bytes.begin(), document_bytes.end());
    index_digest = encodeLowerHex(footer.payload_digest);
    failure_.clear();
    return true;
  }

 private:
  bool fail(std::string_view message) { return failure_.fail(FailureKind::InvalidData, message); }
  bool failIntegrity(const char* message) { return failure_.fail(FailureKind::Integrity, message); }

  // Hashes `bytes` in one pass and compares the first expected.size() bytes.
  bool checkDigest(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> expected, const char* mismatch) {
    Sha256Digest digest{};
    if (!computeSha256(crypto_, bytes, digest)) {
      return failure_.fail(FailureKind::Provider, "Index SHA-256 provider failed");
    }
    if (!std::equal(expected.begin(), expected.end(), digest.begin())) return failIntegrity(mismatch);
    return true;
  }

  bool parseFooter(std::span<const std::uint8_t> bytes, Footer& footer) {
    ByteReader reader(bytes);
    std::uint16_t footer_length = 0;
    if (!reader.readExpected(kFooterMagic) || !reader.readU16(footer.version) || !reader.readU16(footer_length) ||
        !reader.readZeros(4)) {
      // The version and length are read here only to reach the reserved bytes.
      return fail("No valid VKR footer");
    }
    if ((footer.version != kFooterVersionPlain && footer.version != kFooterVersionPrefixed) ||
        footer_length != kFooterLength) {
      return fail("Unsupported VKR footer");
    }
    // The rest of the 128 bytes is there: the reads below do not fail.
    std::span<const std::uint8_t> payload_digest;
    std::span<const std::uint8_t> prefix_digest;
    if (!reader.readU64(footer.icon_length) || !reader.readU64(footer.payload_offset) ||
        !reader.readU64(footer.payload_length) || !reader.readBytes(kSha256Length, payload_digest) ||
        !reader.skip(kFooterPrefixDigestAt - kFooterUnusedAt) ||
        !reader.readBytes(kPrefixDigestLength, prefix_digest) ||
        (footer.version == kFooterVersionPlain && !ByteReader(prefix_digest).readZeros(kPrefixDigestLength))) {
      return fail("Unsupported VKR footer");
    }
    std::copy(payload_digest.begin(), payload_digest.end(), footer.payload_digest.begin());
    std::copy(prefix_digest.begin(), prefix_digest.end(), footer.prefix_digest.begin());
    return true;
  }

  bool checkFooterLayout(const Footer& footer, std::uint64_t favicon_length) {
    if (footer.icon_length != footer.payload_offset || footer.payload_length < kMinPayloadLength ||
        footer.payload_length > kMaxPayloadLength || footer.payload_offset > favicon_length ||
        footer.payload_length > favicon_length - footer.payload_offset ||
        favicon_length - footer.payload_length - footer.payload_offset != kFooterLength) {
      return fail("Invalid VKR footer layout");
    }
    return true;
  }

  bool parseContainerHeader(std::span<const std::uint8_t> payload, ContainerHeader& header) {
    ByteReader reader(payload.first(kContainerHeaderLength));
    std::uint16_t version = 0;
    std::uint16_t header_length = 0;
    const bool fields_ok =
        reader.readExpected(kContainerMagic) && reader.readU16(version) && reader.readU16(header_length) &&
        reader.readZeros(4) && reader.readU64(header.container_length) && reader.readU64(header.manifest_offset) &&
        reader.readU64(header.manifest_length) && reader.readU64(header.bootstrap_offset) &&
        reader.readU64(header.bootstrap_length) && reader.readBytes(kSha256Length, header.manifest_digest) &&
        reader.readBytes(kSha256Length, header.bootstrap_digest);
    if (!fields_ok || version != kContainerVersion || header_length != kContainerHeaderLength ||
        !reader.readZeros(kContainerHeaderLength - kHeaderTailReservedAt)) {
      return fail("Invalid VKR header");
    }
    if (header.container_length != payload.size() || header.manifest_offset != kContainerHeaderLength ||
        header.manifest_length < 1 || header.manifest_length > kMaxManifestLength ||
        header.manifest_length > payload.size() - kContainerHeaderLength) {
      return fail("Invalid VKR header bounds");
    }
    return checkDigest(slice(payload, kContainerHeaderLength, header.manifest_length), header.manifest_digest,
                       "VKR manifest digest mismatch");
  }

  // Checks one manifest entry against the running offset and the payload.
  bool readSectionEntry(const JsonValue& entry, std::string_view id, std::uint64_t running,
                        std::uint64_t payload_length, Section& section) {
    std::string entry_id;
    std::string type;
    std::string digest_text;
    const std::optional<JsonValue> id_value = entry.findMember("id");
    const std::optional<JsonValue> type_value = entry.findMember("type");
    const std::optional<JsonValue> digest_value = entry.findMember("sha256");
    if (!id_value || !readJsonString(*id_value, entry_id) || entry_id != id || !type_value ||
        !readJsonString(*type_value, type) || type != kSectionType || !digest_value ||
        !readJsonString(*digest_value, digest_text) || digest_text.size() != 2 * kSha256Length ||
        !readRequiredUnsignedMember(entry, "offset", section.offset) || section.offset != running ||
        !readRequiredUnsignedMember(entry, "length", section.length) || section.length < 1 ||
        section.length > payload_length - running) {
      return fail("Invalid VKR section layout");
    }
    if (!decodeLowerHex(digest_text, section.digest)) return fail("Invalid VKR section hash");
    return true;
  }

  bool readSections(std::span<const std::uint8_t> payload, const ContainerHeader& header,
                    std::span<const std::uint8_t>& document) {
    const auto manifest_bytes = slice(payload, kContainerHeaderLength, header.manifest_length);
    JsonValue manifest;
    if (!parseJsonDocument(
            std::string_view(reinterpret_cast<const char*>(manifest_bytes.data()), manifest_bytes.size()),
            kMaxManifestLength, manifest, failure_)) {
      return false;
    }
    std::string format;
    const std::optional<JsonValue> format_value = manifest.findMember("format");
    const std::optional<JsonValue> sections = manifest.findMember("sections");
    if (!format_value || !readJsonString(*format_value, format) || format != kManifestFormat || !sections ||
        sections->kind() != JsonKind::Array || sections->size() != 2) {
      return fail("Invalid VKR section manifest");
    }
    std::uint64_t running = kContainerHeaderLength + header.manifest_length;
    bool is_bootstrap = true;
    for (const JsonValue entry : sections->elements()) {
      Section section;
      if (!readSectionEntry(entry, is_bootstrap ? kBootstrapSectionId : kDocumentSectionId, running, payload.size(),
                            section)) {
        return false;
      }
      const auto bytes = slice(payload, section.offset, section.length);
      if (!checkDigest(bytes, section.digest, "VKR section digest mismatch")) return false;
      if (is_bootstrap) {
        if (section.offset != header.bootstrap_offset || section.length != header.bootstrap_length) {
          return failIntegrity("Invalid VKR bootstrap");
        }
        if (!checkDigest(bytes, header.bootstrap_digest, "Invalid VKR bootstrap")) return false;
      } else {
        document = bytes;
      }
      running += section.length;
      is_bootstrap = false;
    }
    if (running != payload.size()) return fail("Invalid VKR payload layout");
    return true;
  }

  HttpHost& transport_;
  CryptoHost& crypto_;
  Failure& failure_;
};

}  // namespace

bool readCarrierDocument(HttpHost& transport, CryptoHost& crypto, std::string& document, std::string& index_digest,
                         Failure& failure) {
  failure.kind = FailureKind::InvalidData;
  return CarrierDocumentReader(transport, crypto, failure).read(document, index_digest);
}

bool loadHostedIndex(HttpHost& transport, CryptoHost& crypto, LoadedIndex& holder, Failure& failure) {
  std::string document;
  std::string digest;
  const bool read = readCarrierDocument(transport, crypto, document, digest, failure);
  SiteIndex index;
  const bool parsed = read && parseIndexDocument(document, index, failure);
  wipeString(document);  // the plaintext of a private index
  if (!parsed) return false;
  holder.index = std::move(index);
  holder.digest = std::move(digest);
  failure.clear();
  return true;
}

}  // namespace vesmara
