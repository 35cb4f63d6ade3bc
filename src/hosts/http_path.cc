#include "hosts/http_path.h"

namespace vesmara {
namespace {

bool isSegmentByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

}  // namespace

bool isPathSegment(std::string_view segment) {
  if (segment.empty() || segment == "." || segment == "..") return false;
  for (char c : segment) {
    if (!isSegmentByte(c)) return false;
  }
  return true;
}

bool hasPathShape(std::string_view path) {
  if (path.size() < 2 || path.front() != '/') return false;
  std::string_view rest = path.substr(1);
  while (true) {
    const std::size_t slash = rest.find('/');
    if (!isPathSegment(rest.substr(0, slash))) return false;
    if (slash == std::string_view::npos) return true;
    rest.remove_prefix(slash + 1);  // a trailing "/" leaves an empty segment, which fails
  }
}

bool isHttpPath(std::string_view path) {
  return path.size() >= kMinHttpPathLength && path.size() <= kMaxHttpPathLength && hasPathShape(path);
}

}  // namespace vesmara
