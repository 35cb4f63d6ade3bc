// The member names of the JSON documents the library reads and the
// publisher writes — the index document, the section manifest, the bootstrap
// section, the ICO credential's document and the game catalogue — in one
// place, so that a writer and its reader cannot drift apart. A name several
// documents use is listed once.
#ifndef VESMARA_INDEX_DOCUMENT_FIELDS_H_
#define VESMARA_INDEX_DOCUMENT_FIELDS_H_

#include <string_view>

namespace vesmara::field {

// Shared by several documents.
inline constexpr std::string_view kFormat = "format";
inline constexpr std::string_view kLaunch = "launch";
inline constexpr std::string_view kUrl = "url";
inline constexpr std::string_view kOffset = "offset";
inline constexpr std::string_view kLength = "length";
inline constexpr std::string_view kSha256 = "sha256";
inline constexpr std::string_view kAlgorithm = "algorithm";
inline constexpr std::string_view kKey = "key";
inline constexpr std::string_view kNonce = "nonce";

// The index document: {"webApp": {...}}.
inline constexpr std::string_view kWebApp = "webApp";
inline constexpr std::string_view kEntry = "entry";
inline constexpr std::string_view kEncoding = "encoding";
inline constexpr std::string_view kEncryption = "encryption";
inline constexpr std::string_view kKeyId = "keyId";
inline constexpr std::string_view kAudioCarriers = "audioCarriers";
inline constexpr std::string_view kResources = "resources";
inline constexpr std::string_view kPath = "path";
inline constexpr std::string_view kMime = "mime";
inline constexpr std::string_view kAccess = "access";
inline constexpr std::string_view kDelivery = "delivery";
inline constexpr std::string_view kParts = "parts";
inline constexpr std::string_view kCodec = "codec";
inline constexpr std::string_view kPlainLength = "plainLength";
inline constexpr std::string_view kPackets = "packets";
inline constexpr std::string_view kLocations = "locations";
inline constexpr std::string_view kIndex = "index";
inline constexpr std::string_view kPacket = "packet";
inline constexpr std::string_view kCopy = "copy";
inline constexpr std::string_view kStartSeconds = "startSeconds";
inline constexpr std::string_view kDurationSeconds = "durationSeconds";

// The section manifest.
inline constexpr std::string_view kSections = "sections";
inline constexpr std::string_view kId = "id";
inline constexpr std::string_view kType = "type";

// The ICO credential's document: {"privateIndex": {...}}.
inline constexpr std::string_view kPrivateIndex = "privateIndex";

// The game catalogue, and its items (kId, kPath and these).
inline constexpr std::string_view kSchema = "schema";
inline constexpr std::string_view kGameId = "gameId";
inline constexpr std::string_view kRevision = "revision";
inline constexpr std::string_view kMinGameVersion = "minGameVersion";
inline constexpr std::string_view kMaxGameVersion = "maxGameVersion";
inline constexpr std::string_view kItems = "items";
inline constexpr std::string_view kKind = "kind";
inline constexpr std::string_view kDependsOn = "dependsOn";

}  // namespace vesmara::field

#endif  // VESMARA_INDEX_DOCUMENT_FIELDS_H_
