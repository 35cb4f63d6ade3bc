#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/hex.h"
#include "hosts/file_output.h"
#include "hosts/platform.h"
#include "hosts/posix/posix_file_output.h"
#include "support/temp_dir.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using Staging = PosixFileOutput::Staging;

constexpr Staging kStagings[] = {Staging::UnnamedWherePossible, Staging::NamedOnly};

constexpr char kBadPath[] = "Output path must be an absolute local file path";
constexpr char kBadParent[] = "Output parent must be an existing real directory";
constexpr char kExists[] = "Output target already exists";
constexpr char kNoRandom[] = "Temporary name generation failed";
constexpr char kNoTemporary[] = "Temporary output creation failed";

std::vector<std::uint8_t> patternBytes(std::size_t length, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 131 + (i >> 12));
  return bytes;
}

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

void makeFile(const fs::path& path, std::string_view content) {
  std::ofstream(path, std::ios::binary) << content;
}

bool drawRandom(std::span<std::uint8_t> out) {
  return ::getrandom(out.data(), out.size(), 0) == static_cast<ssize_t>(out.size());
}

mode_t modeOf(const fs::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// How many files process `pid` holds open in `directory` that have no name
// there (the kernel shows them as "DIR/#INODE (deleted)").
int unnamedFilesHeldIn(const fs::path& directory, const std::string& pid = "self") {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/" + pid + "/fd")) {
    std::error_code code;
    const std::string link = fs::read_symlink(entry.path(), code).string();
    if (!code && link.starts_with(directory.string() + "/#") && link.ends_with(" (deleted)")) ++count;
  }
  return count;
}

bool isTemporaryName(const std::string& name) {
  return name.find(".vkr-") != std::string::npos && name.ends_with(".tmp");
}

// Every file of a sink's temporary name below `root`, links not followed.
std::vector<std::string> temporaryFilesBelow(const fs::path& root) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (isTemporaryName(name)) found.push_back(entry.path().string());
  }
  return found;
}

// The temporary name a sink for `target` draws from `bytes`.
std::string temporaryNameFor(const std::string& target, const std::array<std::uint8_t, 16>& bytes) {
  return target + ".vkr-" + encodeLowerHex(bytes) + ".tmp";
}

// A sink refused at construction: not open, with the error and message
// given, and refusing every write and commit afterwards.
void expectRefused(const std::string& destination, FileOutputError error, std::string_view text,
                   const PosixFileOutput::RandomFill& random = nullptr,
                   Staging staging = Staging::UnnamedWherePossible) {
  SCOPED_TRACE(testing::PrintToString(destination));
  std::string message = "stale";
  std::optional<PosixFileOutput> out;
  if (random) {
    out.emplace(destination, message, random, staging);
  } else {
    out.emplace(destination, message);
  }
  EXPECT_FALSE(out->isOpen());
  EXPECT_EQ(out->error(), error);
  EXPECT_EQ(message, text);
  EXPECT_FALSE(writeText(*out, "x"));
  EXPECT_FALSE(out->commit());
}

class FileOutputTest : public testing::Test {
 protected:
  void SetUp() override {
    // The sink refuses links on the chain, so the directory is named by its real path.
    root_ = fs::canonical(temp_.path());
    const int probe = ::open(root_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    unnamed_ = probe >= 0;
    if (unnamed_) ::close(probe);
    descriptors_ = openDescriptorCount();
  }

  // Every descriptor a sink opened (directories, the temporary file) is
  // closed again whatever state the sink ended in.
  void TearDown() override { EXPECT_EQ(openDescriptorCount(), descriptors_); }

  static long openDescriptorCount() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  }

  std::string at(std::string_view relative) const { return (root_ / relative).string(); }

  const test::TempDir temp_{"vkr-file-output"};
  fs::path root_;
  bool unnamed_ = false;  // the test directory's file system makes unnamed files
  long descriptors_ = 0;
};

TEST(FileOutputPathRule, AbsoluteLocalFilePaths) {
  const std::string long_component(255, 'a');
  std::string longest_path;
  for (int i = 0; i < 15; ++i) longest_path += "/" + long_component;
  longest_path += "/" + std::string(254, 'b');
  ASSERT_EQ(longest_path.size(), 4095u);

  const struct {
    std::string path;
    bool ok;
  } cases[] = {
      {"/a", true},
      {"/", false},
      {"", false},
      {"a", false},
      {"a/b", false},
      {"./a", false},
      {"~/a", false},
      {"//a", false},
      {"/a//b", false},
      {"/a/", false},
      {"/a/b/", false},
      {"/./a", false},
      {"/a/.", false},
      {"/..", false},
      {"/a/../b", false},
      {"/...", true},
      {"/.hidden", true},
      {"/a\x01" "b", false},
      {"/a\x1f", false},
      {"/a\tb", false},
      {"/a\nb", false},
      {std::string("/a\0b", 4), false},
      {"/a\x7f", true},
      {"/c:/x", true},
      {"/stream:name", true},
      {"/ends with dot.", true},
      {"/ends with space ", true},
      {"/back\\slash", true},
      {"/*?<>|\"", true},
      {"/caf\xC3\xA9", true},
      {"/\xC3", false},                // cut off
      {"/\xC0\xAF", false},            // overlong "/"
      {"/\xED\xA0\x80", false},        // surrogate
      {"/\xFF", false},
      {"/" + long_component, true},
      {"/" + long_component + "a", false},
      {"/x/" + long_component + "a" + "/y", false},
      {longest_path, true},
      {longest_path + "b", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isAbsoluteLocalFilePath(c.path), c.ok) << testing::PrintToString(c.path);
  }
}

TEST_F(FileOutputTest, HostilePathsAreRefusedBeforeTouchingTheDisk) {
  fs::create_directory(root_ / "sub");
  const std::string base = root_.string();
  const std::string hostile[] = {
      base + "/sub/../escape",
      base + "/sub/..",
      base + "/../escape",
      base + "/./escape",
      base + "//escape",
      base + "/escape/",
      base + "/esc\x01" "ape",
      base + "/esc\xC0\xAE" "ape",
      "sub/escape",
      "",
  };
  for (const std::string& path : hostile) expectRefused(path, FileOutputError::InvalidDestination, kBadPath);
  // Nothing was created anywhere below the test directory or next to it.
  EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
  EXPECT_TRUE(fs::is_empty(root_ / "sub"));
  EXPECT_FALSE(fs::exists(root_.parent_path() / "escape"));
}

TEST_F(FileOutputTest, CommitPublishesWrittenBytes) {
  std::string message = "stale";
  const std::unique_ptr<FileOutput> out = defaultPlatform().makeFileOutput(at("result.bin"), message);
  ASSERT_TRUE(out->isOpen());
  EXPECT_EQ(message, "");
  EXPECT_EQ(out->error(), FileOutputError::None);

  // The file being written has no name anywhere until commit.
  if (unnamed_) {
    EXPECT_TRUE(fs::is_empty(root_));
    EXPECT_EQ(unnamedFilesHeldIn(root_), 1);
  }

  EXPECT_TRUE(writeText(*out, "verified "));
  EXPECT_TRUE(out->write(nullptr, 0));
  EXPECT_FALSE(out->write(nullptr, 3));
  EXPECT_TRUE(writeText(*out, "bytes"));
  EXPECT_FALSE(fs::exists(at("result.bin"))) << "nothing is visible before commit";
  ASSERT_TRUE(out->commit());

  EXPECT_EQ(readFile(at("result.bin")), "verified bytes");
  EXPECT_TRUE(temporaryFilesBelow(root_).empty());
  EXPECT_FALSE(writeText(*out, "more"));
  EXPECT_FALSE(out->commit());
  // Neither abort nor destruction undoes a commit.
  out->abort();
  EXPECT_EQ(readFile(at("result.bin")), "verified bytes");
}

TEST_F(FileOutputTest, CommitWithoutWritesMakesAnEmptyFile) {
  std::string message;
  PosixFileOutput out(at("empty"), message);
  ASSERT_TRUE(out.isOpen());
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(readFile(at("empty")), "");
}

TEST_F(FileOutputTest, WritesLargerThanOneMebibyteInOneCall) {
  const std::vector<std::uint8_t> first = patternBytes(3 * 1048576 + 5, 7);
  const std::vector<std::uint8_t> second = patternBytes(1048576, 91);
  std::string message;
  PosixFileOutput out(at("large"), message);
  ASSERT_TRUE(out.isOpen());
  ASSERT_TRUE(out.write(first.data(), first.size()));
  ASSERT_TRUE(out.write(second.data(), second.size()));
  ASSERT_TRUE(out.commit());

  std::string expected(first.begin(), first.end());
  expected.append(second.begin(), second.end());
  const std::optional<std::string> written = readFile(at("large"));
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->size(), expected.size());
  EXPECT_TRUE(*written == expected);
}

TEST_F(FileOutputTest, NamesOnlyAnotherPlatformForbidsAreOrdinary) {
  for (const char* name : {"stream:name", "ends with dot.", "ends with space ", "back\\slash", "caf\xC3\xA9"}) {
    std::string message;
    PosixFileOutput out(at(name), message);
    ASSERT_TRUE(out.isOpen()) << name << ": " << message;
    ASSERT_TRUE(writeText(out, name));
    ASSERT_TRUE(out.commit());
    EXPECT_EQ(readFile(at(name)), name);
  }
}

TEST_F(FileOutputTest, NewFilesGetTheUsualModeLessTheUmask) {
  const mode_t saved = ::umask(0);
  for (const Staging staging : kStagings) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{027}, mode_t{077}}) {
      ::umask(mask);
      const std::string target = at("mode-" + std::to_string(mask) + "-" + std::to_string(static_cast<int>(staging)));
      std::string message;
      PosixFileOutput out(target, message, drawRandom, staging);
      ASSERT_TRUE(out.isOpen());
      ASSERT_TRUE(out.commit());
      struct stat status;
      ASSERT_EQ(::stat(target.c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask) << "umask " << std::oct << mask;
    }
  }
  ::umask(saved);
}

TEST_F(FileOutputTest, ParentMustBeAnExistingRealDirectory) {
  fs::create_directories(root_ / "real" / "sub");
  makeFile(root_ / "plain", "file");
  fs::create_directory_symlink(root_ / "real", root_ / "link");
  fs::create_directory_symlink("real/sub", root_ / "relative-link");
  fs::create_symlink(root_ / "missing", root_ / "dangling");
  fs::create_directory_symlink("/", root_ / "to-root");

  const char* cases[] = {
      "missing/file",      "real/missing/file", "plain/file",           "link/file",      "link/sub/file",
      "relative-link/file", "dangling/file",    "to-root/tmp/file",     "real/sub/plain2/file",
  };
  makeFile(root_ / "real" / "sub" / "plain2", "file");
  for (const char* relative : cases) expectRefused(at(relative), FileOutputError::InvalidDestination, kBadParent);
  // The links' targets received nothing.
  EXPECT_TRUE(temporaryFilesBelow(root_).empty());
  EXPECT_FALSE(fs::exists(root_ / "real" / "file"));
  EXPECT_FALSE(fs::exists(root_ / "real" / "sub" / "file"));
}

TEST_F(FileOutputTest, ExistingDestinationIsNeverReplacedNorFollowed) {
  makeFile(root_ / "kept", "original");
  fs::create_directory(root_ / "directory");
  fs::create_symlink(root_ / "kept", root_ / "link-to-file");
  fs::create_symlink(root_ / "would-be-created", root_ / "dangling-link");

  for (const char* name : {"kept", "directory", "link-to-file", "dangling-link"}) {
    expectRefused(at(name), FileOutputError::TargetExists, kExists);
  }
  EXPECT_EQ(readFile(root_ / "kept"), "original");
  EXPECT_TRUE(fs::is_symlink(root_ / "link-to-file"));
  EXPECT_TRUE(fs::is_symlink(root_ / "dangling-link"));
  EXPECT_FALSE(fs::exists(root_ / "would-be-created"));
  EXPECT_TRUE(temporaryFilesBelow(root_).empty());
}

TEST_F(FileOutputTest, DestinationInTheRootDirectoryIsChecked) {
  // The chain is "/" alone; "/tmp" exists, so nothing is created.
  expectRefused("/tmp", FileOutputError::TargetExists, kExists);
}

// A file appears under the destination's name, or a link aimed elsewhere;
// the failed sink is then cleaned up by abort or by destruction alone.
TEST_F(FileOutputTest, DestinationCreatedByAnotherBeforeCommit) {
  fs::create_directory(root_ / "elsewhere");
  for (const Staging staging : kStagings) {
    for (const bool as_link : {false, true}) {
      const std::string target = at(as_link ? "raced-link" : "raced-file");
      fs::remove(target);
      {
        std::string message;
        PosixFileOutput out(target, message, drawRandom, staging);
        ASSERT_TRUE(out.isOpen());
        ASSERT_TRUE(writeText(out, "ours"));
        if (as_link) {
          fs::create_symlink(root_ / "elsewhere" / "aimed", target);
        } else {
          makeFile(target, "theirs");
        }

        EXPECT_FALSE(out.commit());
        EXPECT_EQ(out.error(), FileOutputError::TargetExists);
        EXPECT_FALSE(writeText(out, "more"));
        EXPECT_FALSE(out.commit());
        if (!as_link) out.abort();
      }
      EXPECT_TRUE(temporaryFilesBelow(root_).empty());
      if (as_link) {
        EXPECT_TRUE(fs::is_symlink(target));
        EXPECT_FALSE(fs::exists(root_ / "elsewhere" / "aimed"));
      } else {
        EXPECT_EQ(readFile(target), "theirs");
      }
    }
  }
}

TEST_F(FileOutputTest, RacingOutputsForOneDestinationCommitOnce) {
  for (int round = 0; round < 20; ++round) {
    const std::string target = at("contended-" + std::to_string(round));
    std::string first_message;
    std::string second_message;
    PosixFileOutput first(target, first_message);
    PosixFileOutput second(target, second_message);
    ASSERT_TRUE(first.isOpen());
    ASSERT_TRUE(second.isOpen());

    std::latch ready(2);
    bool committed[2] = {false, false};
    auto run = [&ready](PosixFileOutput& out, std::string_view text, bool& result) {
      const bool written = writeText(out, text);
      ready.arrive_and_wait();
      result = written && out.commit();
    };
    std::thread one(run, std::ref(first), "first", std::ref(committed[0]));
    std::thread two(run, std::ref(second), "second", std::ref(committed[1]));
    one.join();
    two.join();

    ASSERT_NE(committed[0], committed[1]) << "exactly one commit wins, round " << round;
    PosixFileOutput& loser = committed[0] ? second : first;
    EXPECT_EQ(loser.error(), FileOutputError::TargetExists);
    loser.abort();
    EXPECT_EQ(readFile(target), committed[0] ? "first" : "second");
  }
  EXPECT_TRUE(temporaryFilesBelow(root_).empty());
}

// A read that fails after some parts were written aborts the sink, or
// simply drops it.
TEST_F(FileOutputTest, PartialWritesNeverBecomeVisible) {
  const std::vector<std::uint8_t> part = patternBytes(1500000, 3);
  for (const bool by_abort : {true, false}) {
    {
      std::string message;
      PosixFileOutput out(at("partial"), message);
      ASSERT_TRUE(out.isOpen());
      ASSERT_TRUE(out.write(part.data(), part.size()));
      ASSERT_TRUE(out.write(part.data(), 1000));
      if (by_abort) {
        out.abort();
        EXPECT_FALSE(out.isOpen());
        EXPECT_FALSE(out.write(part.data(), 10));
        EXPECT_FALSE(out.commit());
        out.abort();
      }
    }
    EXPECT_TRUE(fs::is_empty(root_)) << (by_abort ? "abort" : "destruction");
  }
}

// Lowers the file size limit so that writes fail part way, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previous_signal_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    const struct rlimit lowered = {bytes, previous_.rlim_max};
    applied_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    ::signal(SIGXFSZ, previous_signal_);
  }
  bool applied() const { return applied_; }

 private:
  struct rlimit previous_ {};
  sighandler_t previous_signal_;
  bool applied_ = false;
};

TEST_F(FileOutputTest, FailedWriteEndsTheSinkAndLeavesNoFile) {
  const std::vector<std::uint8_t> data = patternBytes(2 * 1048576, 5);
  std::string message;
  PosixFileOutput out(at("too-big"), message);
  ASSERT_TRUE(out.isOpen());
  {
    FileSizeLimit limit(1048576 + 4096);
    ASSERT_TRUE(limit.applied());
    ASSERT_TRUE(out.write(data.data(), 1000));
    // The second piece of this call is cut short by the limit, then refused.
    EXPECT_FALSE(out.write(data.data(), data.size()));
  }
  EXPECT_EQ(out.error(), FileOutputError::WriteFailed);
  // A sink holding an unknown prefix of the data never publishes it.
  EXPECT_FALSE(out.write(data.data(), 10));
  EXPECT_FALSE(out.commit());
  EXPECT_FALSE(fs::exists(at("too-big")));
  out.abort();
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(FileOutputTest, TemporaryNameIsDrawnAgainWhenTaken) {
  const std::string target = "drawn";
  std::vector<std::array<std::uint8_t, 16>> draws;
  for (std::uint8_t i = 0; i < 5; ++i) {
    std::array<std::uint8_t, 16> bytes{};
    bytes.fill(static_cast<std::uint8_t>(0xA0 + i));
    draws.push_back(bytes);
  }
  for (std::size_t taken = 0; taken <= 4; ++taken) {
    SCOPED_TRACE(taken);
    for (std::size_t i = 0; i < taken; ++i) makeFile(root_ / temporaryNameFor(target, draws[i]), "someone's");
    std::size_t next = 0;
    const PosixFileOutput::RandomFill sequence = [&](std::span<std::uint8_t> out) {
      std::copy(draws[next].begin(), draws[next].end(), out.begin());
      ++next;
      return true;
    };
    {
      std::string message;
      PosixFileOutput out(at(target), message, sequence, Staging::NamedOnly);
      if (taken < 4) {
        ASSERT_TRUE(out.isOpen()) << message;
        EXPECT_EQ(next, taken + 1);
        EXPECT_TRUE(fs::exists(root_ / temporaryNameFor(target, draws[taken])));
      } else {
        EXPECT_FALSE(out.isOpen());
        EXPECT_EQ(next, 4u) << "four attempts, no more";
        EXPECT_EQ(out.error(), FileOutputError::WriteFailed);
        EXPECT_EQ(message, kNoTemporary);
      }
    }
    // Files that already had the drawn names are left alone.
    for (std::size_t i = 0; i < taken; ++i) {
      EXPECT_EQ(readFile(root_ / temporaryNameFor(target, draws[i])), "someone's");
      fs::remove(root_ / temporaryNameFor(target, draws[i]));
    }
    EXPECT_TRUE(fs::is_empty(root_));
  }
}

TEST_F(FileOutputTest, RandomGeneratorFailure) {
  const PosixFileOutput::RandomFill broken = [](std::span<std::uint8_t>) { return false; };
  expectRefused(at("unnamed"), FileOutputError::WriteFailed, kNoRandom, broken, Staging::NamedOnly);
  EXPECT_TRUE(fs::is_empty(root_));
  // An unnamed file needs no random name.
  if (unnamed_) {
    std::string message;
    PosixFileOutput out(at("unnamed"), message, broken);
    EXPECT_TRUE(out.isOpen()) << message;
  }
}

// Any name the path rule allows works: the named temporary of a name too
// long for its 41-byte suffix starts with a shortened name.
TEST_F(FileOutputTest, NamesUpTo255Bytes) {
  for (const Staging staging : kStagings) {
    for (const std::size_t length : {214, 215, 254, 255}) {
      const std::string name(length, static_cast<char>('a' + length % 26));
      std::string message;
      PosixFileOutput out(at(name), message, drawRandom, staging);
      ASSERT_TRUE(out.isOpen()) << length << ": " << message;
      ASSERT_TRUE(writeText(out, "long"));
      ASSERT_TRUE(out.commit());
      EXPECT_EQ(readFile(root_ / name), "long");
      fs::remove(root_ / name);
    }
  }
  EXPECT_TRUE(fs::is_empty(root_));
}

// The fallback where the file system makes no unnamed files: a named
// temporary beside the destination that only its owner may open.
TEST_F(FileOutputTest, NamedTemporaryIsOwnerOnlyUntilCommit) {
  const struct {
    std::string name;
    std::string stem;
  } cases[] = {
      {"result.bin", "result.bin"},
      {std::string(214, 'f'), std::string(214, 'f')},
      {std::string(215, 'g'), std::string(214, 'g')},
      {std::string(255, 'h'), std::string(214, 'h')},
      // A character that would straddle the cut is left out whole.
      {std::string(213, 'i') + "\xC3\xA9" + std::string(40, 'j'), std::string(213, 'i')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(temporaryStem(c.name), c.stem);
    std::string message;
    PosixFileOutput out(at(c.name), message, drawRandom, Staging::NamedOnly);
    ASSERT_TRUE(out.isOpen()) << message;
    const std::vector<std::string> temporary = temporaryFilesBelow(root_);
    ASSERT_EQ(temporary.size(), 1u);
    const std::string temporary_name = fs::path(temporary[0]).filename().string();
    EXPECT_EQ(temporary_name, out.temporaryName());
    ASSERT_EQ(temporary_name.size(), c.stem.size() + 41);
    EXPECT_TRUE(temporary_name.starts_with(c.stem + ".vkr-")) << temporary_name;
    EXPECT_TRUE(isLowerHex(temporary_name.substr(c.stem.size() + 5, 32), 32)) << temporary_name;
    EXPECT_EQ(modeOf(temporary[0]), 0600u);

    ASSERT_TRUE(writeText(out, "named"));
    ASSERT_TRUE(out.commit());
    EXPECT_EQ(readFile(at(c.name)), "named");
    EXPECT_TRUE(temporaryFilesBelow(root_).empty());
  }
}

// A reservation sets room aside without changing the file's size, and a
// length that cannot fit fails before anything is written.
TEST_F(FileOutputTest, ReserveFailsOnlyForALengthThatCannotFit) {
  const struct {
    std::uint64_t length;
    bool fits;
  } cases[] = {{0, true}, {4 << 20, true}, {std::uint64_t{1} << 62, false}, {~std::uint64_t{0}, false}};
  for (const Staging staging : kStagings) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.length);
      {
        std::string message;
        PosixFileOutput out(at("reserved"), message, drawRandom, staging);
        ASSERT_TRUE(out.isOpen());
        EXPECT_EQ(out.reserve(c.length), c.fits);
        if (c.fits) {
          ASSERT_TRUE(writeText(out, "ten bytes!"));
          ASSERT_TRUE(out.commit());
          EXPECT_EQ(fs::file_size(at("reserved")), 10u);
          EXPECT_FALSE(out.reserve(1)) << "a committed sink reserves nothing";
          fs::remove(at("reserved"));
        } else {
          EXPECT_EQ(out.error(), FileOutputError::WriteFailed);
          EXPECT_FALSE(writeText(out, "x"));
          EXPECT_FALSE(out.commit());
        }
      }
      EXPECT_TRUE(fs::is_empty(root_));
    }
  }
}

// SIGKILL runs no clean-up of the process's own: the kernel frees the file
// nobody named, and nothing of the download stays on disk.
TEST_F(FileOutputTest, WriterKilledMidDownloadLeavesNothing) {
  if (!unnamed_) GTEST_SKIP() << root_ << " is on a file system without unnamed files (O_TMPFILE)";
  int ready[2];
  int hold[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(hold, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string message;
    PosixFileOutput out(at("killed"), message);
    const std::vector<std::uint8_t> data = patternBytes(1 << 20, 9);
    const char state = out.isOpen() && out.reserve(2 << 20) && out.write(data.data(), data.size()) ? 'w' : 'f';
    (void)!::write(ready[1], &state, 1);
    char never = 0;
    (void)!::read(hold[0], &never, 1);  // until killed: the parent never writes
    ::_exit(1);
  }
  ::close(ready[1]);
  ::close(hold[0]);
  char state = 0;
  EXPECT_EQ(::read(ready[0], &state, 1), 1);
  EXPECT_EQ(state, 'w');
  EXPECT_TRUE(fs::is_empty(root_));
  EXPECT_EQ(unnamedFilesHeldIn(root_, std::to_string(child)), 1);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  ::close(ready[0]);
  ::close(hold[1]);
  EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(FileOutputTest, DirectorySwappedForALinkDuringTheDownload) {
  // Either the parent itself or an ancestor is moved away and replaced by a
  // link to a decoy; the bytes must follow the original directory.
  for (const char* swapped : {"chain/inner", "chain"}) {
    SCOPED_TRACE(swapped);
    fs::remove_all(root_ / "chain");
    fs::remove_all(root_ / "moved");
    fs::remove_all(root_ / "decoy");
    fs::create_directories(root_ / "chain" / "inner");
    fs::create_directories(root_ / "decoy" / "inner");
    std::string message;
    PosixFileOutput out(at("chain/inner/file"), message);
    ASSERT_TRUE(out.isOpen());
    ASSERT_TRUE(writeText(out, "first half "));

    const fs::path original = root_ / swapped;
    const fs::path moved = root_ / "moved";
    fs::rename(original, moved);
    fs::create_directory_symlink(std::string(swapped) == "chain" ? root_ / "decoy" : root_ / "decoy" / "inner",
                                 original);

    ASSERT_TRUE(writeText(out, "second half"));
    ASSERT_TRUE(out.commit());
    const fs::path landed = std::string(swapped) == "chain" ? moved / "inner" / "file" : moved / "file";
    EXPECT_EQ(readFile(landed), "first half second half");
    EXPECT_FALSE(fs::exists(root_ / "decoy" / "inner" / "file"));
    EXPECT_TRUE(temporaryFilesBelow(root_).empty());
  }
}

TEST_F(FileOutputTest, MovesWithoutReplaceNeverReplace) {
  using Move = FileOutputError (*)(int, const std::string&, const std::string&);
  const int directory = ::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  for (const Move move : {&renameWithoutReplace, &linkWithoutReplace}) {
    makeFile(root_ / "from", "new");
    makeFile(root_ / "to", "old");
    EXPECT_EQ(move(directory, "from", "to"), FileOutputError::TargetExists);
    EXPECT_EQ(readFile(root_ / "to"), "old");
    EXPECT_EQ(readFile(root_ / "from"), "new");

    fs::remove(root_ / "to");
    EXPECT_EQ(move(directory, "from", "to"), FileOutputError::None);
    EXPECT_EQ(readFile(root_ / "to"), "new");
    EXPECT_FALSE(fs::exists(root_ / "from"));
    EXPECT_EQ(move(directory, "from", "to"), FileOutputError::WriteFailed) << "nothing to move";
    fs::remove(root_ / "to");
  }
  ::close(directory);
}

}  // namespace
}  // namespace vesmara
