// Publishes a game's catalogue into a site: the catalogue document at the
// site namespace root followed by "app/game/catalogue.json" (always public),
// and each item as a resource under "app/game/...".
#ifndef VESMARA_PUBLISH_GAME_WRITER_H_
#define VESMARA_PUBLISH_GAME_WRITER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "publish/site_builder.h"

namespace vesmara::publish {

struct GameItem {
  std::string id;
  std::string kind;  // release, event, puzzle, quest, experiment, media, opaque
  std::string path;  // begins with "game/"
  std::vector<std::string> depends_on;
  std::string mime = "application/octet-stream";
  std::vector<std::uint8_t> bytes;  // unused when `content` is set
  bool members = false;
  std::shared_ptr<const SourceContent> content;
};

struct GameDescription {
  std::string id;
  std::string min_version;
  std::string max_version;
  std::uint64_t revision = 1;
  std::vector<GameItem> items;
};

// The site file name of the catalogue, relative to the app root.
inline constexpr std::string_view kCatalogueFileName = "game/catalogue.json";

// The catalogue document for `game`, checked by the library's own catalogue
// parser: a description the parser would refuse is refused with its message.
bool writeCatalogueDocument(const GameDescription& game, std::string& document, Failure& failure);

// Adds the catalogue and every item to `sources`. Refuses a description the
// catalogue rules reject, and items whose files clash with existing sources.
bool addGameToSources(const GameDescription& game, std::vector<SourceFile>& sources, Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_GAME_WRITER_H_
