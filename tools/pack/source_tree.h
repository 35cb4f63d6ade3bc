// The files of a site folder, as the publisher takes them: every regular
// file below the folder except those whose names (or folders' names) begin
// with '.', with the media type of its name and the options' patterns
// applied.
#ifndef VESMARA_TOOLS_PACK_SOURCE_TREE_H_
#define VESMARA_TOOLS_PACK_SOURCE_TREE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "publish/site_builder.h"

namespace vesmara::pack {

// Pattern rules (see glob.h); every pattern must match at least one file.
struct SourceRules {
  std::vector<std::string> members;                           // sealed for members
  std::vector<std::string> downloads;                         // delivered as downloads
  std::vector<std::pair<std::string, std::string>> codecs;    // pattern, codec
  std::vector<std::pair<std::string, std::string>> types;     // pattern, media type
};

// Reads one file to publish as `name`. Refuses, before reading it, a file
// larger than a resource may be. Throws CommandError.
std::vector<std::uint8_t> readSourceFile(const std::filesystem::path& file, const std::string& name);

// The site's files in name order. Throws CommandError.
std::vector<publish::SourceFile> collectSources(const std::filesystem::path& root, const SourceRules& rules);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_SOURCE_TREE_H_
