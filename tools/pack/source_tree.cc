#include "pack/source_tree.h"

#include <algorithm>
#include <system_error>

#include "common/command_error.h"
#include "common/files.h"
#include "index/index_format.h"
#include "pack/glob.h"
#include "pack/media_types.h"

namespace vesmara::pack {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> listFileNames(const fs::path& root) {
  std::error_code code;
  if (!fs::is_directory(root, code)) tools::fail(root.string() + " is not a folder");
  std::vector<std::string> names;
  fs::recursive_directory_iterator entry(root, code);
  for (const fs::recursive_directory_iterator end; !code && entry != end; entry.increment(code)) {
    if (entry->path().filename().string().starts_with('.')) {
      entry.disable_recursion_pending();
      continue;
    }
    if (!entry->is_regular_file(code)) continue;
    if (names.size() == kMaxResources) {
      tools::fail(root.string() + " holds more than " + std::to_string(kMaxResources) + " files, more than a site can");
    }
    names.push_back(entry->path().lexically_relative(root).generic_string());
  }
  if (code) tools::fail("cannot list " + root.string() + ": " + code.message());
  std::sort(names.begin(), names.end());
  return names;
}

// Applies one option's patterns; `apply` is called for each file a pattern
// matches.
template <typename Rule, typename PatternOf, typename Apply>
void applyRules(const std::vector<Rule>& rules, std::string_view option, std::vector<publish::SourceFile>& sources,
                PatternOf pattern_of, Apply apply) {
  for (const Rule& rule : rules) {
    const std::string& pattern = pattern_of(rule);
    bool matched = false;
    for (publish::SourceFile& source : sources) {
      if (!matchesGlob(pattern, source.name)) continue;
      matched = true;
      apply(rule, source);
    }
    if (!matched) tools::fail("--" + std::string(option) + " '" + pattern + "' matches no file");
  }
}

}  // namespace

std::vector<std::uint8_t> readSourceFile(const fs::path& file, const std::string& name) {
  std::error_code code;
  const std::uintmax_t size = fs::file_size(file, code);
  if (code) tools::fail("cannot read " + file.string() + ": " + code.message());
  if (size > kMaxResourceLength) tools::fail(name + " is over 1 GiB, the most a resource may be");
  return tools::readFile(file.string(), kMaxResourceLength);
}

std::vector<publish::SourceFile> collectSources(const fs::path& root, const SourceRules& rules) {
  std::vector<publish::SourceFile> sources;
  for (std::string& name : listFileNames(root)) {
    publish::SourceFile source;
    source.bytes = readSourceFile(root / name, name);
    source.mime = std::string(mediaTypeOf(name));
    source.name = std::move(name);
    sources.push_back(std::move(source));
  }
  const auto pattern = [](const std::string& rule) -> const std::string& { return rule; };
  const auto first = [](const std::pair<std::string, std::string>& rule) -> const std::string& { return rule.first; };
  applyRules(rules.members, "members", sources, pattern, [](const auto&, publish::SourceFile& source) {
    source.members = true;
  });
  applyRules(rules.downloads, "download", sources, pattern, [](const auto&, publish::SourceFile& source) {
    source.download = true;
  });
  applyRules(rules.types, "type", sources, first, [](const auto& rule, publish::SourceFile& source) {
    source.mime = rule.second;
  });
  applyRules(rules.codecs, "codec", sources, first, [](const auto& rule, publish::SourceFile& source) {
    if (!source.codec.empty() && source.codec != rule.second) {
      tools::fail(source.name + " matches two --codec patterns");
    }
    source.codec = rule.second;
  });
  return sources;
}

}  // namespace vesmara::pack
