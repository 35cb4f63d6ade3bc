#include "pack/file_content.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/command_error.h"
#include "index/index_format.h"

namespace vesmara::pack {
namespace {

class FileStream : public publish::SourceStream {
 public:
  FileStream(int descriptor, const std::string& name) : descriptor_(descriptor), name_(name) {}
  ~FileStream() override { ::close(descriptor_); }
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  bool read(std::span<std::uint8_t> out, Failure& failure) override {
    while (!out.empty()) {
      const ssize_t got = ::read(descriptor_, out.data(), out.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return failure.fail(FailureKind::InvalidData, "cannot read " + name_ + ": " + std::strerror(errno));
      if (got == 0) return failure.fail(FailureKind::InvalidData, name_ + " became shorter while it was published");
      out = out.subspan(static_cast<std::size_t>(got));
    }
    return true;
  }

 private:
  int descriptor_;
  std::string name_;
};

class FileContent : public publish::SourceContent {
 public:
  FileContent(std::filesystem::path path, std::string name, std::uint64_t length, bool follow_links)
      : path_(std::move(path)), name_(std::move(name)), length_(length), follow_links_(follow_links) {}

  std::uint64_t length() const override { return length_; }

  std::unique_ptr<publish::SourceStream> open(Failure& failure) const override {
    const int descriptor = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | (follow_links_ ? 0 : O_NOFOLLOW));
    if (descriptor < 0) {
      failure.fail(FailureKind::InvalidData, "cannot read " + name_ + ": " + std::strerror(errno));
      return nullptr;
    }
    auto stream = std::make_unique<FileStream>(descriptor, name_);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) != length_) {
      failure.fail(FailureKind::InvalidData, name_ + " changed after the source folder was listed");
      return nullptr;
    }
    ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return stream;
  }

 private:
  std::filesystem::path path_;
  std::string name_;
  std::uint64_t length_;
  bool follow_links_;
};

}  // namespace

std::shared_ptr<const publish::SourceContent> fileContent(const std::filesystem::path& path, const std::string& name,
                                                          bool follow_links) {
  struct stat status {};
  const int result = follow_links ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
  if (result != 0) tools::fail("cannot read " + name + ": " + std::strerror(errno));
  if (S_ISLNK(status.st_mode)) tools::fail(name + " is a symbolic link, which is not followed (see --follow-links)");
  if (!S_ISREG(status.st_mode)) tools::fail(name + " is not a regular file");
  const auto length = static_cast<std::uint64_t>(status.st_size);
  if (length > kMaxResourceLength) tools::fail(name + " is over 1 GiB, the most a resource may be");
  return std::make_shared<FileContent>(path, name, length, follow_links);
}

}  // namespace vesmara::pack
