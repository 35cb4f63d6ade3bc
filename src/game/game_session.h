// Keeping a game up to date from its site: a refresh loads the site's index
// and its public catalogue, verifies both against the game, and adopts them
// together; items are then fetched from the adopted index only.
#ifndef VESMARA_GAME_GAME_SESSION_H_
#define VESMARA_GAME_GAME_SESSION_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "game/catalogue.h"
#include "hosts/output_host.h"
#include "index/hosted_index.h"
#include "retrieval/resource_read.h"

namespace vesmara {

inline constexpr std::uint64_t kMaxCatalogueResource = 65536;

// What a game handle has adopted: replaced as a whole by each successful
// refresh, never touched by a failed one.
struct GameSnapshot {
  LoadedIndex index;
  Catalogue catalogue;
  bool verified = false;
};

// The path of the catalogue resource, and of an item's resource.
std::string catalogueResourcePath();
std::string itemResourcePath(const CatalogueItem& item);

// Loads the index (hosted, or external with `external` key material), reads
// and verifies the catalogue, and on success replaces `snapshot`. A
// catalogue whose revision went below the adopted one is refused unless
// `allow_rollback`. Throws only std::bad_alloc, leaving `snapshot` as it was.
bool refreshGame(const ReadHosts& hosts, std::string_view game_id, std::string_view game_version,
                 std::optional<std::span<const std::uint8_t>> external, bool allow_rollback, GameSnapshot& snapshot,
                 Failure& failure);

// Reads the adopted item `item_id` into `sink` from the adopted index.
bool fetchGameItem(const GameSnapshot& snapshot, std::string_view item_id, const SecretKey* member_key,
                   const ReadHosts& hosts, OutputHost& sink, ResourceReadResult& result, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_GAME_GAME_SESSION_H_
