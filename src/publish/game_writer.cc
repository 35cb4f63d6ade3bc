#include "publish/game_writer.h"

#include "game/catalogue.h"
#include "publish/json_writer.h"

namespace vesmara::publish {

bool writeCatalogueDocument(const GameDescription& game, std::string& document, Failure& failure) {
  JsonWriter json;
  json.beginObject().member("schema", std::uint64_t{1}).member("gameId", game.id);
  json.member("revision", game.revision).member("minGameVersion", game.min_version);
  json.member("maxGameVersion", game.max_version).key("items").beginArray();
  for (const GameItem& item : game.items) {
    json.beginObject().member("id", item.id).member("kind", item.kind).member("path", item.path);
    if (!item.depends_on.empty()) {
      json.key("dependsOn").beginArray();
      for (const std::string& dependency : item.depends_on) json.string(dependency);
      json.endArray();
    }
    json.endObject();
  }
  json.endArray().endObject();
  Catalogue check;
  std::string message;
  if (!parseCatalogue(json.text(), check, message)) return failure.fail(FailureKind::InvalidData, message);
  document = json.take();
  return true;
}

bool addGameToSources(const GameDescription& game, std::vector<SourceFile>& sources, Failure& failure) {
  std::string document;
  if (!writeCatalogueDocument(game, document, failure)) return false;
  const auto taken = [&sources](std::string_view name) {
    for (const SourceFile& source : sources) {
      if (source.name == name) return true;
    }
    return false;
  };
  if (taken(kCatalogueFileName)) {
    return failure.fail(FailureKind::InvalidData,
                        "The site already has a file named " + std::string(kCatalogueFileName));
  }
  for (const GameItem& item : game.items) {
    if (taken(item.path))
      return failure.fail(FailureKind::InvalidData, "The site already has a file named " + item.path);
  }
  sources.push_back({.name = std::string(kCatalogueFileName),
                     .mime = "application/json",
                     .bytes = std::vector<std::uint8_t>(document.begin(), document.end())});
  for (const GameItem& item : game.items) {
    sources.push_back({.name = item.path, .mime = item.mime, .bytes = item.bytes, .members = item.members});
  }
  return true;
}

}  // namespace vesmara::publish
