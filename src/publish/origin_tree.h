// Writes a built origin to disk as a tree any static web server can serve.
#ifndef VESMARA_PUBLISH_ORIGIN_TREE_H_
#define VESMARA_PUBLISH_ORIGIN_TREE_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/failure.h"

namespace vesmara::publish {

// Writes `files` (origin path -> bytes) below `directory`, which must not
// exist or be an empty directory. The tree is written beside it first and
// renamed into place, so a failure leaves nothing half-written. Failures are
// Output.
bool writeOriginTree(const std::map<std::string, std::vector<std::uint8_t>>& files,
                     const std::filesystem::path& directory, Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_ORIGIN_TREE_H_
