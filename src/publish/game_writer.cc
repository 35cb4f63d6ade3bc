#include "publish/game_writer.h"

#include "game/catalogue.h"
#include "index/document_fields.h"
#include "publish/json_writer.h"

namespace vesmara::publish {

bool writeCatalogueDocument(const GameDescription& game, std::string& document, Failure& failure) {
  JsonWriter json;
  json.beginObject().member(field::kSchema, kCatalogueSchema).member(field::kGameId, game.id);
  json.member(field::kRevision, game.revision).member(field::kMinGameVersion, game.min_version);
  json.member(field::kMaxGameVersion, game.max_version).key(field::kItems).beginArray();
  for (const GameItem& item : game.items) {
    json.beginObject().member(field::kId, item.id).member(field::kKind, item.kind).member(field::kPath, item.path);
    if (!item.depends_on.empty()) {
      json.key(field::kDependsOn).beginArray();
      for (const std::string& dependency : item.depends_on) json.string(dependency);
      json.endArray();
    }
    json.endObject();
  }
  json.endArray().endObject();
  Catalogue check;
  if (!parseCatalogue(json.text(), check, failure)) return false;
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
    sources.push_back(
        {.name = item.path, .mime = item.mime, .bytes = item.bytes, .members = item.members, .content = item.content});
  }
  return true;
}

}  // namespace vesmara::publish
