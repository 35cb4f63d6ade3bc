// The files vkr-pack publishes, read from disk only when the site builder
// comes to them, one part at a time.
#ifndef VESMARA_TOOLS_PACK_FILE_CONTENT_H_
#define VESMARA_TOOLS_PACK_FILE_CONTENT_H_

#include <filesystem>
#include <memory>
#include <string>

#include "publish/site_builder.h"

namespace vesmara::pack {

// The content of the regular file at `path`, which messages call `name`.
// Without `follow_links` a symbolic link in the last place of `path` is
// refused, now and when the file is opened. Throws CommandError when the
// file is not a regular file or is larger than a resource may be; reading
// fails when the file has changed since.
std::shared_ptr<const publish::SourceContent> fileContent(const std::filesystem::path& path, const std::string& name,
                                                          bool follow_links);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_FILE_CONTENT_H_
