// vkr's progress bar finds the file a download is being written to: the
// library's own sink writes it here, unnamed or under a temporary name.
#include "common/partial_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/random.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "hosts/posix/posix_file_output.h"

namespace vesmara::tools {
namespace {

namespace fs = std::filesystem;

TEST(PartialFile, RecognisesUnnamedFilesAndTemporaryNames) {
  const struct {
    std::string link;
    std::string directory;
    bool unnamed;
  } links[] = {
      {"/d/#123 (deleted)", "/d", true},
      {"/#5 (deleted)", "/", true},
      {"/d/#123", "/d", false},                // still has its name
      {"/d/name (deleted)", "/d", false},      // a named file since removed
      {"/d/sub/#123 (deleted)", "/d", false},  // another directory
      {"/dd/#1 (deleted)", "/d", false},
      {"/d/# (deleted)", "/d", false},
      {"/d/#12a (deleted)", "/d", false},
      {"/d/ (deleted)", "/d", false},
      {"socket:[8123]", "/d", false},
  };
  for (const auto& c : links) EXPECT_EQ(isUnnamedFileIn(c.link, c.directory), c.unnamed) << c.link;

  const std::string hex(32, 'a');
  const std::string long_name = std::string(213, 'n') + "\xC3\xA9" + "tail";
  const struct {
    std::string candidate;
    std::string name;
    bool temporary;
  } names[] = {
      {"a.bin.vkr-" + hex + ".tmp", "a.bin", true},
      {"a.bin.vkr-0123456789abcdef0123456789abcdef.tmp", "a.bin", true},
      {"a.bin.vkr-" + std::string(32, 'A') + ".tmp", "a.bin", false},
      {"a.bin.vkr-" + std::string(31, 'a') + ".tmp", "a.bin", false},
      {"b.bin.vkr-" + hex + ".tmp", "a.bin", false},
      {"a.bi.vkr-" + hex + ".tmp", "a.bin", false},
      {"a.bin.vkr-" + hex + ".tmpx", "a.bin", false},
      {".vkr-" + hex + ".tmp", "", false},
      {std::string(213, 'n') + ".vkr-" + hex + ".tmp", long_name, true},  // cut before the two-byte character
      {long_name + ".vkr-" + hex + ".tmp", long_name, true},
      {std::string(212, 'n') + ".vkr-" + hex + ".tmp", long_name, false},
  };
  for (const auto& c : names) EXPECT_EQ(isTemporaryNameOf(c.candidate, c.name), c.temporary) << c.candidate;
}

bool drawRandom(std::span<std::uint8_t> out) {
  return ::getrandom(out.data(), out.size(), 0) == static_cast<ssize_t>(out.size());
}

// Either way the library keeps the file, the watcher finds it and follows
// its growth, undisturbed by unnamed files elsewhere and other temporaries.
TEST(PartialFile, FollowsTheLibrarysSinkAsItWrites) {
  char pattern[] = "/tmp/vkr-partial-file-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path root = fs::canonical(pattern);
  fs::create_directory(root / "elsewhere");
  const int decoy = ::open((root / "elsewhere").c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  std::ofstream(root / ("other.vkr-" + std::string(32, 'b') + ".tmp")) << "not ours";

  using Staging = PosixFileOutput::Staging;
  for (const Staging staging : {Staging::UnnamedWherePossible, Staging::NamedOnly}) {
    for (const std::string& name : {std::string("file.bin"), std::string(250, 'L')}) {
      SCOPED_TRACE(name.size());
      std::string message;
      PosixFileOutput sink((root / name).string(), message, drawRandom, staging);
      ASSERT_TRUE(sink.isOpen()) << message;
      PartialFile watched(root / name);
      EXPECT_EQ(watched.size(), 0u);
      const std::string bytes(1500, 'x');
      ASSERT_TRUE(sink.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), 1000));
      EXPECT_EQ(watched.size(), 1000u);
      ASSERT_TRUE(sink.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), 500));
      EXPECT_EQ(watched.size(), 1500u);
      sink.abort();
      EXPECT_EQ(watched.size(), std::nullopt);
    }
  }
  if (decoy >= 0) ::close(decoy);
  fs::remove_all(root);
}

}  // namespace
}  // namespace vesmara::tools
