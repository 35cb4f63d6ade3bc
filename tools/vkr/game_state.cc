#include "vkr/game_state.h"

#include <charconv>
#include <cstdio>
#include <sstream>
#include <string_view>
#include <vector>

#include "common/command_error.h"
#include "common/files.h"
#include "vkr/json_writer.h"

namespace vesmara::vkr {
namespace {

constexpr std::uint64_t kLongestStateFile = 8192;

// Origins name the same site whatever the case of their letters and with
// or without the one trailing "/" the library accepts.
std::string normalizedOrigin(std::string origin) {
  for (char& c : origin) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (origin.ends_with('/')) origin.pop_back();
  return origin;
}

// A file name for any origin and game identifier (up to 2,048 and 128
// bytes of any text): a 64-bit FNV-1a hash. The file repeats both, so that
// the one in 2^64 chance of two games sharing a file is caught.
std::string fileNameOf(const std::string& origin, const std::string& game_id) {
  std::uint64_t hash = 0xcbf29ce484222325;
  const std::string key = origin + '\0' + game_id;
  for (const char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3;
  }
  char name[32];
  std::snprintf(name, sizeof name, "game-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

bool isLowerHexDigest(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

GameState::GameState(const std::optional<std::string>& state_dir, const std::string& origin, const std::string& game_id)
    : origin_(normalizedOrigin(origin)), game_id_(game_id) {
  if (state_dir) {
    if (state_dir->empty()) throw tools::UsageError("--state-dir needs a folder");
    folder_ = *state_dir;
  } else {
    const std::string home = tools::stateHome();
    if (home.empty()) tools::fail("no folder for the game state: HOME is not set; give one with --state-dir DIR");
    folder_ = home + "/vkr";
  }
  file_ = folder_ + "/" + fileNameOf(origin_, game_id_);
}

std::string GameState::header() const {
  return "origin " + quoteJson(origin_) + "\ngame " + quoteJson(game_id_) + "\n";
}

std::optional<AdoptedCatalogue> GameState::load() const {
  if (!tools::pathExists(file_)) return std::nullopt;
  const std::vector<std::uint8_t> bytes = tools::readFile(file_, kLongestStateFile);
  const std::string text(bytes.begin(), bytes.end());
  const auto damaged = [this]() -> std::optional<AdoptedCatalogue> {
    tools::fail("the game state in " + file_ + " is damaged; remove it to accept the site's catalogue as it is");
  };
  if (!text.starts_with(header())) {
    if (text.starts_with("origin ")) tools::fail(file_ + " records another game; give another --state-dir");
    return damaged();
  }
  std::istringstream lines(text.substr(header().size()));
  std::string revision_line;
  std::string index_line;
  std::string rest;
  if (!std::getline(lines, revision_line) || !std::getline(lines, index_line) || std::getline(lines, rest) ||
      !text.ends_with('\n') || !revision_line.starts_with("revision ") || !index_line.starts_with("index ")) {
    return damaged();
  }
  AdoptedCatalogue adopted;
  const std::string_view number = std::string_view(revision_line).substr(9);
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), adopted.revision);
  adopted.index_digest = index_line.substr(6);
  if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
      !isLowerHexDigest(adopted.index_digest)) {
    return damaged();
  }
  return adopted;
}

void GameState::save(const AdoptedCatalogue& adopted) const {
  tools::createDirectories(folder_);
  const std::string text =
      header() + "revision " + std::to_string(adopted.revision) + "\nindex " + adopted.index_digest + "\n";
  tools::replaceFile(file_, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace vesmara::vkr
