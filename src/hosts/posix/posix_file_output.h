// The Linux file sink: a temporary file created beside the destination,
// written, flushed and renamed onto the destination without replacing
// anything. Every step after construction works relative to a descriptor of
// the destination's directory, so a directory of the chain that is moved or
// swapped for a link during a download cannot redirect the write.
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

  // Checks the destination, opens its directory chain and creates the
  // temporary file. Never throws for a bad destination: the sink is then not
  // open, error() says why and `message` holds the reason; on success
  // `message` is emptied.
  PosixFileOutput(std::string_view destination, std::string& message);

  // The same with another source of temporary-name bytes.
  PosixFileOutput(std::string_view destination, std::string& message, const RandomFill& random);

  ~PosixFileOutput() override;

  bool write(const std::uint8_t* data, std::uint64_t length) override;
  bool commit() override;
  void abort() override;

  bool isOpen() const override { return open_; }
  FileOutputError error() const override { return error_; }

 private:
  void prepare(std::string_view destination, std::string& message, const RandomFill& random);
  void refuse(FileOutputError error, std::string_view text, std::string& message);
  bool openDirectoryChain(std::string_view parent);
  bool createTemporaryFile(const RandomFill& random, std::string& message);
  bool acceptsData() const;
  void closeDirectories();
  int parentDirectory() const { return directories_.back(); }

  std::string target_name_;       // the destination's last component
  std::string temporary_name_;    // while the temporary file exists, its name in the parent
  int file_ = -1;                 // the open temporary file
  std::vector<int> directories_;  // "/" down to the destination's parent
  bool open_ = false;
  bool committed_ = false;
  FileOutputError error_ = FileOutputError::None;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_POSIX_POSIX_FILE_OUTPUT_H_
