// A private temporary folder for one test (or one suite), removed with
// everything in it when the object goes:
//
//   const test::TempDir work("vkr-e2e");
//   writeTree(work.path() / "site");
//
// It is made under $TMPDIR (when that names an absolute path) or /tmp
// (%TEMP% on Windows). When
// it cannot be made, the constructor throws: the test stops there, and the
// failure names the folder and the reason, instead of the test running on
// in an empty path (the working directory).
#ifndef VESMARA_TESTS_SUPPORT_TEMP_DIR_H_
#define VESMARA_TESTS_SUPPORT_TEMP_DIR_H_

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace vesmara::test {

class TempDir {
 public:
  explicit TempDir(std::string_view prefix) {
#ifdef _WIN32
    // %TEMP%, and a random name made new: Windows has no mkdtemp.
    std::random_device random;
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    for (int attempt = 0; attempt < 100 && !error && path_.empty(); ++attempt) {
      std::filesystem::path name = base / (std::string(prefix) + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(name, error)) path_ = std::move(name);
    }
    if (path_.empty()) {
      throw std::runtime_error("cannot create a temporary folder for " + std::string(prefix) + ": " + error.message());
    }
#else
    const char* base = std::getenv("TMPDIR");
    const std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/" + std::string(prefix) + "-XXXXXX";
    std::string name = pattern;  // mkdtemp fills in the X's
    if (::mkdtemp(name.data()) == nullptr) {
      throw std::runtime_error("cannot create the temporary folder " + pattern + ": " + std::strerror(errno));
    }
    path_ = name;
#endif
  }
  ~TempDir() {
    std::error_code ignored;  // a destructor has no one to tell
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_TEMP_DIR_H_
