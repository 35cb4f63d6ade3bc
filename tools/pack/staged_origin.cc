#include "pack/staged_origin.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "common/command_error.h"
#include "common/files.h"
#include "hosts/crypto_host.h"
#include "index/index_format.h"
#include "index/paths.h"

namespace vesmara::pack {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStagingName = ".vkr-staging";
constexpr std::string_view kLockName = ".vkr-staging.lock";
// Carrier files are appended to in turn; a few stay open at a time.
constexpr std::size_t kMaxOpenFiles = 64;
// The most a part takes stored: its plain bytes and a sealing tag.
constexpr std::size_t kMaxStoredPartLength = kMaxPlainPartLength + kGcmTagLength;

std::string errorText() { return std::strerror(errno); }

// A name the lock file may list: one entry of the output folder, never the
// staging folder or the lock themselves.
bool isMovableName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos && name != kStagingName && name != kLockName;
}

// rename() that never replaces: a name that appeared meanwhile stays.
bool moveWithoutReplacing(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: look, then move.
  struct stat status {};
  if (::lstat(to.c_str(), &status) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::vector<std::string> readNames(int descriptor) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::pread(descriptor, buffer, sizeof buffer, static_cast<off_t>(text.size()))) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  std::vector<std::string> names;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    names.push_back(text.substr(start, end - start));
  }
  return names;
}

bool writeNames(int descriptor, const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  return ::ftruncate(descriptor, 0) == 0 &&
         tools::writeAll(descriptor, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}) &&
         ::fsync(descriptor) == 0;
}

// The origin path's place below `root`, or empty for a path that would
// leave it.
fs::path placeOf(const fs::path& root, const std::string& path) {
  if (!path.starts_with('/') || path.size() < 2) return {};
  const fs::path relative = fs::path(path.substr(1));
  const fs::path normal = relative.lexically_normal();
  if (normal != relative || normal.is_absolute() || *normal.begin() == "..") return {};
  return root / relative;
}

}  // namespace

// Writes one buffer at a time on a thread of its own, so that a part goes to
// disk while the next is read, hashed and encoded.
class WriteBehind {
 public:
  WriteBehind() : thread_([this] { run(); }) {}
  ~WriteBehind() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Writes a copy of `bytes` to `descriptor` once the write before it is
  // done; more than a part at once (a media carrier) is written at once,
  // without a copy. False (see error()) when a write has failed.
  bool write(int descriptor, std::span<const std::uint8_t> bytes) {
    if (!finish()) return false;
    if (bytes.size() > kMaxStoredPartLength) {
      if (tools::writeAll(descriptor, bytes)) return true;
      const std::lock_guard lock(mutex_);
      error_ = errno != 0 ? errno : EIO;
      return false;
    }
    spare_.assign(bytes.begin(), bytes.end());
    {
      const std::lock_guard lock(mutex_);
      std::swap(spare_, bytes_);
      descriptor_ = descriptor;
      pending_ = true;
    }
    changed_.notify_all();
    return true;
  }

  // Waits for the write in flight. False when a write has failed.
  bool finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    return error_ == 0;
  }

  int error() const { return error_; }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return pending_ || stopping_; });
      if (!pending_) return;
      lock.unlock();
      const bool written = tools::writeAll(descriptor_, bytes_);
      const int error = errno;
      lock.lock();
      if (!written && error_ == 0) error_ = error != 0 ? error : EIO;
      pending_ = false;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false;
  bool stopping_ = false;
  int error_ = 0;
  int descriptor_ = -1;
  std::vector<std::uint8_t> bytes_;  // the thread's while pending
  std::vector<std::uint8_t> spare_;
  std::thread thread_;
};

bool recoverInterruptedBuild(const fs::path& out) {
  const fs::path lock_path = out / kLockName;
  const fs::path staging = out / kStagingName;
  const int descriptor = ::open(lock_path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (descriptor < 0) {
    if (errno == ENOENT) return false;
    tools::fail("cannot open " + lock_path.string() + ", left by an interrupted build (" + errorText() +
                "): delete it and " + staging.string());
  }
  struct Closer {
    int descriptor;
    ~Closer() { ::close(descriptor); }
  } closer{descriptor};
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    tools::fail(out.string() + " is being written by another vkr-pack build (it holds " + lock_path.string() + ")");
  }
  std::error_code code;
  // What the interrupted build had moved into place is gone from its staging.
  for (const std::string& name : readNames(descriptor)) {
    if (isMovableName(name) && !fs::exists(fs::symlink_status(staging / name, code))) fs::remove_all(out / name, code);
  }
  fs::remove_all(staging, code);
  if (code || (::unlink(lock_path.c_str()) != 0 && errno != ENOENT)) {
    tools::fail("cannot remove what an interrupted build left in " + out.string() + ": delete " + staging.string() +
                " and " + lock_path.string());
  }
  return true;
}

StagedOrigin::StagedOrigin(const fs::path& out, const tools::InterruptWatcher& interrupts)
    : out_(out), interrupts_(interrupts), writer_(std::make_unique<WriteBehind>()) {
  staging_ = out_ / kStagingName;
  lock_path_ = out_ / kLockName;
  std::error_code code;
  if (!fs::exists(out_, code)) {
    if (out_.has_parent_path()) fs::create_directories(out_.parent_path(), code);
    if (code || !fs::create_directory(out_, code)) {
      tools::fail("cannot create " + out_.string() + (code ? ": " + code.message() : ": it appeared meanwhile"));
    }
    created_out_ = true;
  }
  lock_ = ::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  struct stat held {};
  struct stat named {};
  // Another build may have taken the new lock file for one left behind:
  // the lock counts only while it is the file of that name.
  if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0 || ::fstat(lock_, &held) != 0 ||
      ::stat(lock_path_.c_str(), &named) != 0 || held.st_ino != named.st_ino) {
    const std::string reason = errorText();
    discard();
    tools::fail("cannot begin writing into " + out_.string() + " (" + reason +
                "): is another vkr-pack build writing into it?");
  }
  owns_lock_ = true;
  if (::mkdir(staging_.c_str(), 0700) != 0) {
    const std::string reason = errorText();
    discard();
    tools::fail("cannot create " + staging_.string() + ": " + reason);
  }
}

StagedOrigin::~StagedOrigin() {
  if (!committed_) discard();
}

bool StagedOrigin::append(const std::string& path, std::span<const std::uint8_t> bytes, Failure& failure) {
  if (interrupts_.interrupted()) return failure.fail(FailureKind::Cancelled, "interrupted");
  const int descriptor = descriptorFor(path, failure);
  if (descriptor < 0) return false;
  if (!writer_->write(descriptor, bytes)) {
    return failure.fail(FailureKind::Output, "cannot write into " + out_.string() + ": " + std::strerror(writer_->error()));
  }
  bytes_ += bytes.size();
  return true;
}

int StagedOrigin::descriptorFor(const std::string& path, Failure& failure) {
  if (const auto open = open_.find(path); open != open_.end()) return open->second;
  const fs::path target = placeOf(staging_, path);
  if (target.empty()) {
    failure.fail(FailureKind::Output, "not an origin path: " + path);
    return -1;
  }
  if (open_.size() == kMaxOpenFiles) {
    // The write in flight may be to the file closed.
    if (!writer_->finish()) {
      failure.fail(FailureKind::Output, "cannot write into " + out_.string() + ": " + std::strerror(writer_->error()));
      return -1;
    }
    if (::close(open_.begin()->second) != 0) {
      failure.fail(FailureKind::Output, "cannot write " + open_.begin()->first + ": " + errorText());
      return -1;
    }
    open_.erase(open_.begin());
  }
  std::error_code code;
  fs::create_directories(target.parent_path(), code);
  const int descriptor = ::open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (code || descriptor < 0) {
    failure.fail(FailureKind::Output, "cannot create " + (out_ / path.substr(1)).string() + ": " +
                                          (code ? code.message() : errorText()));
    if (descriptor >= 0) ::close(descriptor);
    return -1;
  }
  open_[path] = descriptor;
  files_.insert(path);
  return descriptor;
}

bool StagedOrigin::closeFiles() {
  bool closed = writer_->finish();
  if (!closed) errno = writer_->error();
  for (const auto& [path, descriptor] : open_) closed = ::close(descriptor) == 0 && closed;
  open_.clear();
  return closed;
}

void StagedOrigin::commit() {
  if (!closeFiles()) tools::fail("cannot write into " + staging_.string() + ": " + errorText());
  std::vector<std::string> names;
  std::error_code code;
  for (fs::directory_iterator entry(staging_, code), end; !code && entry != end; entry.increment(code)) {
    names.push_back(entry->path().filename().string());
  }
  if (code) tools::fail("cannot list " + staging_.string() + ": " + code.message());
  // The favicon last: a reader that finds the site's index finds all it names.
  const std::string favicon(kFaviconPath.substr(1));
  std::sort(names.begin(), names.end(), [&favicon](const std::string& a, const std::string& b) {
    return std::make_pair(a == favicon, a) < std::make_pair(b == favicon, b);
  });
  if (!writeNames(lock_, names)) tools::fail("cannot write " + lock_path_.string() + ": " + errorText());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!moveWithoutReplacing(staging_ / names[i], out_ / names[i])) {
      const std::string reason = errorText();
      for (std::size_t moved = 0; moved < i; ++moved) fs::remove_all(out_ / names[moved], code);
      tools::fail("cannot move " + names[i] + " into " + out_.string() + ": " + reason);
    }
  }
  committed_ = true;
  ::rmdir(staging_.c_str());
  ::unlink(lock_path_.c_str());
  ::close(lock_);
  lock_ = -1;
}

void StagedOrigin::discard() noexcept {
  closeFiles();
  std::error_code code;
  // The staging folder and the lock are this build's only while it holds the lock.
  if (owns_lock_) {
    fs::remove_all(staging_, code);
    ::unlink(lock_path_.c_str());
  }
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
  if (created_out_) fs::remove(out_, code);
}

}  // namespace vesmara::pack
