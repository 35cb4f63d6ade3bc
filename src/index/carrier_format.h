// Layouts of the index carriers, shared by their readers (src/index) and
// their writers (src/publish) so the two cannot drift apart.
//
// A hosted favicon is: icon bytes, a container payload, a 128-byte footer.
// All integers of the footer and the container header are little-endian.
#ifndef VESMARA_INDEX_CARRIER_FORMAT_H_
#define VESMARA_INDEX_CARRIER_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesmara::carrier {

// ---- Footer: the last 128 bytes of the favicon --------------------------
inline constexpr std::string_view kFooterMagic = "VKR1TAIL";
inline constexpr std::size_t kFooterLength = 128;
inline constexpr std::uint16_t kFooterVersionPlain = 1;     // no prefix digest
inline constexpr std::uint16_t kFooterVersionPrefixed = 2;  // carries a prefix digest
// Field offsets.
inline constexpr std::size_t kFooterVersionAt = 8;
inline constexpr std::size_t kFooterLengthAt = 10;
inline constexpr std::size_t kFooterReservedAt = 12;  // 4 zero bytes
inline constexpr std::size_t kFooterIconLengthAt = 16;
inline constexpr std::size_t kFooterPayloadOffsetAt = 24;
inline constexpr std::size_t kFooterPayloadLengthAt = 32;
inline constexpr std::size_t kFooterPayloadDigestAt = 40;   // 32 bytes
inline constexpr std::size_t kFooterUnusedAt = 72;          // 32 bytes, not examined
inline constexpr std::size_t kFooterPrefixDigestAt = 104;   // 24 bytes
inline constexpr std::size_t kPrefixDigestLength = 24;

// ---- Container: the payload ----------------------------------------------
inline constexpr std::string_view kContainerMagic = std::string_view("VKR1DOC\0", 8);
inline constexpr std::uint16_t kContainerVersion = 1;
inline constexpr std::size_t kContainerHeaderLength = 4096;
inline constexpr std::uint64_t kMinPayloadLength = 4096;
inline constexpr std::uint64_t kMaxPayloadLength = 16777216;
inline constexpr std::uint64_t kMaxManifestLength = 1048576;
// Header field offsets.
inline constexpr std::size_t kHeaderVersionAt = 8;
inline constexpr std::size_t kHeaderLengthAt = 10;
inline constexpr std::size_t kHeaderReservedAt = 12;  // 4 zero bytes
inline constexpr std::size_t kHeaderContainerLengthAt = 16;
inline constexpr std::size_t kHeaderManifestOffsetAt = 24;
inline constexpr std::size_t kHeaderManifestLengthAt = 32;
inline constexpr std::size_t kHeaderBootstrapOffsetAt = 40;
inline constexpr std::size_t kHeaderBootstrapLengthAt = 48;
inline constexpr std::size_t kHeaderManifestDigestAt = 56;
inline constexpr std::size_t kHeaderBootstrapDigestAt = 88;
inline constexpr std::size_t kHeaderTailReservedAt = 120;  // zero up to the header's end

// ---- Section manifest (JSON) -----------------------------------------------
inline constexpr std::string_view kManifestFormat = "vkr.sections.v1";
inline constexpr std::string_view kSectionType = "vkr.document.v1";
inline constexpr std::string_view kBootstrapSectionId = "bootstrap";
inline constexpr std::string_view kDocumentSectionId = "document";

// ---- Bootstrap section (JSON): not read by the library --------------------
inline constexpr std::string_view kBootstrapFormat = "vkr.bootstrap.v1";

// ---- External key material ---------------------------------------------------
// The most key material (a key file or an ICO credential) a caller may give.
inline constexpr std::uint64_t kMaxExternalInput = 1048576;  // 1 MiB
inline constexpr std::string_view kKeyFilePrefix = "VKRKEY1:";
inline constexpr std::string_view kKeyTokenMagic = "VKQ1";
inline constexpr std::size_t kMinKeyTokenText = 124;
inline constexpr std::size_t kMaxKeyTokenText = 464;
// Token field offsets (big-endian integers).
inline constexpr std::size_t kTokenPathLengthAt = 4;  // 1 byte
inline constexpr std::size_t kTokenOffsetAt = 5;      // 8 bytes
inline constexpr std::size_t kTokenLengthAt = 13;     // 4 bytes
inline constexpr std::size_t kTokenDigestAt = 17;     // 32 bytes
inline constexpr std::size_t kTokenNonceAt = 49;      // 12 bytes
inline constexpr std::size_t kTokenKeyAt = 61;        // 32 bytes
inline constexpr std::size_t kTokenFixedLength = 93;  // then the path
inline constexpr std::size_t kMaxTokenPathLength = 255;  // its length is one byte

inline constexpr std::uint64_t kMinSealedIndexLength = 17;
inline constexpr std::uint64_t kMaxSealedIndexLength = 16777232;  // 16 MiB + the GCM tag
inline constexpr std::uint64_t kMinCredentialLength = 4224;
inline constexpr std::uint64_t kMaxCredentialLength = 16842752;  // 16 MiB + 64 KiB

// The document of an ICO credential: one object member naming the sealed
// private index, with exactly seven members.
inline constexpr std::size_t kCredentialLocatorMembers = 7;

// Additional data binding a sealed private index to its place:
// label, 0, carrier path, 0, offset in decimal.
inline constexpr std::string_view kPrivateIndexLabel = "VKR1-PRIVATE-INDEX";

}  // namespace vesmara::carrier

#endif  // VESMARA_INDEX_CARRIER_FORMAT_H_
