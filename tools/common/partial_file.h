// The file a download in progress is being written to, found so that its
// size can be watched. The library names the file only once it is
// complete. Until then, on Linux, it is a file without a name that this
// process holds open in the destination's directory: its descriptor's link
// in /proc/self/fd reads "DIR/#INODE (deleted)". Where the file system has
// no such files, and on other systems, it is a temporary beside the
// destination, "NAME.vkr-<32 lowercase hex digits>.tmp", with NAME cut
// short when the whole would pass 255 bytes.
#ifndef VESMARA_TOOLS_COMMON_PARTIAL_FILE_H_
#define VESMARA_TOOLS_COMMON_PARTIAL_FILE_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vesmara::tools {

// True when `link`, what a descriptor's link in /proc/self/fd reads, is a
// file without a name in `directory`.
bool isUnnamedFileIn(const std::string& link, const std::filesystem::path& directory);

// True when `candidate` is a temporary name of a download into `name`.
bool isTemporaryNameOf(const std::string& candidate, const std::string& name);

class PartialFile {
 public:
  explicit PartialFile(const std::filesystem::path& destination);

  // The bytes written so far, once the file has been found.
  std::optional<std::uint64_t> size();

 private:
  bool findUnnamed();
  bool findNamed();

  std::filesystem::path directory_;
  std::string name_;
  std::filesystem::path found_;  // the temporary, or the descriptor's link
  std::string link_;             // for an unnamed file: what its link read when found
};

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_PARTIAL_FILE_H_
