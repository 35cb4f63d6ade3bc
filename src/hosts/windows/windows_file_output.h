// The Windows file sink: a temporary file created beside the destination,
// written, flushed and moved onto the destination without replacing
// anything. Every directory from the drive root down to the destination's
// parent stays open, without delete sharing, from construction to commit or
// abort, and none of them may be a reparse point (junction, symbolic link),
// so the chain cannot be swapped or redirected while a download runs.
#ifndef VESMARA_HOSTS_WINDOWS_WINDOWS_FILE_OUTPUT_H_
#define VESMARA_HOSTS_WINDOWS_WINDOWS_FILE_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/file_output.h"

namespace vesmara {

// The destination text as UTF-16: empty for an empty input, an input of
// 2^31 bytes or more, or invalid UTF-8.
std::wstring widenUtf8(std::string_view text);

// The absolute local file path rule: at least 4 units; a drive letter, ":"
// and "\" or "/"; then components split at "\" and "/", each non-empty, not
// "." or "..", not ending with "." or a space, and free of units below 0x20
// and of the characters " * : < > ? |.
bool isAbsoluteLocalFilePath(std::wstring_view path);

// The part of the destination's file name `name` a temporary name begins
// with: all of it, or as much as leaves room for ".vkr-", 32 hex digits and
// ".tmp" within 255 UTF-16 units, never cutting a surrogate pair.
std::wstring_view temporaryStem(std::wstring_view name);

class WindowsFileOutput final : public FileOutput {
 public:
  // Fills the bytes of a temporary name; false when no randomness is available.
  using RandomFill = std::function<bool(std::span<std::uint8_t>)>;

  // Checks the destination, opens its directory chain and creates the
  // temporary file. Never throws for a bad destination: the sink is then not
  // open, error() says why and `message` holds the reason; on success
  // `message` is emptied.
  WindowsFileOutput(std::string_view destination, std::string& message);

  // The same with another source of temporary-name bytes.
  WindowsFileOutput(std::string_view destination, std::string& message, const RandomFill& random);

  ~WindowsFileOutput() override;

  bool write(const std::uint8_t* data, std::uint64_t length) override;
  bool commit() override;
  void abort() override;
  bool reserve(std::uint64_t length) override;

  bool isOpen() const override { return open_; }
  FileOutputError error() const override { return error_; }

 private:
  void prepare(std::string_view destination, std::string& message, const RandomFill& random);
  void refuse(FileOutputError error, std::string_view text, std::string& message);
  bool openDirectoryChain(std::size_t last_separator);
  bool createTemporaryFile(std::size_t last_separator, const RandomFill& random, std::string& message);
  bool acceptsData() const;
  void closeFile();
  void closeDirectories();

  std::wstring target_path_;
  std::wstring temporary_path_;     // while the temporary file exists
  void* file_ = nullptr;            // the open temporary file (a HANDLE)
  std::vector<void*> directories_;  // the drive root down to the parent (HANDLEs)
  bool open_ = false;
  bool committed_ = false;
  FileOutputError error_ = FileOutputError::None;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_WINDOWS_WINDOWS_FILE_OUTPUT_H_
