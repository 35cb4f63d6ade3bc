// The Windows file sink: the path rule, the directory chain, temporary files
// and the rename without replacement.
#include "hosts/windows/windows_file_output.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/hex.h"
#include "hosts/windows/windows_crypto_host.h"
#include "support/wine.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;

constexpr char kBadPath[] = "Output path must be an absolute local file path";
constexpr char kBadParent[] = "Output parent must be an existing real directory";
constexpr char kExists[] = "Output target already exists";
constexpr char kNoRandom[] = "Temporary name generation failed";
constexpr char kNoTemporary[] = "Temporary output creation failed";

bool writeText(OutputHost& out, std::string_view text) {
  return out.write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> namesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  return names;
}

class WindowsFileOutputTest : public testing::Test {
 protected:
  void SetUp() override {
    std::array<std::uint8_t, 8> bytes{};
    ASSERT_TRUE(fillFromSystemRandom(bytes));
    root_ = fs::temp_directory_path() / ("vkr-file-output-" + encodeLowerHex(bytes));
    ASSERT_TRUE(fs::create_directories(root_ / "sub"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string path(const std::string& relative) const { return (root_ / relative).string(); }

  void expectRefused(const std::string& destination, FileOutputError error, std::string_view text,
                     const WindowsFileOutput::RandomFill& random = fillFromSystemRandom) {
    SCOPED_TRACE(destination);
    std::string message = "stale";
    WindowsFileOutput out(destination, message, random);
    EXPECT_FALSE(out.isOpen());
    EXPECT_EQ(out.error(), error);
    EXPECT_EQ(message, text);
    EXPECT_FALSE(writeText(out, "x"));
    EXPECT_FALSE(out.commit());
  }

  fs::path root_;
};

TEST(WindowsPathRule, AbsoluteLocalFilePaths) {
  const struct {
    const wchar_t* path;
    bool accepted;
  } cases[] = {
      {L"C:\\a", true},
      {L"c:/dir/file.bin", true},
      {L"Z:\\dir/mixed\\separators", true},
      {L"C:\\d\u00e9j\u00e0\\\u65e5\u672c.bin", true},
      {L"C:\\a.b c", true},
      {L"C:\\", false},                  // fewer than 4 units
      {L"C:a\\b", false},                // drive-relative
      {L"\\\\server\\share\\f", false},  // UNC
      {L"\\\\?\\C:\\f", false},          // device path
      {L"dir\\file", false},
      {L"1:\\file", false},
      {L"C:\\dir\\\\file", false},  // empty component
      {L"C:\\dir\\", false},        // trailing separator
      {L"C:\\.\\file", false},
      {L"C:\\..\\file", false},
      {L"C:\\file.", false},
      {L"C:\\file ", false},
      {L"C:\\file:stream", false},
      {L"C:\\a\"b", false},
      {L"C:\\a*b", false},
      {L"C:\\a<b", false},
      {L"C:\\a>b", false},
      {L"C:\\a?b", false},
      {L"C:\\a|b", false},
      {L"C:\\a\tb", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isAbsoluteLocalFilePath(c.path), c.accepted) << fs::path(c.path).string();
  }
  EXPECT_EQ(widenUtf8("C:\\\xC3\xA9"), L"C:\\\u00e9");
  EXPECT_EQ(widenUtf8("C:\\\xC3"), L"");  // invalid UTF-8 gives an empty path, which the rule refuses
  EXPECT_EQ(widenUtf8(""), L"");
}

TEST_F(WindowsFileOutputTest, CommitRenamesTheTemporaryFileOntoTheDestination) {
  for (const std::string& destination : {path("sub\\out.bin"), path("sub/forward.bin")}) {
    std::string message = "stale";
    WindowsFileOutput out(destination, message);
    ASSERT_TRUE(out.isOpen()) << message;
    EXPECT_EQ(message, "");
    EXPECT_TRUE(writeText(out, "hello "));
    EXPECT_TRUE(out.write(nullptr, 0));
    EXPECT_FALSE(out.write(nullptr, 1));
    EXPECT_TRUE(writeText(out, "world"));
    // Until the commit only the temporary file exists, named after the target.
    EXPECT_FALSE(fs::exists(destination));
    const std::vector<std::string> names = namesIn(root_ / "sub");
    ASSERT_EQ(names.size(), 1u);
    const std::string target = fs::path(destination).filename().string();
    EXPECT_TRUE(names[0].starts_with(target + ".vkr-") && names[0].ends_with(".tmp")) << names[0];
    EXPECT_EQ(names[0].size(), target.size() + std::string(".vkr-.tmp").size() + 32);

    EXPECT_TRUE(out.commit());
    EXPECT_EQ(readFile(destination), "hello world");
    EXPECT_FALSE(writeText(out, "more"));
    EXPECT_FALSE(out.commit());
    out.abort();  // a committed destination stays
    EXPECT_EQ(readFile(destination), "hello world");
    fs::remove(destination);
  }
}

TEST_F(WindowsFileOutputTest, ALongNameGetsAShortenedTemporaryName) {
  const std::string name(250, 'n');
  std::string message;
  WindowsFileOutput out(path("sub/" + name), message);
  ASSERT_TRUE(out.isOpen()) << message;
  const std::vector<std::string> names = namesIn(root_ / "sub");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].size(), 255u);
  EXPECT_TRUE(names[0].starts_with(std::string(214, 'n') + ".vkr-")) << names[0];
  ASSERT_TRUE(writeText(out, "x"));
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(readFile(path("sub/" + name)), "x");
  // A surrogate pair at the cut stays whole.
  const std::wstring pairs = std::wstring(213, L'a') + L"\xD83D\xDE00" + L"tail";
  EXPECT_EQ(temporaryStem(pairs), std::wstring(213, L'a'));
  EXPECT_EQ(temporaryStem(L"short"), L"short");
}

TEST_F(WindowsFileOutputTest, LargeWritesArriveWhole) {
  std::string message;
  WindowsFileOutput out(path("big.bin"), message);
  ASSERT_TRUE(out.isOpen());
  ASSERT_TRUE(out.reserve(3 * 1048576 + 17));
  std::vector<std::uint8_t> bytes(3 * 1048576 + 17);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));
  ASSERT_TRUE(out.write(bytes.data(), bytes.size()));
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(readFile(path("big.bin")), std::string(bytes.begin(), bytes.end()));
}

TEST_F(WindowsFileOutputTest, AbortAndDestructionLeaveNothing) {
  {
    std::string message;
    WindowsFileOutput out(path("sub/a.bin"), message);
    ASSERT_TRUE(writeText(out, "partial"));
    out.abort();
    EXPECT_FALSE(writeText(out, "x"));
    EXPECT_FALSE(out.commit());
  }
  {
    std::string message;
    WindowsFileOutput out(path("sub/b.bin"), message);
    ASSERT_TRUE(writeText(out, "partial"));
  }
  EXPECT_TRUE(namesIn(root_ / "sub").empty());
}

TEST_F(WindowsFileOutputTest, RefusedDestinations) {
  std::ofstream(root_ / "file") << "x";
  expectRefused("relative\\file", FileOutputError::InvalidDestination, kBadPath);
  expectRefused(path("sub/name."), FileOutputError::InvalidDestination, kBadPath);
  expectRefused(path("sub/name:stream"), FileOutputError::InvalidDestination, kBadPath);
  expectRefused(path("missing/out.bin"), FileOutputError::InvalidDestination, kBadParent);
  expectRefused(path("file/out.bin"), FileOutputError::InvalidDestination, kBadParent);
  expectRefused(path("file"), FileOutputError::TargetExists, kExists);
  expectRefused(path("sub"), FileOutputError::TargetExists, kExists);
  expectRefused(path("new.bin"), FileOutputError::WriteFailed, kNoRandom,
                [](std::span<std::uint8_t>) { return false; });
  // Four draws of the same name, which exists already.
  const std::array<std::uint8_t, 16> same{};
  std::ofstream(path("new.bin.vkr-" + encodeLowerHex(same) + ".tmp")) << "taken";
  int draws = 0;
  expectRefused(path("new.bin"), FileOutputError::WriteFailed, kNoTemporary, [&](std::span<std::uint8_t> out) {
    ++draws;
    std::fill(out.begin(), out.end(), 0);
    return true;
  });
  EXPECT_EQ(draws, 4);
  EXPECT_FALSE(fs::exists(path("new.bin")));
}

TEST_F(WindowsFileOutputTest, ADestinationThatAppearsBeforeTheCommitIsNotReplaced) {
  std::string message;
  WindowsFileOutput out(path("sub/late.bin"), message);
  ASSERT_TRUE(writeText(out, "ours"));
  std::ofstream(path("sub/late.bin")) << "theirs";
  EXPECT_FALSE(out.commit());
  EXPECT_EQ(out.error(), FileOutputError::TargetExists);
  EXPECT_EQ(readFile(path("sub/late.bin")), "theirs");
  out.abort();
  EXPECT_EQ(namesIn(root_ / "sub"), std::vector<std::string>{"late.bin"});
}

TEST_F(WindowsFileOutputTest, TheDirectoryChainCannotBeMovedDuringADownload) {
  std::string message;
  WindowsFileOutput out(path("sub/held.bin"), message);
  ASSERT_TRUE(out.isOpen());
  // Opened without delete sharing, the chain's directories refuse a rename.
  if (MoveFileExW((root_ / "sub").wstring().c_str(), (root_ / "moved").wstring().c_str(), 0)) {
    MoveFileExW((root_ / "moved").wstring().c_str(), (root_ / "sub").wstring().c_str(), 0);
    ASSERT_TRUE(test::runningUnderWine());
    GTEST_SKIP() << "Wine 8 renames a directory that another handle holds open without delete sharing";
  }
  ASSERT_TRUE(writeText(out, "x"));
  ASSERT_TRUE(out.commit());
  EXPECT_TRUE(MoveFileExW((root_ / "sub").wstring().c_str(), (root_ / "moved").wstring().c_str(), 0));
}

TEST_F(WindowsFileOutputTest, AReparsePointOnTheChainIsRefused) {
  const fs::path link = root_ / "link";
  if (!CreateSymbolicLinkW(link.wstring().c_str(), (root_ / "sub").wstring().c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "directory symbolic links cannot be created here (Wine 8 has no reparse points; Windows needs "
                    "developer mode or the privilege)";
  }
  expectRefused((link / "out.bin").string(), FileOutputError::InvalidDestination, kBadParent);
}

}  // namespace
}  // namespace vesmara
