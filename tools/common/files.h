// Files the tools read and write themselves (key files, recordings, outputs).
#ifndef VESMARA_TOOLS_COMMON_FILES_H_
#define VESMARA_TOOLS_COMMON_FILES_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesmara::tools {

// The file's bytes, at most `limit` + 1 of them: a result longer than
// `limit` tells the caller the file is longer, without reading all of a
// huge file. Throws CommandError when the file cannot be read.
std::vector<std::uint8_t> readFile(const std::string& path, std::uint64_t limit);

// The whole file, which may hold at most `limit` bytes: a longer one is
// refused with a message naming `limit_text` ("1 MiB").
std::vector<std::uint8_t> readLimitedFile(const std::string& path, std::uint64_t limit, std::string_view limit_text);

// Creates `path` with exactly `bytes`, or fails and leaves nothing: the bytes
// go to a file without a name in its folder (where the file system has no
// such files, a temporary beside it) that is linked into place only when
// complete, and an existing file is never replaced. `secret` files are
// readable by their owner only. Throws CommandError.
void writeNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool secret);

// Throws CommandError when `path` names anything already (a file, a folder,
// a link), so that a command can refuse before it does any work.
void refuseExisting(const std::string& path);

// Writes all of `bytes` to a file descriptor; false on error.
bool writeAll(int descriptor, std::span<const std::uint8_t> bytes);

// Writes all of `bytes` to standard output. Throws BrokenPipe when the
// reader has gone, CommandError on any other error.
void writeStandardOutput(std::span<const std::uint8_t> bytes);

// True when the descriptor is a terminal.
bool isTerminal(int descriptor);

// `path` made absolute against the current directory (not resolved further).
std::string absolutePath(const std::string& path);

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_FILES_H_
