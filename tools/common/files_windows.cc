// The tools' own files on Windows: Win32 file functions with UTF-8 names,
// and the C runtime's descriptors 1 and 2 (in binary mode, see tool_main.cc)
// for standard output and error.
#include <windows.h>
// io.h after windows.h.
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "common/command_error.h"
#include "common/files.h"

namespace vesmara::tools {
namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(units, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

std::string narrow(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Closes a handle when the scope ends.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool close() {
    const bool closed = CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

[[noreturn]] void failWithLastError(const std::string& what, const std::string& path) {
  const DWORD error = GetLastError();
  fail(what + " " + path + ": " + std::system_category().message(static_cast<int>(error)));
}

bool writeAllToHandle(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (!WriteFile(file, bytes.data(), piece, &written, nullptr) || written == 0) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

// The real path of `folder`, with junctions and symbolic links resolved, when
// it is a folder on a drive; empty otherwise.
std::filesystem::path finalFolderPath(const std::filesystem::path& folder) {
  Handle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) return {};
  std::wstring real(32768, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(handle.get(), real.data(), static_cast<DWORD>(real.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= real.size()) return {};
  real.resize(length);
  if (real.starts_with(L"\\\\?\\")) real.erase(0, 4);
  // Only a drive path; anything else (a share) is left for the library to judge.
  if (real.size() < 3 || real[1] != L':') return {};
  return real;
}

}  // namespace

std::vector<std::uint8_t> readFile(const std::string& path, std::uint64_t limit) {
  Handle file(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    if (GetLastError() == ERROR_ACCESS_DENIED && std::filesystem::is_directory(widen(path))) {
      fail("cannot read " + path + ": it is a directory");
    }
    failWithLastError("cannot open", path);
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  while (bytes.size() <= limit) {
    const auto wanted = static_cast<DWORD>(std::min<std::uint64_t>(sizeof chunk, limit + 1 - bytes.size()));
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, wanted, &got, nullptr)) failWithLastError("cannot read", path);
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

std::vector<std::uint8_t> readLimitedFile(const std::string& path, std::uint64_t limit, std::string_view limit_text) {
  std::vector<std::uint8_t> bytes = readFile(path, limit);
  if (bytes.size() > limit) fail(path + " is over " + std::string(limit_text));
  return bytes;
}

bool writeAll(int descriptor, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const auto piece = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const int written = _write(descriptor, bytes.data(), piece);
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

bool pathExists(const std::string& path) {
  std::error_code code;
  return std::filesystem::symlink_status(widen(path), code).type() != std::filesystem::file_type::not_found;
}

void refuseExisting(const std::string& path) {
  if (pathExists(path)) fail(path + " already exists");
}

// The file's access follows its folder's; `secret` cannot narrow it without
// an explicit security descriptor, which the tools do not build.
void writeNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool /*secret*/) {
  namespace fs = std::filesystem;
  const fs::path target(widen(path));
  if (target.filename().empty()) fail("cannot write " + path + ": not a file name");
  refuseExisting(path);
  std::random_device random;
  const std::wstring temporary =
      (target.parent_path() / (L"." + target.filename().wstring() + L"." + std::to_wstring(random()))).wstring();
  Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) failWithLastError("cannot create", path);
  const auto discard = [&](const std::string& message) {
    DeleteFileW(temporary.c_str());
    fail(message);
  };
  if (!writeAllToHandle(file.get(), bytes) || !FlushFileBuffers(file.get()) || !file.close()) {
    discard("cannot write " + path + ": " + std::system_category().message(static_cast<int>(GetLastError())));
  }
  // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing name.
  if (!MoveFileExW(temporary.c_str(), target.wstring().c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    discard(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                ? path + " already exists"
                : "cannot create " + path + ": " + std::system_category().message(static_cast<int>(error)));
  }
}

void writeStandardOutput(std::span<const std::uint8_t> bytes) {
  errno = 0;
  if (writeAll(1, bytes)) return;
  if (errno == EPIPE || GetLastError() == ERROR_NO_DATA || GetLastError() == ERROR_BROKEN_PIPE) throw BrokenPipe();
  fail(std::string("cannot write to standard output: ") + std::strerror(errno));
}

// A console, not a file or a pipe: where a progress bar can redraw itself.
bool isTerminal(int descriptor) {
  const DWORD which = descriptor == 0 ? STD_INPUT_HANDLE : descriptor == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

std::string resolveUserPath(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code code;
  const fs::path absolute = fs::absolute(widen(path), code).lexically_normal();
  if (code) fail("cannot resolve " + path + ": " + code.message());
  const fs::path folder = finalFolderPath(absolute.parent_path());
  return narrow(folder.empty() ? absolute : folder / absolute.filename());
}

bool isDirectory(const std::string& path) {
  std::error_code code;
  return std::filesystem::is_directory(widen(path), code);
}

void createDirectories(const std::string& path) {
  std::error_code code;
  std::filesystem::create_directories(widen(path), code);
  if (code) fail("cannot create the folder " + path + ": " + code.message());
}

void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  namespace fs = std::filesystem;
  const fs::path target(widen(path));
  std::random_device random;
  const std::wstring temporary =
      (target.parent_path() / (L"." + target.filename().wstring() + L"." + std::to_wstring(random()))).wstring();
  Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) failWithLastError("cannot create a file beside", path);
  if (!writeAllToHandle(file.get(), bytes) || !FlushFileBuffers(file.get()) || !file.close() ||
      !MoveFileExW(temporary.c_str(), target.wstring().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    fail("cannot write " + path + ": " + std::system_category().message(static_cast<int>(error)));
  }
}

TemporaryDirectory::TemporaryDirectory(std::string_view prefix) {
  std::random_device random;
  std::error_code code;
  const std::filesystem::path made = std::filesystem::temp_directory_path(code) /
                                     (std::string(prefix) + "-" + std::to_string(random()) + std::to_string(random()));
  if (code || !std::filesystem::create_directory(made, code)) {
    fail("cannot create a temporary directory: " + code.message());
  }
  const std::filesystem::path real = finalFolderPath(made);
  path_ = narrow(real.empty() ? made : real);
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code code;
  std::filesystem::remove_all(widen(path_), code);
}

std::string stateHome() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  return local != nullptr && local[0] != L'\0' ? narrow(std::filesystem::path(local)) : std::string();
}

int terminalColumns(int /*descriptor*/) {
  CONSOLE_SCREEN_BUFFER_INFO screen{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen)) return 0;
  return screen.srWindow.Right - screen.srWindow.Left + 1;
}

}  // namespace vesmara::tools
