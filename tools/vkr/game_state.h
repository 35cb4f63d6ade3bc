// What `vkr game` adopted in earlier runs: per origin and game, the
// catalogue revision and index digest, so that a site that goes back to an
// older catalogue is noticed from one run to the next, as a launcher would.
//
// One small text file per origin and game in the state folder (--state-dir,
// or "vkr" in $XDG_STATE_HOME, ~/.local/state by default), replaced as a
// whole on every save.
#ifndef VESMARA_TOOLS_VKR_GAME_STATE_H_
#define VESMARA_TOOLS_VKR_GAME_STATE_H_

#include <cstdint>
#include <optional>
#include <string>

namespace vesmara::vkr {

struct AdoptedCatalogue {
  std::uint64_t revision = 0;
  std::string index_digest;  // 64 lowercase hex digits
};

class GameState {
 public:
  // The state of game `game_id` at `origin`, kept in `state_dir` when given,
  // else in the default folder. Throws CommandError when there is none
  // (neither HOME nor XDG_STATE_HOME is set).
  GameState(const std::optional<std::string>& state_dir, const std::string& origin, const std::string& game_id);

  // What was adopted before, or nothing for a game never seen. Throws
  // CommandError when the file cannot be read or is damaged: forgetting it
  // would accept any rollback.
  std::optional<AdoptedCatalogue> load() const;
  // Records an adopted catalogue. Throws CommandError.
  void save(const AdoptedCatalogue& adopted) const;

  const std::string& file() const { return file_; }

 private:
  std::string header() const;

  std::string folder_;
  std::string file_;
  std::string origin_;
  std::string game_id_;
};

}  // namespace vesmara::vkr

#endif  // VESMARA_TOOLS_VKR_GAME_STATE_H_
