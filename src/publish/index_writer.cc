#include "publish/index_writer.h"

#include "index/index_document.h"
#include "index/paths.h"
#include "publish/json_writer.h"

namespace vesmara::publish {
namespace {

void writePart(JsonWriter& json, const ResourcePart& part, bool members) {
  json.beginObject().member("url", part.url).member("offset", part.offset).member("length", part.length);
  json.member("sha256", part.sha256);
  if (!part.codec.empty()) json.member("codec", part.codec);
  if (members) json.member("nonce", part.nonce).member("plainLength", part.plain_length);
  json.endObject();
}

void writeResource(JsonWriter& json, const SiteIndex& index, const Resource& resource) {
  json.beginObject().member("path", resource.path).member("mime", resource.mime);
  json.member("length", resource.length).member("sha256", resource.sha256);
  if (!resource.access.empty()) json.member("access", resource.access);
  if (!resource.delivery.empty()) json.member("delivery", resource.delivery);
  json.key("parts").beginArray();
  for (const ResourcePart& part : resource.parts) writePart(json, part, isMembersResource(index, resource));
  json.endArray().endObject();
}

void writeAudioCarrier(JsonWriter& json, const AudioCarrier& carrier) {
  json.beginObject().member("format", "vkr.audio-carrier.v1").member("length", carrier.length);
  json.member("sha256", carrier.sha256).key("packets").beginArray();
  for (std::size_t i = 0; i < carrier.packets.size(); ++i) {
    json.beginObject().member("index", static_cast<std::uint64_t>(i)).member("length", carrier.packets[i].length);
    json.member("sha256", carrier.packets[i].sha256).endObject();
  }
  json.endArray().key("locations").beginArray();
  for (const AudioPacketLocation& location : carrier.locations) {
    json.beginObject().member("packet", location.packet).member("copy", location.copy);
    json.member("startSeconds", location.start_seconds).member("durationSeconds", location.duration_seconds);
    json.endObject();
  }
  json.endArray().endObject();
}

}  // namespace

bool writeIndexDocument(const SiteIndex& index, std::string& document, std::string& error) {
  JsonWriter json;
  json.beginObject().key("webApp").beginObject();
  json.member("launch", launchPath()).member("entry", index.entry);
  if (!index.encoding_key.empty()) {
    json.key("encoding").beginObject().member("algorithm", "AES-256-CTR").member("key", index.encoding_key).endObject();
  }
  if (!index.member_key_id.empty()) {
    json.key("encryption").beginObject().member("algorithm", "AES-256-GCM");
    json.member("keyId", index.member_key_id).endObject();
  }
  if (!index.audio_carriers.empty()) {
    json.key("audioCarriers").beginObject();
    for (const auto& [path, carrier] : index.audio_carriers) {
      json.key(path);
      writeAudioCarrier(json, carrier);
    }
    json.endObject();
  }
  json.key("resources").beginArray();
  for (const Resource& resource : index.resources) writeResource(json, index, resource);
  json.endArray().endObject().endObject();

  SiteIndex check;
  Failure failure;
  if (!parseIndexDocument(json.text(), check, failure)) {
    error = failure.message;
    return false;
  }
  document = json.take();
  return true;
}

}  // namespace vesmara::publish
