#include "common/files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/command_error.h"

namespace vesmara::tools {
namespace {

// Closes a descriptor when the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return descriptor_; }
  // Closes now and reports whether closing succeeded.
  bool close() {
    const int result = ::close(descriptor_);
    descriptor_ = -1;
    return result == 0;
  }

 private:
  int descriptor_;
};

[[noreturn]] void failWithErrno(const std::string& what, const std::string& path) {
  fail(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

std::vector<std::uint8_t> readFile(const std::string& path, std::uint64_t limit) {
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) failWithErrno("cannot open", path);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) failWithErrno("cannot read", path);
  if (S_ISDIR(status.st_mode)) fail("cannot read " + path + ": it is a directory");
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  while (bytes.size() <= limit) {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, limit + 1 - bytes.size()));
    const ssize_t got = ::read(file.get(), chunk, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failWithErrno("cannot read", path);
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
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

bool pathExists(const std::string& path) {
  std::error_code code;
  return std::filesystem::symlink_status(path, code).type() != std::filesystem::file_type::not_found;
}

void refuseExisting(const std::string& path) {
  if (pathExists(path)) fail(path + " already exists");
}

void writeNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool secret) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  if (target.filename().empty()) fail("cannot write " + path + ": not a file name");
  refuseExisting(path);
  std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  Descriptor file(::mkstemp(temporary.data()));
  if (file.get() < 0) failWithErrno("cannot create", path);
  const auto discard = [&](const std::string& message) {
    ::unlink(temporary.c_str());
    fail(message);
  };
  if (!secret && ::fchmod(file.get(), 0644) != 0) discard("cannot set the permissions of " + path);
  if (!writeAll(file.get(), bytes) || ::fsync(file.get()) != 0 || !file.close()) {
    discard("cannot write " + path + ": " + std::strerror(errno));
  }
  // link() refuses an existing name, where rename() would replace it.
  if (::link(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    discard(error == EEXIST ? path + " already exists" : "cannot create " + path + ": " + std::strerror(error));
  }
  ::unlink(temporary.c_str());
}

void writeStandardOutput(std::span<const std::uint8_t> bytes) {
  if (writeAll(STDOUT_FILENO, bytes)) return;
  if (errno == EPIPE) throw BrokenPipe();
  fail(std::string("cannot write to standard output: ") + std::strerror(errno));
}

bool isTerminal(int descriptor) { return ::isatty(descriptor) == 1; }

std::string resolveUserPath(const std::string& path) {
  std::error_code code;
  const std::filesystem::path absolute = std::filesystem::absolute(path, code).lexically_normal();
  if (code) fail("cannot resolve " + path + ": " + code.message());
  char* real = ::realpath(absolute.parent_path().c_str(), nullptr);
  if (real == nullptr) return absolute.string();
  std::string resolved(real);
  ::free(real);
  if (!resolved.ends_with('/')) resolved += '/';
  return resolved + absolute.filename().string();
}

bool isDirectory(const std::string& path) {
  std::error_code code;
  return std::filesystem::is_directory(path, code);
}

void createDirectories(const std::string& path) {
  std::error_code code;
  std::filesystem::create_directories(path, code);
  if (code) fail("cannot create the folder " + path + ": " + code.message());
}

void replaceFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::filesystem::path target(path);
  std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  Descriptor file(::mkstemp(temporary.data()));
  if (file.get() < 0) failWithErrno("cannot create a file beside", path);
  if (!writeAll(file.get(), bytes) || ::fsync(file.get()) != 0 || !file.close() ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    fail("cannot write " + path + ": " + std::strerror(error));
  }
}

TemporaryDirectory::TemporaryDirectory(std::string_view prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/" + std::string(prefix) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr)
    fail("cannot create a temporary directory: " + std::string(std::strerror(errno)));
  // A TMPDIR reached through a link would be refused as a download's folder.
  char* real = ::realpath(pattern.c_str(), nullptr);
  path_ = real != nullptr ? real : pattern;
  ::free(real);
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code code;
  std::filesystem::remove_all(path_, code);
}

std::string stateHome() {
  // Relative values are to be ignored, as if unset.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state";
  return {};
}

int terminalColumns(int descriptor) {
  struct winsize size {};
  return ::ioctl(descriptor, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace vesmara::tools
