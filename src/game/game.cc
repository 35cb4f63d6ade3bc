#include "game/game.h"

namespace vesmara {

Game::Game(Platform& platform, std::unique_ptr<HttpHost> transport, std::string_view game_id,
           std::string_view game_version)
    : platform_(platform), hosts_(platform, std::move(transport)), game_id_(game_id), game_version_(game_version) {}

bool Game::refresh(std::optional<std::span<const std::uint8_t>> external, bool allow_rollback, Failure& failure) {
  return refreshGame(hosts_.borrow(), game_id_, game_version_, external, allow_rollback, snapshot_, failure);
}

bool Game::fetchItem(std::string_view item_id, const SecretKey* member_key, std::string_view destination,
                     std::uint64_t& written, DownloadFailure& failure) {
  written = 0;
  if (!snapshot_.verified) return failure.failure.fail(FailureKind::WrongState, "");
  // The destination is prepared before the item is looked up.
  return readIntoFile(platform_, destination, written, failure,
                      [&](OutputHost& sink, ResourceReadResult& result, Failure& read_failure) {
                        return fetchGameItem(snapshot_, item_id, member_key, hosts_.borrow(), sink, result,
                                             read_failure);
                      });
}

}  // namespace vesmara
