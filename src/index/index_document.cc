#include "index/index_document.h"

#include <optional>
#include <unordered_set>
#include <utility>

#include "base/hex.h"
#include "index/document_fields.h"
#include "index/paths.h"
#include "json/json.h"

namespace vesmara {
namespace {

constexpr std::uint64_t kMaxStoredMembersPartLength = kMaxPlainPartLength + kGcmTagLength;

// Typed reads of one member. An absent member and a member of the wrong type
// fail alike.
bool readString(const JsonValue& object, std::string_view key, std::string& out) {
  const std::optional<JsonValue> member = object.findMember(key);
  return member && readJsonString(*member, out);
}

bool readUnsignedIn(const JsonValue& object, std::string_view key, std::uint64_t low, std::uint64_t high,
                    std::uint64_t& out) {
  return readRequiredUnsignedMember(object, key, out) && out >= low && out <= high;
}

bool readFinite(const JsonValue& object, std::string_view key, double& out) {
  const std::optional<JsonValue> member = object.findMember(key);
  return member && readJsonFiniteDouble(*member, out);
}

bool readLowerHex(const JsonValue& object, std::string_view key, std::size_t length, std::string& out) {
  return readString(object, key, out) && isLowerHex(out, length);
}

bool isObject(const std::optional<JsonValue>& value) { return value && value->kind() == JsonKind::Object; }

bool isArrayOfSize(const std::optional<JsonValue>& value, std::uint64_t low, std::uint64_t high) {
  return value && value->kind() == JsonKind::Array && value->size() >= low && value->size() <= high;
}

bool isMimeByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '+' || c == '-' || c == '.' || c == '/' ||
         c == ';' || c == '=';
}

bool isValidMime(std::string_view mime) {
  if (mime.empty() || mime.size() > 100 || mime.find('/') == std::string_view::npos) return false;
  for (const char c : mime) {
    if (!isMimeByte(c)) return false;
  }
  return true;
}

// Builds a SiteIndex from a parsed document, one rule at a time, in the
// order the failures must be reported.
class IndexDocumentParser {
 public:
  explicit IndexDocumentParser(Failure& failure) : failure_(failure) {}

  bool parse(const JsonValue& root, SiteIndex& index) {
    const std::optional<JsonValue> web_app = root.findMember(field::kWebApp);
    if (!isObject(web_app)) return fail("Missing webApp index");
    return parseEntry(*web_app, index) && parseEncoding(*web_app, index) && parseEncryption(*web_app, index) &&
           parseAudioCarriers(*web_app, index) && parseResources(*web_app, index) && checkMembers(index) &&
           checkEntry(index);
  }

 private:
  bool fail(const char* message) { return failure_.fail(FailureKind::InvalidData, message); }

  bool parseEntry(const JsonValue& web_app, SiteIndex& index) {
    std::string launch;
    if (!readString(web_app, field::kLaunch, launch) || launch != launchPath() ||
        !readString(web_app, field::kEntry, index.entry) || !isAppPath(index.entry)) {
      return fail("Invalid webApp entry");
    }
    return true;
  }

  bool parseEncoding(const JsonValue& web_app, SiteIndex& index) {
    const std::optional<JsonValue> encoding = web_app.findMember(field::kEncoding);
    if (!encoding) return true;
    std::string algorithm;
    if (encoding->kind() != JsonKind::Object || !readString(*encoding, field::kAlgorithm, algorithm) ||
        algorithm != kAlgorithmAes256Ctr || !readLowerHex(*encoding, field::kKey, 64, index.encoding_key)) {
      return fail("Invalid website encoding key");
    }
    return true;
  }

  bool parseEncryption(const JsonValue& web_app, SiteIndex& index) {
    const std::optional<JsonValue> encryption = web_app.findMember(field::kEncryption);
    if (!encryption) return true;
    std::string algorithm;
    if (encryption->kind() != JsonKind::Object || !readString(*encryption, field::kAlgorithm, algorithm) ||
        algorithm != kAlgorithmAes256Gcm || !readString(*encryption, field::kKeyId, index.member_key_id) ||
        index.member_key_id.empty() || index.member_key_id.size() > kMaxMemberKeyIdLength) {
      return fail("Invalid member key ID");
    }
    return true;
  }

  bool parseAudioCarriers(const JsonValue& web_app, SiteIndex& index) {
    const std::optional<JsonValue> carriers = web_app.findMember(field::kAudioCarriers);
    if (!carriers) return true;
    if (carriers->kind() != JsonKind::Object || carriers->size() < 1 || carriers->size() > kMaxAudioCarriers) {
      return fail("Invalid audio carrier map");
    }
    for (const auto& [path, value] : carriers->members()) {
      AudioCarrier carrier;
      if (!parseAudioCarrier(path, value, carrier)) return false;
      index.audio_carriers.emplace(std::string(path), std::move(carrier));
    }
    return true;
  }

  bool parseAudioCarrier(std::string_view path, const JsonValue& value, AudioCarrier& carrier) {
    std::string format;
    if (!isCarrierPath(path) || !path.ends_with(kAudioCarrierExtension) || value.kind() != JsonKind::Object ||
        !readString(value, field::kFormat, format) || format != kAudioCarrierFormat ||
        !readUnsignedIn(value, field::kLength, 1, kMaxAudioPayload, carrier.length) ||
        !readLowerHex(value, field::kSha256, 64, carrier.sha256)) {
      return fail("Invalid audio carrier metadata");
    }
    const std::optional<JsonValue> packets = value.findMember(field::kPackets);
    const std::optional<JsonValue> locations = value.findMember(field::kLocations);
    if (!isArrayOfSize(packets, 1, kMaxAudioPackets) ||
        !isArrayOfSize(locations, 3 * packets->size(), 3 * packets->size())) {
      return fail("Invalid audio packet catalogue");
    }
    std::uint64_t total = 0;  // at most 32 packets of 128 bytes: cannot overflow
    for (const JsonValue element : packets->elements()) {
      AudioPacket packet;
      std::uint64_t position = 0;
      if (element.kind() != JsonKind::Object || !readRequiredUnsignedMember(element, field::kIndex, position) ||
          position != carrier.packets.size() ||
          !readUnsignedIn(element, field::kLength, 1, kMaxAudioPacketLength, packet.length) ||
          !readLowerHex(element, field::kSha256, 64, packet.sha256)) {
        return fail("Invalid audio packet");
      }
      total += packet.length;
      carrier.packets.push_back(std::move(packet));
    }
    if (total != carrier.length) return fail("Audio packet length mismatch");
    for (const JsonValue element : locations->elements()) {
      AudioPacketLocation location;
      if (element.kind() != JsonKind::Object ||
          !readUnsignedIn(element, field::kPacket, 0, carrier.packets.size() - 1, location.packet) ||
          !readFinite(element, field::kStartSeconds, location.start_seconds) || !(location.start_seconds >= 0) ||
          !readFinite(element, field::kDurationSeconds, location.duration_seconds) ||
          !(location.duration_seconds > 0) ||
          (element.findMember(field::kCopy) && !readUnsignedIn(element, field::kCopy, 0, 2, location.copy))) {
        return fail("Invalid audio packet location");
      }
      carrier.locations.push_back(location);
    }
    return true;
  }

  bool parseResources(const JsonValue& web_app, SiteIndex& index) {
    const std::optional<JsonValue> resources = web_app.findMember(field::kResources);
    if (!isArrayOfSize(resources, 1, kMaxResources)) return fail("Invalid resource count");
    index.resources.reserve(resources->size());
    for (const JsonValue element : resources->elements()) {
      Resource resource;
      if (!parseResource(element, index, resource)) return false;
      index.resources.push_back(std::move(resource));
    }
    return true;
  }

  bool parseResource(const JsonValue& element, const SiteIndex& index, Resource& resource) {
    const std::string_view previous = index.resources.empty() ? std::string_view() : index.resources.back().path;
    if (element.kind() != JsonKind::Object || !readString(element, field::kPath, resource.path) ||
        !isAppPath(resource.path) || !(std::string_view(resource.path) > previous) ||
        !readString(element, field::kMime, resource.mime) || !isValidMime(resource.mime) ||
        !readUnsignedIn(element, field::kLength, 1, kMaxResourceLength, resource.length) ||
        !readLowerHex(element, field::kSha256, 64, resource.sha256) ||
        !readOptionalStringMember(element, field::kAccess, resource.access) ||
        !readOptionalStringMember(element, field::kDelivery, resource.delivery) ||
        (!resource.delivery.empty() && resource.delivery != kDeliveryDownload)) {
      return fail("Invalid webApp resource");
    }
    if (!resource.access.empty() &&
        (index.member_key_id.empty() || (resource.access != kAccessPublic && resource.access != kAccessMembers))) {
      return fail("Invalid resource access");
    }
    const bool members = isMembersResource(index, resource);
    if (members) ++members_resources_;

    const std::optional<JsonValue> parts = element.findMember(field::kParts);
    if (!isArrayOfSize(parts, 1, kMaxPartsPerResource)) return fail("Invalid resource part count");
    resource.parts.reserve(parts->size());
    std::uint64_t sum = 0;
    for (const JsonValue part_element : parts->elements()) {
      ResourcePart part;
      if (!parsePart(part_element, index, members, part)) return false;
      if (sum > resource.length || part.plain_length > resource.length - sum) return fail("Resource length overflow");
      sum += part.plain_length;
      resource.parts.push_back(std::move(part));
    }
    if (sum != resource.length) return fail("Resource length mismatch");
    return true;
  }

  bool parsePart(const JsonValue& element, const SiteIndex& index, bool members, ResourcePart& part) {
    const std::uint64_t max_length = members ? kMaxStoredMembersPartLength : kMaxPlainPartLength;
    if (element.kind() != JsonKind::Object || !readString(element, field::kUrl, part.url) || !isCarrierPath(part.url) ||
        !readRequiredUnsignedMember(element, field::kOffset, part.offset) ||
        !readUnsignedIn(element, field::kLength, 1, max_length, part.length) ||
        !readLowerHex(element, field::kSha256, 64, part.sha256) ||
        !readOptionalStringMember(element, field::kCodec, part.codec)) {
      return fail("Invalid resource part");
    }
    if (!part.codec.empty() && !isMediaCodec(part.codec)) return fail("Unsupported media codec");
    if (part.codec == kCodecWav4Fsk1 && !index.audio_carriers.contains(part.url)) {
      return fail("Missing audio carrier metadata");
    }
    if (!members) {
      part.plain_length = part.length;
      return true;
    }
    if (!readLowerHex(element, field::kNonce, 24, part.nonce) || !nonces_.insert(part.nonce).second ||
        !readUnsignedIn(element, field::kPlainLength, 1, kMaxPlainPartLength, part.plain_length) ||
        part.length != part.plain_length + kGcmTagLength) {
      return fail("Invalid protected part");
    }
    return true;
  }

  bool checkMembers(const SiteIndex& index) {
    if (!index.member_key_id.empty() && members_resources_ == 0) {
      return fail("Index has member key but no protected resource");
    }
    return true;
  }

  bool checkEntry(const SiteIndex& index) {
    const Resource* entry = findResource(index, index.entry);
    if (entry == nullptr || !std::string_view(entry->mime).starts_with("text/html") ||
        entry->delivery == kDeliveryDownload) {
      return fail("WebApp entry is not HTML");
    }
    return true;
  }

  Failure& failure_;
  std::unordered_set<std::string> nonces_;  // one set across every part of the index
  std::uint64_t members_resources_ = 0;
};

}  // namespace

bool parseIndexDocument(std::string_view document, SiteIndex& out, Failure& failure) {
  failure.clear();
  JsonValue root;
  if (!parseJsonDocument(document, kIndexJsonLimit, root, failure)) return false;
  SiteIndex index;
  IndexDocumentParser parser(failure);
  if (!parser.parse(root, index)) return false;
  out = std::move(index);
  return true;
}

}  // namespace vesmara
