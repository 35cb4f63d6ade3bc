#include "hosts/windows/windows_file_output.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

#include "base/hex.h"
#include "hosts/windows/windows_crypto_host.h"

namespace vesmara {
namespace {

constexpr std::size_t kTemporaryNameRandomBytes = 16;
constexpr int kTemporaryNameAttempts = 4;
constexpr std::uint64_t kLargestWrite = 1048576;
constexpr std::size_t kDriveRootLength = 3;  // "C:\"
constexpr std::size_t kMaxComponentUnits = 255;
constexpr std::size_t kTemporarySuffixUnits = 41;  // ".vkr-", 32 hex digits, ".tmp"

// Directories are opened for their attributes only, shared for reading and
// writing but not deletion, as the reparse point itself rather than its
// target; backup semantics is what lets CreateFileW open a directory.
constexpr DWORD kDirectoryAccess = FILE_READ_ATTRIBUTES;
constexpr DWORD kDirectorySharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kDirectoryFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool isValidPathComponent(std::wstring_view component) {
  if (component.empty() || component == L"." || component == L"..") return false;
  if (component.back() == L'.' || component.back() == L' ') return false;
  return std::none_of(component.begin(), component.end(), [](wchar_t c) {
    return c < 0x20 || c == L'"' || c == L'*' || c == L':' || c == L'<' || c == L'>' || c == L'?' || c == L'|';
  });
}

// A real directory: the directory bit set and the reparse-point bit clear.
bool isRealDirectory(HANDLE directory) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(directory, FileAttributeTagInfo, &info, sizeof(info))) return false;
  return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::wstring widenAscii(std::string_view text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::wstring widenUtf8(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), units) != units) return {};
  return wide;
}

std::wstring_view temporaryStem(std::wstring_view name) {
  constexpr std::size_t kLongestStem = kMaxComponentUnits - kTemporarySuffixUnits;
  if (name.size() <= kLongestStem) return name;
  std::size_t cut = kLongestStem;
  // A low surrogate at the cut belongs with the high one before it.
  if (name[cut] >= 0xDC00 && name[cut] <= 0xDFFF) --cut;
  return name.substr(0, cut);
}

bool isAbsoluteLocalFilePath(std::wstring_view path) {
  if (path.size() < 4) return false;
  if (!isAsciiLetter(path[0]) || path[1] != L':' || !isSeparator(path[2])) return false;
  std::size_t start = kDriveRootLength;
  while (true) {
    std::size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    if (!isValidPathComponent(path.substr(start, end - start))) return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

WindowsFileOutput::WindowsFileOutput(std::string_view destination, std::string& message)
    : WindowsFileOutput(destination, message, fillFromSystemRandom) {}

WindowsFileOutput::WindowsFileOutput(std::string_view destination, std::string& message, const RandomFill& random) {
  // Only allocation can throw; what was opened or created by then goes with it.
  try {
    prepare(destination, message, random);
  } catch (...) {
    abort();
    throw;
  }
}

WindowsFileOutput::~WindowsFileOutput() { abort(); }

void WindowsFileOutput::prepare(std::string_view destination, std::string& message, const RandomFill& random) {
  target_path_ = widenUtf8(destination);
  if (!isAbsoluteLocalFilePath(target_path_)) {
    refuse(FileOutputError::InvalidDestination, "Output path must be an absolute local file path", message);
    return;
  }
  std::size_t last_separator = target_path_.size();
  while (!isSeparator(target_path_[last_separator - 1])) --last_separator;
  if (!openDirectoryChain(last_separator - 1)) {
    refuse(FileOutputError::InvalidDestination, "Output parent must be an existing real directory", message);
    return;
  }
  if (GetFileAttributesW(target_path_.c_str()) != INVALID_FILE_ATTRIBUTES) {
    refuse(FileOutputError::TargetExists, "Output target already exists", message);
    return;
  }
  createTemporaryFile(last_separator, random, message);
}

void WindowsFileOutput::refuse(FileOutputError error, std::string_view text, std::string& message) {
  error_ = error;
  message.assign(text);
  closeDirectories();
}

// Opens every prefix of the target path that ends at a separator, from the
// drive root ("C:\") to the last separator, checking each before the next.
bool WindowsFileOutput::openDirectoryChain(std::size_t last_separator) {
  std::size_t end = kDriveRootLength;  // the root keeps its separator
  directories_.reserve(1 + static_cast<std::size_t>(std::count_if(
                               target_path_.begin() + kDriveRootLength,
                               target_path_.begin() + static_cast<std::ptrdiff_t>(last_separator), isSeparator)));
  while (true) {
    const std::wstring prefix = target_path_.substr(0, end);
    HANDLE directory = CreateFileW(prefix.c_str(), kDirectoryAccess, kDirectorySharing, nullptr, OPEN_EXISTING,
                                   kDirectoryFlags, nullptr);
    if (directory == INVALID_HANDLE_VALUE) return false;
    if (!isRealDirectory(directory)) {
      CloseHandle(directory);
      return false;
    }
    directories_.push_back(directory);
    if (end >= last_separator) return true;
    end = end == kDriveRootLength ? end : end + 1;
    while (end < last_separator && !isSeparator(target_path_[end])) ++end;
  }
}

// The temporary file is named after the destination, its name cut short
// where the whole would pass the longest file name.
bool WindowsFileOutput::createTemporaryFile(std::size_t last_separator, const RandomFill& random,
                                            std::string& message) {
  const std::wstring_view target = target_path_;
  const std::wstring prefix =
      std::wstring(target.substr(0, last_separator)) + std::wstring(temporaryStem(target.substr(last_separator)));
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::array<std::uint8_t, kTemporaryNameRandomBytes> bytes{};
    if (!random || !random(bytes)) {
      refuse(FileOutputError::WriteFailed, "Temporary name generation failed", message);
      return false;
    }
    std::wstring path = prefix + L".vkr-" + widenAscii(encodeLowerHex(bytes)) + L".tmp";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      file_ = file;
      temporary_path_ = std::move(path);
      open_ = true;
      message.clear();
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  refuse(FileOutputError::WriteFailed, "Temporary output creation failed", message);
  return false;
}

// After a failed write the file holds an unknown prefix of the data, and
// after a failed commit the file is closed: neither may be added to or
// published, so any recorded error ends the sink's writing life.
bool WindowsFileOutput::acceptsData() const {
  return open_ && !committed_ && file_ != nullptr && error_ == FileOutputError::None;
}

bool WindowsFileOutput::write(const std::uint8_t* data, std::uint64_t length) {
  if (!acceptsData()) return false;
  if (length == 0) return true;
  if (data == nullptr) return false;
  while (length > 0) {
    const auto piece = static_cast<DWORD>(std::min(length, kLargestWrite));
    DWORD written = 0;
    if (!WriteFile(file_, data, piece, &written, nullptr) || written != piece) {
      error_ = FileOutputError::WriteFailed;
      return false;
    }
    data += piece;
    length -= piece;
  }
  return true;
}

// Sets the space aside without moving the end of the file, so that a
// watcher of its size sees the download grow. Only a full disk is a
// failure; a file system that cannot reserve leaves it to the writes.
bool WindowsFileOutput::reserve(std::uint64_t length) {
  if (!acceptsData()) return false;
  if (length == 0 || length > static_cast<std::uint64_t>(INT64_MAX)) return length == 0;
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(length);
  if (SetFileInformationByHandle(file_, FileAllocationInfo, &allocation, sizeof(allocation))) return true;
  const DWORD failure = GetLastError();
  if (failure != ERROR_DISK_FULL && failure != ERROR_HANDLE_DISK_FULL) return true;
  error_ = FileOutputError::WriteFailed;
  return false;
}

bool WindowsFileOutput::commit() {
  if (!acceptsData()) return false;
  if (!FlushFileBuffers(file_)) {
    error_ = FileOutputError::WriteFailed;
    return false;
  }
  closeFile();
  if (!MoveFileExW(temporary_path_.c_str(), target_path_.c_str(), MOVEFILE_WRITE_THROUGH)) {
    // The temporary file stays until abort or destruction removes it.
    const DWORD failure = GetLastError();
    error_ = failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS ? FileOutputError::TargetExists
                                                                             : FileOutputError::WriteFailed;
    return false;
  }
  temporary_path_.clear();
  committed_ = true;
  closeDirectories();
  return true;
}

void WindowsFileOutput::abort() {
  closeFile();
  if (!temporary_path_.empty()) {
    DeleteFileW(temporary_path_.c_str());
    temporary_path_.clear();
  }
  closeDirectories();
  open_ = false;
}

void WindowsFileOutput::closeFile() {
  if (file_ != nullptr) {
    CloseHandle(file_);
    file_ = nullptr;
  }
}

void WindowsFileOutput::closeDirectories() {
  for (void* directory : directories_) CloseHandle(directory);
  directories_.clear();
}

}  // namespace vesmara
