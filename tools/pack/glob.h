// File name patterns of vkr-pack's options ("--members 'members/**'").
#ifndef VESMARA_TOOLS_PACK_GLOB_H_
#define VESMARA_TOOLS_PACK_GLOB_H_

#include <string_view>

namespace vesmara::pack {

// True when `path` (a file's path relative to the site folder, "img/a.png")
// matches `pattern`: '*' stands for any run of characters within one
// segment, '?' for one character other than '/', '**' for any run across
// segments ("**/" also for none). A pattern without '/' is matched against
// the file's name alone, at any depth. Each pair of positions is worked out
// once, so no pattern takes exponential time.
bool matchesGlob(std::string_view pattern, std::string_view path);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_GLOB_H_
