// One game kept up to date from its site, as a host application holds it:
// the library's own transport for the game's origin, the providers the
// platform made for it, the game's identity and the snapshot adopted by the
// last successful refresh.
#ifndef VESMARA_GAME_GAME_H_
#define VESMARA_GAME_GAME_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "game/game_session.h"
#include "hosts/platform.h"
#include "retrieval/resource_read.h"

namespace vesmara {

// A failure while the transport is cancelled keeps the kind of the step
// that noticed it; callers ask transport().isCancelled().
class Game {
 public:
  // `platform` makes the game's providers now and its file sinks later, and
  // must outlive the game.
  Game(Platform& platform, std::unique_ptr<HttpHost> transport, std::string_view game_id,
       std::string_view game_version);

  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  HttpHost& transport() { return *hosts_.transport; }
  // What the last successful refresh adopted; `verified` is false before one.
  const GameSnapshot& snapshot() const { return snapshot_; }

  // Loads the site's index (hosted when `external` is empty) and catalogue,
  // checks them against the game and adopts them together; a failed refresh
  // keeps the adopted snapshot.
  bool refresh(std::optional<std::span<const std::uint8_t>> external, bool allow_rollback, Failure& failure);

  // Reads the adopted item `item_id` into a new file at `destination`.
  // WrongState before a successful refresh; the destination is prepared
  // before the item is looked up.
  bool fetchItem(std::string_view item_id, const SecretKey* member_key, std::string_view destination,
                 std::uint64_t& written, DownloadFailure& failure);

 private:
  Platform& platform_;
  OwnedHosts hosts_;
  std::string game_id_;
  std::string game_version_;
  GameSnapshot snapshot_;
};

}  // namespace vesmara

#endif  // VESMARA_GAME_GAME_H_
