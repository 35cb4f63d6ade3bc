#include "publish/index_writer.h"

#include "index/document_fields.h"
#include "index/index_document.h"
#include "index/index_format.h"
#include "index/paths.h"
#include "publish/json_writer.h"

namespace vesmara::publish {
namespace {

void writePart(JsonWriter& json, const ResourcePart& part, bool members) {
  json.beginObject().member(field::kUrl, part.url).member(field::kOffset, part.offset);
  json.member(field::kLength, part.length).member(field::kSha256, part.sha256);
  if (!part.codec.empty()) json.member(field::kCodec, part.codec);
  if (members) json.member(field::kNonce, part.nonce).member(field::kPlainLength, part.plain_length);
  json.endObject();
}

void writeResource(JsonWriter& json, const SiteIndex& index, const Resource& resource) {
  json.beginObject().member(field::kPath, resource.path).member(field::kMime, resource.mime);
  json.member(field::kLength, resource.length).member(field::kSha256, resource.sha256);
  if (!resource.access.empty()) json.member(field::kAccess, resource.access);
  if (!resource.delivery.empty()) json.member(field::kDelivery, resource.delivery);
  json.key(field::kParts).beginArray();
  for (const ResourcePart& part : resource.parts) writePart(json, part, isMembersResource(index, resource));
  json.endArray().endObject();
}

void writeAudioCarrier(JsonWriter& json, const AudioCarrier& carrier) {
  json.beginObject().member(field::kFormat, kAudioCarrierFormat).member(field::kLength, carrier.length);
  json.member(field::kSha256, carrier.sha256).key(field::kPackets).beginArray();
  for (std::size_t i = 0; i < carrier.packets.size(); ++i) {
    json.beginObject().member(field::kIndex, static_cast<std::uint64_t>(i));
    json.member(field::kLength, carrier.packets[i].length);
    json.member(field::kSha256, carrier.packets[i].sha256).endObject();
  }
  json.endArray().key(field::kLocations).beginArray();
  for (const AudioPacketLocation& location : carrier.locations) {
    json.beginObject().member(field::kPacket, location.packet).member(field::kCopy, location.copy);
    json.member(field::kStartSeconds, location.start_seconds);
    json.member(field::kDurationSeconds, location.duration_seconds).endObject();
  }
  json.endArray().endObject();
}

}  // namespace

bool writeIndexDocument(const SiteIndex& index, std::string& document, Failure& failure) {
  JsonWriter json;
  json.beginObject().key(field::kWebApp).beginObject();
  json.member(field::kLaunch, launchPath()).member(field::kEntry, index.entry);
  if (!index.encoding_key.empty()) {
    json.key(field::kEncoding).beginObject().member(field::kAlgorithm, kAlgorithmAes256Ctr);
    json.member(field::kKey, index.encoding_key).endObject();
  }
  if (!index.member_key_id.empty()) {
    json.key(field::kEncryption).beginObject().member(field::kAlgorithm, kAlgorithmAes256Gcm);
    json.member(field::kKeyId, index.member_key_id).endObject();
  }
  if (!index.audio_carriers.empty()) {
    json.key(field::kAudioCarriers).beginObject();
    for (const auto& [path, carrier] : index.audio_carriers) {
      json.key(path);
      writeAudioCarrier(json, carrier);
    }
    json.endObject();
  }
  json.key(field::kResources).beginArray();
  for (const Resource& resource : index.resources) writeResource(json, index, resource);
  json.endArray().endObject().endObject();

  SiteIndex check;
  if (!parseIndexDocument(json.text(), check, failure)) return false;
  document = json.take();
  return true;
}

}  // namespace vesmara::publish
