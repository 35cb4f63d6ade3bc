// vkr game: a game's catalogue, refreshed from its site, and its items.
#include <unistd.h>

#include <cstdio>

#include "common/arguments.h"
#include "common/command_error.h"
#include "common/files.h"
#include "common/key_file.h"
#include "common/progress.h"
#include "common/table.h"
#include "vkr/commands.h"
#include "vkr/game_state.h"
#include "vkr/json_writer.h"
#include "vkr/library.h"

namespace vesmara::vkr {
namespace {

constexpr std::string_view kHelp =
    "usage: vkr game ORIGIN --id ID --version V [OPTIONS] ls [--json]\n"
    "       vkr game ORIGIN --id ID --version V [OPTIONS] fetch ITEM [-o FILE] [--key FILE]\n\n"
    "Refreshes the catalogue of game ID, version V, from the site at ORIGIN (its\n"
    "index and catalogue are verified together, and the catalogue must be meant\n"
    "for this game and version). 'ls' lists the items; 'fetch' downloads item\n"
    "ITEM into FILE (by default the last segment of the item's path; into that\n"
    "name inside FILE when FILE is a folder) with the guarantees of 'vkr get'.\n\n"
    "The catalogue revision and index adopted are kept per origin and game in\n"
    "the state folder; a catalogue whose revision is below the one adopted\n"
    "before is refused (exit status 16) unless --allow-rollback is given.\n\n"
    "  --id ID             the game's identifier\n"
    "  --version V         the game's own version\n"
    "  --external KEYFILE  load the index from external key material\n"
    "  --allow-rollback    accept a catalogue older than the one adopted before\n"
    "  --state-dir DIR     the state folder (default: $XDG_STATE_HOME/vkr, or\n"
    "                      ~/.local/state/vkr)\n"
    "  --json              'ls' prints one JSON object\n"
    "  -o, --output FILE   where 'fetch' saves the item\n"
    "  --key FILE          the member content key, for members items\n";

// A game handle with an adopted catalogue.
class Game {
 public:
  Game(const std::string& origin, const std::string& id, const std::string& version,
       const std::optional<ExternalKeyMaterial>& external, bool allow_rollback, tools::InterruptWatcher& interrupts) {
    requireOrigin(origin);
    const std::string subject = "game " + id + " " + version + " at " + originSubject(origin, external);
    char message[kMessageCapacity];
    checkStatus(vkr_preview_game_create(origin.data(), origin.size(), id.data(), id.size(), version.data(),
                                        version.size(), &game_, message, sizeof message),
                message, interrupts, subject);
    const std::uint32_t rollback = allow_rollback ? 1 : 0;
    const vkr_preview_status status = runCancellable(interrupts, [&](vkr_preview_operation* operation) {
      if (external) {
        return vkr_preview_game_refresh_external_operation(game_, operation, external->bytes.data(),
                                                           external->bytes.size(), rollback, message, sizeof message);
      }
      return vkr_preview_game_refresh_hosted_operation(game_, operation, rollback, message, sizeof message);
    });
    if (status != VKR_PREVIEW_OK) {
      vkr_preview_game_release(game_);
      game_ = nullptr;
      checkStatus(status, message, interrupts, subject + ": refreshing the catalogue", loadHint(message, external));
    }
  }
  ~Game() { vkr_preview_game_release(game_); }
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  vkr_preview_game* handle() const { return game_; }

  std::uint64_t revision() const { return number(vkr_preview_game_catalogue_revision); }
  std::uint64_t itemCount() const { return number(vkr_preview_game_item_count); }
  std::string indexDigest() const {
    return readLibraryString([this](char* buffer, std::uint64_t capacity, std::uint64_t* length) {
      return vkr_preview_game_index_digest(game_, buffer, capacity, length);
    });
  }
  std::string item(std::uint64_t index, std::uint32_t field) const {
    return readLibraryString([this, index, field](char* buffer, std::uint64_t capacity, std::uint64_t* length) {
      return vkr_preview_game_item_string(game_, index, field, buffer, capacity, length);
    });
  }

 private:
  std::uint64_t number(vkr_preview_status (*getter)(vkr_preview_game*, std::uint64_t*)) const {
    std::uint64_t value = 0;
    const vkr_preview_status status = getter(game_, &value);
    if (status != VKR_PREVIEW_OK) throw tools::CommandError(static_cast<int>(status), describeStatus(status));
    return value;
  }

  vkr_preview_game* game_ = nullptr;
};

void listItemsAsJson(const Game& game, const std::string& origin, const std::string& id, const std::string& version) {
  JsonWriter json;
  json.beginObject();
  json.key("origin").string(origin);
  json.key("id").string(id);
  json.key("version").string(version);
  json.key("revision").number(game.revision());
  json.key("indexDigest").string(game.indexDigest());
  json.key("items").beginArray();
  const std::uint64_t count = game.itemCount();
  for (std::uint64_t i = 0; i < count; ++i) {
    json.beginObject();
    json.key("id").string(game.item(i, VKR_PREVIEW_ITEM_ID));
    json.key("kind").string(game.item(i, VKR_PREVIEW_ITEM_KIND));
    json.key("path").string(game.item(i, VKR_PREVIEW_ITEM_PATH));
    json.endObject();
  }
  json.endArray();
  json.endObject();
  std::fputs(json.text().c_str(), stdout);
}

void listItems(const Game& game) {
  const std::uint64_t count = game.itemCount();
  std::printf("catalogue revision %llu, %llu item%s, index %s\n", static_cast<unsigned long long>(game.revision()),
              static_cast<unsigned long long>(count), count == 1 ? "" : "s", game.indexDigest().c_str());
  tools::Table table({"ID", "KIND", "PATH"});
  for (std::uint64_t i = 0; i < count; ++i) {
    table.addRow({game.item(i, VKR_PREVIEW_ITEM_ID), game.item(i, VKR_PREVIEW_ITEM_KIND),
                  game.item(i, VKR_PREVIEW_ITEM_PATH)});
  }
  std::fputs(table.render().c_str(), stdout);
}

// Refuses a catalogue older than the one adopted in an earlier run, unless
// allowed, and records the one adopted now.
void adoptAcrossRuns(const Game& game, const GameState& state, const std::string& subject, bool allow_rollback) {
  const std::optional<AdoptedCatalogue> before = state.load();
  const std::uint64_t revision = game.revision();
  if (before && revision < before->revision && !allow_rollback) {
    throw tools::CommandError(VKR_PREVIEW_ROLLBACK_REFUSED,
                              subject + ": catalogue revision " + std::to_string(revision) + " is below revision " +
                                  std::to_string(before->revision) + ", adopted before (" + state.file() +
                                  "); --allow-rollback accepts it");
  }
  state.save({revision, game.indexDigest()});
}

// The catalogue path of item `id`, or empty when the catalogue has no such item.
std::string itemPath(const Game& game, const std::string& id) {
  const std::uint64_t count = game.itemCount();
  for (std::uint64_t i = 0; i < count; ++i) {
    if (game.item(i, VKR_PREVIEW_ITEM_ID) == id) return game.item(i, VKR_PREVIEW_ITEM_PATH);
  }
  return {};
}

int fetchItem(const Game& game, const std::string& id, const tools::ParsedArguments& arguments,
              tools::InterruptWatcher& interrupts) {
  MemberKey key;
  if (const auto path = arguments.value("key")) key.key = tools::readKeyFile(*path);
  const std::string item_path = itemPath(game, id);
  const std::string destination = downloadDestination(arguments.value("output"), item_path.empty() ? id : item_path);
  // The catalogue does not give lengths: the bar shows bytes and rate only.
  tools::DownloadProgress progress(destination, 0, tools::isTerminal(STDERR_FILENO));
  char message[kMessageCapacity];
  std::uint64_t written = 0;
  const vkr_preview_status status = runCancellable(interrupts, [&](vkr_preview_operation* operation) {
    return vkr_preview_game_fetch_item_operation(game.handle(), operation, id.data(), id.size(), key.data(), key.size(),
                                                 destination.data(), destination.size(), &written, message,
                                                 sizeof message);
  });
  // Items come from the catalogue adopted moments before; a site republished
  // in between fails their checks just as tampering would.
  const std::string hint = status == VKR_PREVIEW_INTEGRITY_FAILURE
                               ? "if the site was republished since its catalogue was read, run the command again"
                               : memberKeyHint(status, key);
  checkStatus(status, message, interrupts, downloadSubject(status, "item " + id, destination), hint);
  progress.finish(written);
  return 0;
}

}  // namespace

int runGame(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {
      {.name = "id", .takes_value = true},
      {.name = "version", .takes_value = true},
      {.name = "external", .takes_value = true},
      {.name = "allow-rollback"},
      {.name = "output", .short_name = 'o', .takes_value = true},
      {.name = "key", .takes_value = true},
      {.name = "state-dir", .takes_value = true},
      {.name = "json"},
  };
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  const auto& positionals = arguments->positionals();
  if (positionals.size() < 2) throw tools::UsageError("expected ORIGIN and 'ls' or 'fetch ITEM'");
  const std::string& action = positionals[1];
  if (action != "ls" && action != "fetch") throw tools::UsageError("unknown game action '" + action + "'");
  arguments->requirePositionals(action == "ls" ? 2 : 3, action == "ls" ? 2 : 3);
  if (action == "ls" && (arguments->has("output") || arguments->has("key"))) {
    throw tools::UsageError("-o and --key are options of 'fetch'");
  }
  if (action == "fetch" && arguments->has("json")) throw tools::UsageError("--json is an option of 'ls'");
  const auto id = arguments->value("id");
  const auto version = arguments->value("version");
  if (!id || !version) throw tools::UsageError("--id and --version are required");
  if (id->empty() || version->empty()) throw tools::UsageError("--id and --version cannot be empty");
  std::optional<ExternalKeyMaterial> external;
  if (const auto path = arguments->value("external")) external = readExternalKeyMaterial(*path);
  const GameState state(arguments->value("state-dir"), positionals[0], *id);
  const bool allow_rollback = arguments->has("allow-rollback");
  const Game game(positionals[0], *id, *version, external, allow_rollback, interrupts);
  adoptAcrossRuns(game, state, "game " + *id + " " + *version + " at " + originSubject(positionals[0], external),
                  allow_rollback);
  if (action == "fetch") return fetchItem(game, positionals[2], *arguments, interrupts);
  if (arguments->has("json")) {
    listItemsAsJson(game, positionals[0], *id, *version);
  } else {
    listItems(game);
  }
  return 0;
}

}  // namespace vesmara::vkr
