// The names an index uses for files on the origin.
//
// Paths are never decoded, lowered or normalised: a path that is not already
// in its one canonical form is refused, and accepted paths compare byte for
// byte (std::string_view order is exactly that byte-wise order).
#ifndef VESMARA_INDEX_PATHS_H_
#define VESMARA_INDEX_PATHS_H_

#include <cstdint>
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

}  // namespace vesmara

#endif  // VESMARA_INDEX_PATHS_H_
