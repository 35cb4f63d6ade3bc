#include "pack/source_tree.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "common/command_error.h"
#include "index/index_format.h"
#include "pack/file_content.h"
#include "pack/glob.h"
#include "pack/media_types.h"
#include "pack/names.h"

namespace vesmara::pack {
namespace {

namespace fs = std::filesystem;

std::string kindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device";
    default:
      return "neither a file nor a folder";
  }
}

// Walks the folder without ever leaving it through a link it was not asked
// to follow, and without going round a loop of links.
class SourceWalk {
 public:
  SourceWalk(const fs::path& root, const SourceRules& rules, SourceTree& tree)
      : root_(root), rules_(rules), tree_(tree) {}

  std::vector<std::string> run() {
    std::error_code code;
    if (!fs::is_directory(root_, code)) tools::fail(root_.string() + " is not a folder");
    walk(root_, "");
    std::sort(names_.begin(), names_.end());
    return std::move(names_);
  }

 private:
  void walk(const fs::path& folder, const std::string& prefix) {
    std::error_code code;
    const fs::path canonical = fs::canonical(folder, code);
    if (code) tools::fail("cannot list " + printableName(folder.string()) + ": " + code.message());
    if (!ancestors_.insert(canonical).second) {
      tools::fail(printableName(prefix) + " is a link back to a folder it is in");
    }
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator entry(folder, code), end; !code && entry != end; entry.increment(code)) {
      entries.push_back(*entry);
    }
    if (code) tools::fail("cannot list " + printableName(folder.string()) + ": " + code.message());
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries) visit(entry, prefix + entry.path().filename().string());
    ancestors_.erase(canonical);
  }

  void visit(const fs::directory_entry& entry, const std::string& name) {
    const std::string shown = printableName(name);
    if (entry.path().filename().string().starts_with('.') && !rules_.include_hidden) {
      tree_.skipped.push_back(shown + ": hidden (see --include-hidden)");
      return;
    }
    std::error_code code;
    fs::file_status status = entry.symlink_status(code);
    if (code) tools::fail("cannot read " + shown + ": " + code.message());
    if (fs::is_symlink(status)) {
      if (!rules_.follow_links) {
        tools::fail(shown + " is a symbolic link, which is not followed (see --follow-links)");
      }
      status = entry.status(code);
      if (!fs::exists(status)) tools::fail(shown + " is a symbolic link to nothing");
    }
    if (fs::is_directory(status)) {
      walk(entry.path(), name + "/");
    } else if (fs::is_regular_file(status)) {
      if (names_.size() == kMaxResources) {
        tools::fail(root_.string() + " holds more than " + std::to_string(kMaxResources) +
                    " files, more than a site can");
      }
      names_.push_back(name);
    } else {
      tree_.skipped.push_back(shown + ": " + kindOf(status.type()) + ", not a file");
    }
  }

  const fs::path& root_;
  const SourceRules& rules_;
  SourceTree& tree_;
  std::set<fs::path> ancestors_;
  std::vector<std::string> names_;
};

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

publish::SourceFile sourceFile(const fs::path& root, std::string name, bool follow_links) {
  const std::string shown = printableName(name);
  if (const std::string problem = siteNameProblem(name); !problem.empty()) {
    tools::fail("cannot publish " + shown + ": " + problem);
  }
  publish::SourceFile source;
  source.content = fileContent(root / name, shown, follow_links);
  if (source.length() == 0) tools::fail("cannot publish " + shown + ": it is empty, and a site's files are not");
  source.mime = std::string(mediaTypeOf(name));
  source.name = std::move(name);
  return source;
}

}  // namespace

SourceTree collectSources(const fs::path& root, const SourceRules& rules) {
  SourceTree tree;
  for (std::string& name : SourceWalk(root, rules, tree).run()) {
    tree.files.push_back(sourceFile(root, std::move(name), rules.follow_links));
  }
  std::vector<publish::SourceFile>& sources = tree.files;
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
  return tree;
}

}  // namespace vesmara::pack
