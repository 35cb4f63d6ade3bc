// A fresh, empty directory in the system's temporary folder for one test.
#ifndef VESMARA_TESTS_SUPPORT_TEMPORARY_DIRECTORY_H_
#define VESMARA_TESTS_SUPPORT_TEMPORARY_DIRECTORY_H_

#include <filesystem>
#include <random>
#include <string>
#include <string_view>

namespace vesmara::test {

// `prefix`, a dash and a random number, created new below the temporary
// folder (/tmp, or %TEMP% on Windows).
inline std::filesystem::path makeTemporaryDirectory(std::string_view prefix) {
  std::random_device random;
  while (true) {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / (std::string(prefix) + "-" + std::to_string(random()));
    if (std::filesystem::create_directory(path)) return path;
  }
}

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_SUPPORT_TEMPORARY_DIRECTORY_H_
