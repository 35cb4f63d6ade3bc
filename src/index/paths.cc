#include "index/paths.h"

#include <algorithm>

#include "hosts/http_path.h"
#include "index/site_index.h"

namespace vesmara {
namespace {

// The checks shared by carrier and external carrier paths.
bool isOutsideSiteRoot(std::string_view path) { return path != kFaviconPath && !path.starts_with(kSiteNamespaceRoot); }

}  // namespace

std::string siteRootPath(std::string_view tail) {
  std::string path(kSiteNamespaceRoot);
  path.append(tail);
  return path;
}

std::string launchPath() { return siteRootPath("boot.html"); }

bool isAppPath(std::string_view path) {
  static const std::string kAppRoot = siteRootPath("app/");
  return path.starts_with(kAppRoot) && path.size() <= kMaxIndexPathLength && hasPathShape(path);
}

bool isCarrierPath(std::string_view path) {
  return !path.empty() && path.front() == '/' && path.size() <= kMaxIndexPathLength && isOutsideSiteRoot(path) &&
         hasPathShape(path);
}

bool isExternalCarrierPath(std::string_view path) {
  return !path.empty() && path.front() == '/' && isOutsideSiteRoot(path) && hasPathShape(path);
}

const Resource* findResource(const SiteIndex& index, std::string_view path) {
  const auto found =
      std::lower_bound(index.resources.begin(), index.resources.end(), path,
                       [](const Resource& resource, std::string_view key) { return resource.path < key; });
  if (found == index.resources.end() || found->path != path) return nullptr;
  return &*found;
}

}  // namespace vesmara
