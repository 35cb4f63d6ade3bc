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
//   0 magic, 8 version (u16), 10 footer length (u16), 12 four zero bytes,
//   16 icon length, 24 payload offset, 32 payload length (u64 each),
//   40 payload digest (32 bytes), 72 unused (32 bytes, not examined),
//   104 prefix digest (24 bytes).
inline constexpr std::string_view kFooterMagic = "VKR1TAIL";
inline constexpr std::size_t kFooterLength = 128;
inline constexpr std::uint16_t kFooterVersionPlain = 1;     // no prefix digest
inline constexpr std::uint16_t kFooterVersionPrefixed = 2;  // carries a prefix digest
// The offsets the reader and the writer skip to or pad up to; the other
// fields are read and written in order.
inline constexpr std::size_t kFooterReservedAt = 12;
inline constexpr std::size_t kFooterIconLengthAt = 16;
inline constexpr std::size_t kFooterUnusedAt = 72;
inline constexpr std::size_t kFooterPrefixDigestAt = 104;
inline constexpr std::size_t kPrefixDigestLength = 24;

// ---- Container: the payload ----------------------------------------------
inline constexpr std::string_view kContainerMagic = std::string_view("VKR1DOC\0", 8);
inline constexpr std::uint16_t kContainerVersion = 1;
inline constexpr std::size_t kContainerHeaderLength = 4096;
inline constexpr std::uint64_t kMinPayloadLength = 4096;
inline constexpr std::uint64_t kMaxPayloadLength = 16777216;
inline constexpr std::uint64_t kMaxManifestLength = 1048576;
// Header: 0 magic, 8 version (u16), 10 header length (u16), 12 four zero
// bytes, 16 container length, 24 manifest offset, 32 manifest length,
// 40 bootstrap offset, 48 bootstrap length (u64 each), 56 manifest digest,
// 88 bootstrap digest (32 bytes each), 120 zeros up to the header's end.
inline constexpr std::size_t kHeaderReservedAt = 12;
inline constexpr std::size_t kHeaderContainerLengthAt = 16;
inline constexpr std::size_t kHeaderBootstrapOffsetAt = 40;
inline constexpr std::size_t kHeaderTailReservedAt = 120;

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
// Token, big-endian integers: 0 magic, 4 path length (1 byte), 5 offset
// (8 bytes), 13 length (4 bytes), 17 digest (32 bytes), 49 nonce
// (12 bytes), 61 key (32 bytes), 93 the path.
inline constexpr std::size_t kTokenFixedLength = 93;
inline constexpr std::size_t kMaxTokenPathLength = 255;  // its length is one byte

inline constexpr std::uint64_t kMinSealedIndexLength = 17;
inline constexpr std::uint64_t kMaxSealedIndexLength = 16777232;  // 16 MiB + the GCM tag
inline constexpr std::uint64_t kMinCredentialLength = 4224;
inline constexpr std::uint64_t kMaxCredentialLength = 16842752;  // 16 MiB + 64 KiB

// Additional data binding a sealed private index to its place:
// label, 0, carrier path, 0, offset in decimal.
inline constexpr std::string_view kPrivateIndexLabel = "VKR1-PRIVATE-INDEX";

// The document of an ICO credential: one object member naming the sealed
// private index, with exactly seven members.
inline constexpr std::size_t kCredentialLocatorMembers = 7;

}  // namespace vesmara::carrier

#endif  // VESMARA_INDEX_CARRIER_FORMAT_H_
