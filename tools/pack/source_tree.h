// The files of a site folder, as the publisher takes them: every regular
// file below the folder, with the media type of its name and the options'
// patterns applied. Names beginning with '.' are left out unless asked for;
// symbolic links are refused unless followed; anything that is neither a
// file nor a folder (FIFOs, sockets, devices) is left out. What is left
// out is listed, so that the user learns of it.
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
  std::vector<std::string> members;                         // sealed for members
  std::vector<std::string> downloads;                       // delivered as downloads
  std::vector<std::pair<std::string, std::string>> codecs;  // pattern, codec
  std::vector<std::pair<std::string, std::string>> types;   // pattern, media type
  bool follow_links = false;    // publish what symbolic links point to, wherever that is
  bool include_hidden = false;  // publish names beginning with '.'
};

struct SourceTree {
  std::vector<publish::SourceFile> files;  // in name order
  std::vector<std::string> skipped;        // "NAME: why", printable
};

// The site's files, each read only when it is published. Throws
// CommandError naming the file and the rule it breaks.
SourceTree collectSources(const std::filesystem::path& root, const SourceRules& rules);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_SOURCE_TREE_H_
