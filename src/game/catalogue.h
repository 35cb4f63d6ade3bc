// The game catalogue document: which game a site serves, the game versions
// it supports, its revision, and its items with their dependencies.
#ifndef VESMARA_GAME_CATALOGUE_H_
#define VESMARA_GAME_CATALOGUE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"

namespace vesmara {

inline constexpr std::uint64_t kCatalogueSchema = 1;
inline constexpr std::uint64_t kMaxCatalogueRevision = 9007199254740991ULL;  // 2^53 - 1
inline constexpr std::size_t kMaxCatalogueItems = 256;
inline constexpr std::size_t kMaxItemDependencies = 16;
inline constexpr std::size_t kMaxItemPathLength = 205;

// Item field selectors of the item string exports.
enum class CatalogueItemField : std::uint32_t { Id = 1, Kind = 2, Path = 3 };

struct CatalogueItem {
  std::string id;
  std::string kind;
  std::string path;                     // begins with "game/"
  std::vector<std::string> depends_on;  // document order, duplicates kept

  // The selected field, or nothing for a selector outside 1 to 3.
  std::optional<std::string_view> field(std::uint32_t selector) const;
};

struct Catalogue {
  std::string game_id;
  std::string min_game_version;
  std::string max_game_version;
  std::uint64_t revision = 0;
  std::vector<CatalogueItem> items;
};

using VersionTriple = std::array<std::uint32_t, 3>;

// Game identifiers (game id, item ids, dependencies): 1 to 64 bytes of
// a-z 0-9 - . _, beginning with a-z or 0-9.
bool isValidGameIdentifier(std::string_view id);

// Item paths: "game/" then non-empty segments of A-Z a-z 0-9 - . _ that are
// neither "." nor "..", 6 to 205 bytes in all.
bool isValidItemPath(std::string_view path);

// Versions: exactly three components of 1 to 5 digits separated by ".", with
// one tolerated "." after the third ("1.2.3." reads as 1.2.3).
std::optional<VersionTriple> parseGameVersion(std::string_view version);

// Parses and validates a catalogue document. On failure `failure` holds the
// reason (InvalidData) and `out` is unchanged. Throws only std::bad_alloc.
bool parseCatalogue(std::string_view document, Catalogue& out, Failure& failure);

// Whether a game with this id and version may use the catalogue.
bool isCatalogueCompatible(const Catalogue& catalogue, std::string_view game_id, std::string_view game_version);

}  // namespace vesmara

#endif  // VESMARA_GAME_CATALOGUE_H_
