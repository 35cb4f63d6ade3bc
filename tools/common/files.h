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
// go to a temporary file beside it that is linked into place only when
// complete, and an existing file is never replaced. `secret` files are
// readable by their owner only. Throws CommandError.
void writeNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool secret);

// True when `path` names anything (a file, a folder, a link, even a broken one).
bool pathExists(const std::string& path);

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

// `path` as the user means it: absolute, with every symbolic link (or
// junction) among its folders resolved, and its last name kept as given.
// The links on a user's own path (a home or data folder elsewhere) are the
// user's choice; the library, which refuses links on a destination's way,
// then sees the real folders. When the folder does not exist, the path is
// only made absolute, and the library reports it.
std::string resolveUserPath(const std::string& path);

// True when `path` names a folder (through links).
bool isDirectory(const std::string& path);

// Creates the folder `path` and any missing parents. Throws CommandError.
void createDirectories(const std::string& path);

// Writes `bytes` to `path` all at once: a temporary file beside it, flushed,
// then renamed over whatever `path` held, so that a reader sees the old
// content or the new, never a mixture. Throws CommandError.
void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes);

// A private folder for files on their way elsewhere (in $TMPDIR, or the
// system's temporary folder), removed with everything in it at the end of
// the scope. Its path has no links among its folders.
class TemporaryDirectory {
 public:
  // Throws CommandError when the folder cannot be made.
  explicit TemporaryDirectory(std::string_view prefix);
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Where applications keep state between runs ($XDG_STATE_HOME, else
// ~/.local/state; %LOCALAPPDATA% on Windows); empty when unknown.
std::string stateHome();

// The width in columns of the terminal at `descriptor` (standard error on
// Windows), or 0 when unknown.
int terminalColumns(int descriptor);

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_FILES_H_
