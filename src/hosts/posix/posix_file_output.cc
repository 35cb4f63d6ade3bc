#include "hosts/posix/posix_file_output.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <utility>

#include "base/hex.h"
#include "base/text.h"

namespace vesmara {
namespace {

constexpr std::size_t kMaxPathBytes = 4095;
constexpr std::size_t kMaxComponentBytes = 255;
constexpr std::size_t kTemporaryNameRandomBytes = 16;
constexpr std::string_view kTemporaryPrefix = ".vkr-";
constexpr std::string_view kTemporaryExtension = ".tmp";
constexpr std::size_t kTemporarySuffixBytes =
    kTemporaryPrefix.size() + 2 * kTemporaryNameRandomBytes + kTemporaryExtension.size();
constexpr int kTemporaryNameAttempts = 4;
constexpr std::uint64_t kLargestWrite = 1048576;

// O_NOFOLLOW with O_PATH would hand back the link itself; O_DIRECTORY makes
// that a failure, and the caller still checks the type of what it got.
constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kTemporaryFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
// Without O_EXCL, so that the file can be given a name later.
constexpr int kUnnamedFileFlags = O_TMPFILE | O_WRONLY | O_CLOEXEC;
// The mode any new file gets; the umask takes its part away.
constexpr mode_t kNewFileMode = 0666;
// A named temporary can be opened by name until commit: its owner alone may.
constexpr mode_t kTemporaryFileMode = 0600;

bool isValidPathComponent(std::string_view component) {
  if (component.empty() || component.size() > kMaxComponentBytes) return false;
  if (component == "." || component == "..") return false;
  return std::none_of(component.begin(), component.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool fillFromSystemRandom(std::span<std::uint8_t> out) {
  std::size_t filled = 0;
  while (filled < out.size()) {
    const ssize_t got = ::getrandom(out.data() + filled, out.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<std::size_t>(got);
  }
  return true;
}

// Writes all `length` bytes, continuing after short writes and interrupts.
bool writeFully(int file, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(file, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

// True for the failures of O_TMPFILE that say the file system (or the
// kernel) makes no unnamed files: EOPNOTSUPP from the file system; EISDIR
// from a kernel that predates O_TMPFILE and saw only its O_DIRECTORY part;
// EINVAL where the flag is not accepted at all.
bool isUnnamedFileUnsupported(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// The mode a file created with kNewFileMode gets, for a named temporary that
// was created owner-only. The umask is read from /proc: umask() reads it
// only by setting it, which another thread creating a file meanwhile would
// suffer. Without /proc the temporary's owner-only mode stays.
mode_t usualNewFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (!line.starts_with("Umask:")) continue;
    char* end = nullptr;
    const unsigned long mask = std::strtoul(line.c_str() + 6, &end, 8);
    if (end == line.c_str() + 6 || *end != '\0' || mask > 0777) break;
    return kNewFileMode & ~static_cast<mode_t>(mask);
  }
  return kTemporaryFileMode;
}

// Gives the unnamed file open as `file` the name `name` in `directory`,
// never replacing an existing entry (TargetExists then). The link through
// /proc needs nothing but /proc; linking the descriptor itself
// (AT_EMPTY_PATH) is the way without /proc, where the kernel allows it.
FileOutputError linkUnnamedFile(int file, int directory, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(file);
  if (::linkat(AT_FDCWD, self.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return FileOutputError::None;
  }
  if (errno == EEXIST) return FileOutputError::TargetExists;
  if (::linkat(file, "", directory, name.c_str(), AT_EMPTY_PATH) == 0) return FileOutputError::None;
  return errno == EEXIST ? FileOutputError::TargetExists : FileOutputError::WriteFailed;
}

// Sets `length` bytes of room aside for `file`; false only when they cannot
// fit. The size stays that of what was written, so that a watcher of the
// file's size sees a download grow. Any other failure (EOPNOTSUPP above
// all) leaves the writes to find out whether the bytes fit.
bool allocateAhead(int file, std::uint64_t length) {
  if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
  int result = 0;
  do {
    result = ::fallocate(file, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  return result == 0 || (errno != ENOSPC && errno != EDQUOT && errno != EFBIG);
}

// Makes a new name in `directory` durable. `directory` is an O_PATH
// descriptor, which fsync refuses, so "." is opened through it for reading.
bool syncDirectory(int directory) {
  const int readable = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (readable < 0) return false;
  const bool synced = ::fsync(readable) == 0;
  ::close(readable);
  return synced;
}

}  // namespace

bool isAbsoluteLocalFilePath(std::string_view path) {
  if (!passesTextRule(path.data(), path.size(), kMaxPathBytes)) return false;
  if (path.size() < 2 || path.front() != '/') return false;
  std::size_t start = 1;
  while (true) {
    const std::size_t end = path.find('/', start);
    const std::size_t stop = end == std::string_view::npos ? path.size() : end;
    if (!isValidPathComponent(path.substr(start, stop - start))) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

std::string_view temporaryStem(std::string_view name) {
  constexpr std::size_t kLongestStem = kMaxComponentBytes - kTemporarySuffixBytes;
  if (name.size() <= kLongestStem) return name;
  // Cut before the character whose bytes would straddle the limit.
  std::size_t cut = kLongestStem;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

FileOutputError renameWithoutReplace(int directory, const std::string& from, const std::string& to) {
  if (::renameat2(directory, from.c_str(), directory, to.c_str(), RENAME_NOREPLACE) == 0) {
    return FileOutputError::None;
  }
  if (errno == EEXIST) return FileOutputError::TargetExists;
  // EINVAL: this file system has no no-replace rename; ENOSYS: the kernel has
  // none at all. A plain rename would replace, so it is never the fallback.
  if (errno == EINVAL || errno == ENOSYS) return linkWithoutReplace(directory, from, to);
  return FileOutputError::WriteFailed;
}

FileOutputError linkWithoutReplace(int directory, const std::string& from, const std::string& to) {
  if (::linkat(directory, from.c_str(), directory, to.c_str(), 0) != 0) {
    return errno == EEXIST ? FileOutputError::TargetExists : FileOutputError::WriteFailed;
  }
  // The destination already names the complete file; should removing the
  // second name fail, what is left is a stray link, not a wrong destination.
  ::unlinkat(directory, from.c_str(), 0);
  return FileOutputError::None;
}

PosixFileOutput::PosixFileOutput(std::string_view destination, std::string& message)
    : PosixFileOutput(destination, message, fillFromSystemRandom) {}

PosixFileOutput::PosixFileOutput(std::string_view destination, std::string& message, const RandomFill& random,
                                 Staging staging) {
  // Only allocation can throw; what was opened or created by then goes with it.
  try {
    prepare(destination, message, random, staging);
  } catch (...) {
    abort();
    throw;
  }
}

PosixFileOutput::~PosixFileOutput() { abort(); }

void PosixFileOutput::prepare(std::string_view destination, std::string& message, const RandomFill& random,
                              Staging staging) {
  if (!isAbsoluteLocalFilePath(destination)) {
    refuse(FileOutputError::InvalidDestination, "Output path must be an absolute local file path", message);
    return;
  }
  // For a file in "/" the parent text is empty and the chain is "/" alone.
  const std::size_t last_separator = destination.rfind('/');
  target_name_.assign(destination.substr(last_separator + 1));
  if (!openDirectoryChain(destination.substr(0, last_separator))) {
    refuse(FileOutputError::InvalidDestination, "Output parent must be an existing real directory", message);
    return;
  }
  // A link, even a dangling one, counts as an existing destination.
  struct stat existing;
  if (::fstatat(parentDirectory(), target_name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    refuse(FileOutputError::TargetExists, "Output target already exists", message);
    return;
  }
  if (staging == Staging::UnnamedWherePossible && createUnnamedFile(message)) return;
  if (error_ == FileOutputError::None) createTemporaryFile(random, message);
}

void PosixFileOutput::refuse(FileOutputError error, std::string_view text, std::string& message) {
  error_ = error;
  message.assign(text);
  closeDirectories();
}

bool PosixFileOutput::openDirectoryChain(std::string_view parent) {
  // Room for "/" and every component up front, so that keeping a descriptor
  // cannot fail once it is open.
  directories_.reserve(1 + static_cast<std::size_t>(std::count(parent.begin(), parent.end(), '/')));
  int directory = ::open("/", kDirectoryFlags);
  std::size_t start = 1;
  while (true) {
    if (directory < 0) return false;
    struct stat status;
    if (::fstat(directory, &status) != 0 || !S_ISDIR(status.st_mode)) {
      ::close(directory);
      return false;
    }
    directories_.push_back(directory);
    if (start > parent.size()) return true;
    const std::size_t end = std::min(parent.find('/', start), parent.size());
    const std::string component(parent.substr(start, end - start));
    directory = ::openat(directories_.back(), component.c_str(), kDirectoryFlags);
    start = end + 1;
  }
}

// False with nothing refused when the file system makes no unnamed files.
bool PosixFileOutput::createUnnamedFile(std::string& message) {
  // The kernel gives the file the mode of any new file here (the umask or the
  // directory's default ACL applies); since nobody can open it before it has
  // a name, it may carry that final mode from the start.
  const int file = ::openat(parentDirectory(), ".", kUnnamedFileFlags, kNewFileMode);
  if (file >= 0) {
    opened(file, message);
    return true;
  }
  if (!isUnnamedFileUnsupported(errno)) {
    refuse(FileOutputError::WriteFailed, "Temporary output creation failed", message);
  }
  return false;
}

bool PosixFileOutput::createTemporaryFile(const RandomFill& random, std::string& message) {
  const std::string stem(temporaryStem(target_name_));
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::array<std::uint8_t, kTemporaryNameRandomBytes> bytes{};
    if (!random || !random(bytes)) {
      refuse(FileOutputError::WriteFailed, "Temporary name generation failed", message);
      return false;
    }
    std::string name = stem;
    name.append(kTemporaryPrefix).append(encodeLowerHex(bytes)).append(kTemporaryExtension);
    const int file = ::openat(parentDirectory(), name.c_str(), kTemporaryFileFlags, kTemporaryFileMode);
    if (file >= 0) {
      temporary_name_ = std::move(name);
      opened(file, message);
      return true;
    }
    if (errno != EEXIST) break;
  }
  refuse(FileOutputError::WriteFailed, "Temporary output creation failed", message);
  return false;
}

void PosixFileOutput::opened(int file, std::string& message) {
  file_ = file;
  open_ = true;
  message.clear();
}

// After a failed write the file holds an unknown prefix of the data, and
// after a failed commit the file is closed: neither may be added to or
// published, so any recorded error ends the sink's writing life.
bool PosixFileOutput::acceptsData() const {
  return open_ && !committed_ && file_ >= 0 && error_ == FileOutputError::None;
}

bool PosixFileOutput::write(const std::uint8_t* data, std::uint64_t length) {
  if (!acceptsData()) return false;
  if (length == 0) return true;
  if (data == nullptr) return false;
  while (length > 0) {
    const auto piece = static_cast<std::size_t>(std::min(length, kLargestWrite));
    if (!writeFully(file_, data, piece)) {
      error_ = FileOutputError::WriteFailed;
      return false;
    }
    data += piece;
    length -= piece;
  }
  return true;
}

bool PosixFileOutput::reserve(std::uint64_t length) {
  if (!acceptsData()) return false;
  if (length == 0 || allocateAhead(file_, length)) return true;
  error_ = FileOutputError::WriteFailed;
  return false;
}

bool PosixFileOutput::commit() {
  if (!acceptsData()) return false;
  const FileOutputError published = publish();
  if (published != FileOutputError::None) {
    // A named temporary stays until abort or destruction removes it.
    error_ = published;
    return false;
  }
  temporary_name_.clear();
  committed_ = true;
  // The verified file is in place; a failure to make the directory entry
  // durable changes nothing the caller could act on, so it is not a failure.
  syncDirectory(parentDirectory());
  closeDirectories();
  return true;
}

// Flushes the file and gives it the destination's name, never replacing.
FileOutputError PosixFileOutput::publish() {
  if (temporary_name_.empty()) {
    if (::fsync(file_) != 0) return FileOutputError::WriteFailed;
    const FileOutputError linked = linkUnnamedFile(file_, parentDirectory(), target_name_);
    if (linked == FileOutputError::None) {
      // The bytes are on disk already: an error of close changes nothing.
      ::close(file_);
      file_ = -1;
    }
    return linked;
  }
  // The destination gets the mode of any new file, not the temporary's.
  if (::fchmod(file_, usualNewFileMode()) != 0 || ::fsync(file_) != 0) return FileOutputError::WriteFailed;
  // Linux releases the descriptor even when close reports an error, and an
  // error other than an interrupt means the data may not be what was written.
  const int closed = ::close(file_);
  file_ = -1;
  if (closed != 0 && errno != EINTR) return FileOutputError::WriteFailed;
  return renameWithoutReplace(parentDirectory(), temporary_name_, target_name_);
}

void PosixFileOutput::abort() {
  if (file_ >= 0) {
    ::close(file_);
    file_ = -1;
  }
  if (!temporary_name_.empty()) {
    ::unlinkat(parentDirectory(), temporary_name_.c_str(), 0);
    temporary_name_.clear();
  }
  closeDirectories();
  open_ = false;
}

void PosixFileOutput::closeDirectories() {
  for (const int directory : directories_) ::close(directory);
  directories_.clear();
}

}  // namespace vesmara
