// Names of the publisher's inputs as a user reads them in a message, and the
// rules a name must pass to become a site path.
#ifndef VESMARA_TOOLS_PACK_NAMES_H_
#define VESMARA_TOOLS_PACK_NAMES_H_

#include <string>
#include <string_view>

namespace vesmara::pack {

// `name` as one line of text: control characters, backslashes, C1 controls
// and bytes that are not well-formed UTF-8 written as escapes ("\n",
// "\\", "\xe9"); everything else as it is.
std::string printableName(std::string_view name);

// Why `name` (relative to the site folder, '/' between folders) cannot be a
// site path, or empty when it can.
std::string siteNameProblem(std::string_view name);

// Why `path` cannot be a game item's path, or empty when it can.
std::string itemPathProblem(std::string_view path);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_NAMES_H_
