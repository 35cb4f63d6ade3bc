#include "game/game.h"

namespace vesmara {

Game::Game(Platform& platform, std::unique_ptr<HttpHost> transport, std::string_view game_id,
           std::string_view game_version)
    : platform_(platform),
      transport_(std::move(transport)),
      crypto_(platform.makeCryptoHost()),
      media_(makeMediaDecoder(platform.makePngDecoder())),
      game_id_(game_id),
      game_version_(game_version) {}

bool Game::refresh(std::optional<std::span<const std::uint8_t>> external, bool allow_rollback, Failure& failure) {
  return refreshGame(readHosts(), game_id_, game_version_, external, allow_rollback, snapshot_, failure);
}

bool Game::fetchItem(std::string_view item_id, const SecretKey* member_key, std::string_view destination,
                     std::uint64_t& written, DownloadFailure& failure) {
  written = 0;
  if (!snapshot_.verified) return failure.failure.fail(FailureKind::WrongState, "");
  std::string refusal;
  const auto sink = platform_.makeFileOutput(destination, refusal);
  if (!sink->isOpen()) {
    failure.output_error = sink->error();
    return failure.failure.fail(FailureKind::Output, refusal);
  }
  ResourceReadResult result;
  if (!fetchGameItem(snapshot_, item_id, member_key, readHosts(), *sink, result, failure.failure)) {
    failure.output_error = sink->error();
    return false;
  }
  written = result.length;
  return true;
}

}  // namespace vesmara
