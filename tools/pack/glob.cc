#include "pack/glob.h"

#include <cstdint>
#include <vector>

namespace vesmara::pack {
namespace {

class GlobMatcher {
 public:
  GlobMatcher(std::string_view pattern, std::string_view path)
      : pattern_(pattern), path_(path), known_((pattern.size() + 1) * (path.size() + 1), kUnknown) {}

  bool matches() { return match(0, 0); }

 private:
  static constexpr std::int8_t kUnknown = -1;

  // Whether pattern_[i...] matches path_[j...], remembered so that every
  // pair is worked out once.
  bool match(std::size_t i, std::size_t j) {
    std::int8_t& known = known_[i * (path_.size() + 1) + j];
    if (known == kUnknown) known = compute(i, j) ? 1 : 0;
    return known == 1;
  }

  bool compute(std::size_t i, std::size_t j) {
    if (i == pattern_.size()) return j == path_.size();
    if (pattern_.substr(i, 2) == "**") {
      const std::size_t next = i + 2;
      if (next < pattern_.size() && pattern_[next] == '/' && match(next + 1, j)) return true;
      for (std::size_t end = j; end <= path_.size(); ++end) {
        if (match(next, end)) return true;
      }
      return false;
    }
    if (pattern_[i] == '*') {
      for (std::size_t end = j; end <= path_.size(); ++end) {
        if (match(i + 1, end)) return true;
        if (end < path_.size() && path_[end] == '/') break;
      }
      return false;
    }
    if (j == path_.size()) return false;
    if (pattern_[i] == '?') return path_[j] != '/' && match(i + 1, j + 1);
    return pattern_[i] == path_[j] && match(i + 1, j + 1);
  }

  std::string_view pattern_;
  std::string_view path_;
  std::vector<std::int8_t> known_;
};

}  // namespace

bool matchesGlob(std::string_view pattern, std::string_view path) {
  if (pattern.find('/') == std::string_view::npos) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  }
  return GlobMatcher(pattern, path).matches();
}

}  // namespace vesmara::pack
