#include "publish/origin_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vesmara::publish {
namespace {

namespace fs = std::filesystem;

class OriginTreeTest : public ::testing::Test {
 protected:
  static void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<fs::path> entries() const {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(work_)) names.push_back(entry.path().filename());
    return names;
  }

  const std::map<std::string, std::vector<std::uint8_t>> files_{{"/favicon.ico", {1, 2, 3}}, {"/assets/a.bin", {4, 5}}};
  const test::TempDir temp_{"vkr-origin-tree"};
  const fs::path work_ = temp_.path();
};

TEST_F(OriginTreeTest, WritesIntoAMissingOrEmptyDirectory) {
#ifdef _WIN32
  GTEST_SKIP() << "the publisher takes over an empty directory by renaming onto it, which Windows refuses; "
                  "vkr-pack, its user, is Linux-only";
#endif
  fs::create_directory(work_ / "empty");
  fs::create_directory(work_ / "empty-slash");
  // A trailing "/" (as a shell completes a folder's name) names the same directory.
  for (const char* name : {"missing", "empty", "missing-parent/site", "slash/", "empty-slash/"}) {
    Failure failure;
    ASSERT_TRUE(writeOriginTree(files_, work_ / name, failure)) << name << ": " << failure.message;
    EXPECT_EQ(readFile(work_ / name / "assets" / "a.bin"), std::string("\x04\x05", 2)) << name;
  }
  EXPECT_EQ(entries().size(), 5u);  // no staging directory is left behind
}

// Nothing that is already there is replaced or removed: not a file (even an
// empty one), not a filled directory, not a foreign directory that happens
// to carry the staging name.
TEST_F(OriginTreeTest, RefusesOrSparesWhatExists) {
  writeFile(work_ / "empty-file", "");
  writeFile(work_ / "file", "keep");
  fs::create_directories(work_ / "full");
  writeFile(work_ / "full" / "note", "keep");
  struct Case {
    const char* name;
    const char* error;
  };
  for (const Case& c :
       {Case{"empty-file", "Output path exists and is not a directory: "},
        Case{"file", "Output path exists and is not a directory: "}, Case{"full", "Output directory is not empty: "}}) {
    Failure failure;
    EXPECT_FALSE(writeOriginTree(files_, work_ / c.name, failure)) << c.name;
    EXPECT_EQ(failure.message, c.error + (work_ / c.name).string());
  }
  EXPECT_TRUE(fs::is_regular_file(work_ / "empty-file"));
  EXPECT_EQ(readFile(work_ / "file"), "keep");
  EXPECT_EQ(readFile(work_ / "full" / "note"), "keep");

  fs::create_directories(work_ / "site.vkr-staging");
  writeFile(work_ / "site.vkr-staging" / "theirs", "keep");
  Failure failure;
  ASSERT_TRUE(writeOriginTree(files_, work_ / "site", failure)) << failure.message;
  EXPECT_EQ(readFile(work_ / "site.vkr-staging" / "theirs"), "keep");
  EXPECT_TRUE(fs::is_regular_file(work_ / "site" / "favicon.ico"));
}

}  // namespace
}  // namespace vesmara::publish
