// The Linux file sink. The download is written into a file without a name
// (O_TMPFILE) in the destination's directory, flushed, and linked under the
// destination's name on commit without replacing anything: until then no
// other process can open it, and a crash at any moment leaves nothing
// behind, since the kernel frees a file nobody named. Where the file system
// cannot make unnamed files, a named temporary beside the destination takes
// its place (readable by its owner alone until commit) and is renamed onto
// the destination. Every step after construction works relative to a
// descriptor of the destination's directory, so a directory of the chain
// that is moved or swapped for a link during a download cannot redirect
// the write.
#ifndef VESMARA_HOSTS_POSIX_POSIX_FILE_OUTPUT_H_
#define VESMARA_HOSTS_POSIX_POSIX_FILE_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/file_output.h"

namespace vesmara {

// The absolute local file path rule: well-formed UTF-8 of at most 4,095
// bytes beginning with "/", at least 2 bytes; split at "/", every component
// is non-empty, neither "." nor "..", at most 255 bytes, and holds no byte
// below 0x20. Nothing else is refused: ":", trailing dots and spaces are
// ordinary file name bytes here.
bool isAbsoluteLocalFilePath(std::string_view path);

// The part of a destination name that starts its named temporary
// ("<stem>.vkr-<32 hex digits>.tmp"): the name itself, or, when the suffix
// would push it past 255 bytes, its first 214 bytes cut back to a whole
// UTF-8 character.
std::string_view temporaryStem(std::string_view name);

// Moves `from` to `to`, both names inside `directory`, never replacing an
// existing `to` (TargetExists then). Falls back to linkWithoutReplace where
// the file system cannot rename without replacing.
FileOutputError renameWithoutReplace(int directory, const std::string& from, const std::string& to);

// The same move as a hard link to `to` followed by removing `from`.
FileOutputError linkWithoutReplace(int directory, const std::string& from, const std::string& to);

class PosixFileOutput final : public FileOutput {
 public:
  // Fills the bytes of a temporary name; false when no randomness is available.
  using RandomFill = std::function<bool(std::span<std::uint8_t>)>;

  // Where the bytes wait for commit.
  enum class Staging {
    // An unnamed file where the file system allows one, else a named temporary.
    UnnamedWherePossible,
    // Always a named temporary, as on a file system without unnamed files.
    NamedOnly,
  };

  // Checks the destination, opens its directory chain and creates the file
  // the bytes go to. Never throws for a bad destination: the sink is then
  // not open, error() says why and `message` holds the reason; on success
  // `message` is emptied.
  PosixFileOutput(std::string_view destination, std::string& message);

  // The same with another source of temporary-name bytes and staging.
  PosixFileOutput(std::string_view destination, std::string& message, const RandomFill& random,
                  Staging staging = Staging::UnnamedWherePossible);

  ~PosixFileOutput() override;

  bool write(const std::uint8_t* data, std::uint64_t length) override;
  bool commit() override;
  void abort() override;
  // Allocates `length` bytes for the file (its size stays that of what was
  // written). Only a lack of space fails; a file system that cannot
  // allocate ahead succeeds without effect.
  bool reserve(std::uint64_t length) override;

  bool isOpen() const override { return open_; }
  FileOutputError error() const override { return error_; }

  // The named temporary's name while there is one; empty for an unnamed file.
  const std::string& temporaryName() const { return temporary_name_; }

 private:
  void prepare(std::string_view destination, std::string& message, const RandomFill& random, Staging staging);
  void refuse(FileOutputError error, std::string_view text, std::string& message);
  bool openDirectoryChain(std::string_view parent);
  bool createUnnamedFile(std::string& message);
  bool createTemporaryFile(const RandomFill& random, std::string& message);
  void opened(int file, std::string& message);
  FileOutputError publish();
  bool acceptsData() const;
  void closeDirectories();
  int parentDirectory() const { return directories_.back(); }

  std::string target_name_;       // the destination's last component
  std::string temporary_name_;    // while a named temporary exists, its name in the parent
  int file_ = -1;                 // the open file the bytes go to
  std::vector<int> directories_;  // "/" down to the destination's parent
  bool open_ = false;
  bool committed_ = false;
  FileOutputError error_ = FileOutputError::None;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_POSIX_POSIX_FILE_OUTPUT_H_
