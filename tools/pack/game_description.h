// The game description vkr-pack publishes a catalogue from: a JSON file
// naming the game, the versions it serves, the catalogue revision and the
// items, each with the file that holds it (relative to the description):
//
//   {"id": "lantern-keep", "minVersion": "1.0.0", "maxVersion": "1.9.99",
//    "revision": 3,
//    "items": [{"id": "base", "kind": "release", "path": "game/base.pak",
//               "file": "items/base.pak"},
//              {"id": "riddles", "kind": "puzzle", "path": "game/riddles.json",
//               "file": "items/riddles.json", "dependsOn": ["base"],
//               "members": true, "mime": "application/json"}]}
//
// "mime" defaults to the type of the file's name; "members" to false. An
// item's "file" lies in the description's folder or below it, reached
// without symbolic links unless they are followed.
#ifndef VESMARA_TOOLS_PACK_GAME_DESCRIPTION_H_
#define VESMARA_TOOLS_PACK_GAME_DESCRIPTION_H_

#include <string>

#include "publish/game_writer.h"

namespace vesmara::pack {

// Reads the description and finds its item files (read when they are
// published). Throws CommandError naming the file, or the item, and what is
// wrong with it.
publish::GameDescription readGameDescription(const std::string& path, bool follow_links);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_GAME_DESCRIPTION_H_
