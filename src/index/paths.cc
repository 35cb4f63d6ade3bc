#include "index/paths.h"

#include <algorithm>

#include "base/decimal.h"
#include "hosts/http_path.h"
#include "index/site_index.h"

namespace vesmara {
namespace {

// The checks shared by carrier and external carrier paths.
bool isOutsideSiteRoot(std::string_view path) {
  return path != kFaviconPath && !path.starts_with(kSiteNamespaceRoot);
}

}  // namespace

std::string siteRootPath(std::string_view tail) {
  std::string path(kSiteNamespaceRoot);
  path.append(tail);
  return path;
}

std::string launchPath() { return siteRootPath("boot.html"); }

bool isAppPath(std::string_view path) {
  static const std::string app_root = siteRootPath("app/");
  return path.starts_with(app_root) && path.size() <= kMaxIndexPathLength && hasPathShape(path);
}

bool isCarrierPath(std::string_view path) {
  return !path.empty() && path.front() == '/' && path.size() <= kMaxIndexPathLength && isOutsideSiteRoot(path) &&
         hasPathShape(path);
}

bool isExternalCarrierPath(std::string_view path) {
  return !path.empty() && path.front() == '/' && isOutsideSiteRoot(path) && hasPathShape(path);
}

const Resource* findResource(const SiteIndex& index, std::string_view path) {
  const auto found = std::lower_bound(index.resources.begin(), index.resources.end(), path,
                                      [](const Resource& resource, std::string_view key) { return resource.path < key; });
  if (found == index.resources.end() || found->path != path) return nullptr;
  return &*found;
}

std::optional<ContentRange> parseContentRange(std::string_view value) {
  constexpr std::string_view kUnit = "bytes ";
  if (!value.starts_with(kUnit) || value.size() == kUnit.size()) return std::nullopt;
  const std::string_view rest = value.substr(kUnit.size());
  const std::size_t dash = rest.find('-');
  const std::size_t slash = rest.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
  const auto first = parseUnsignedDecimal(rest.substr(0, dash));
  const auto last = parseUnsignedDecimal(rest.substr(dash + 1, slash - dash - 1));
  const auto total = parseUnsignedDecimal(rest.substr(slash + 1));
  if (!first || !last || !total || *first > *last || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

bool isExactContentRange(std::string_view value, std::uint64_t first, std::uint64_t last) {
  const std::optional<ContentRange> range = parseContentRange(value);
  return range && range->first == first && range->last == last && range->total > last;
}

}  // namespace vesmara
