// The names an index uses for files on the origin, and the few text helpers
// the index loaders share.
//
// Paths are never decoded, lowered or normalised: a path that is not already
// in its one canonical form is refused, and accepted paths compare byte for
// byte (std::string_view order is exactly that byte-wise order).
#ifndef VESMARA_INDEX_PATHS_H_
#define VESMARA_INDEX_PATHS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesmara {

// The site namespace root: every resource of a site lives below it followed
// by "app/", and every carrier file lies outside it.
inline constexpr std::string_view kSiteNamespaceRoot = "/vesmara.web/";
inline constexpr std::string_view kFaviconPath = "/favicon.ico";
inline constexpr std::size_t kMaxIndexPathLength = 512;

// The root followed by `tail`, e.g. siteRootPath("app/game/catalogue.json").
std::string siteRootPath(std::string_view tail);

// The launch page every site has: the root followed by "boot.html".
std::string launchPath();

// A resource path: the root followed by "app/" and at least one segment, at
// most 512 bytes.
bool isAppPath(std::string_view path);

// Where stored bytes lie: outside the root, never the favicon, at most 512 bytes.
bool isCarrierPath(std::string_view path);

// A carrier path without a length bound of its own (the transport still caps
// every requested path).
bool isExternalCarrierPath(std::string_view path);

struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
};

// "bytes FIRST-LAST/TOTAL" with first <= last < total. Numbers are compared
// by value, so leading zeros are accepted.
std::optional<ContentRange> parseContentRange(std::string_view value);

// The same parse, accepted only for exactly the expected range of a larger object.
bool isExactContentRange(std::string_view value, std::uint64_t first, std::uint64_t last);

}  // namespace vesmara

#endif  // VESMARA_INDEX_PATHS_H_
