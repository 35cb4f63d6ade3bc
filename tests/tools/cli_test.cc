// vkr and vkr-pack as a user runs them: a site published from a folder,
// served by `vkr-pack serve`, read back with vkr; the errors and exit codes
// of both tools; reproducible output; Ctrl-C in the middle of a download.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/hex.h"
#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#include "json/json.h"
#include "support/temp_dir.h"
#include "support/test_origin.h"
#include "tools/tool_process.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kVkr = VKR_TOOL;
const std::string kPack = VKR_PACK_TOOL;
const std::string kMemberKeyHex = "8f1e2d3c4b5a69788796a5b4c3d2e1f00112233445566778899aabbccddeeff0";

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string sha256Hex(const std::string& bytes) {
  const auto crypto = defaultPlatform().makeCryptoHost();
  Sha256Digest digest{};
  computeSha256(*crypto, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), digest);
  return encodeLowerHex(digest);
}

std::vector<std::string> filesBelow(const fs::path& root) {
  std::vector<std::string> names;
  if (!fs::exists(root)) return names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    names.push_back(entry.path().lexically_relative(root).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// How many files process `pid` holds open in `directory` without a name
// there (the kernel shows them as "DIR/#INODE (deleted)").
int unnamedFilesHeldIn(const fs::path& directory, pid_t pid) {
  const std::string prefix = fs::canonical(directory).string() + "/#";
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code code;
    const std::string link = fs::read_symlink(entry.path(), code).string();
    if (!code && link.starts_with(prefix) && link.ends_with(" (deleted)")) ++count;
  }
  return count;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The rows of `vkr ls` by path: length, type, access, delivery, digest.
std::map<std::string, std::vector<std::string>> listingRows(const std::string& listing) {
  std::map<std::string, std::vector<std::string>> rows;
  std::istringstream lines(listing);
  std::string line;
  std::getline(lines, line);  // headings
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string path;
    std::vector<std::string> cells;
    words >> path;
    for (std::string word; words >> word;) cells.push_back(word);
    rows[path] = cells;
  }
  return rows;
}

// One published example site, served by vkr-pack serve for the whole suite.
class CliTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = std::make_unique<test::TempDir>("vkr-cli");
    work_ = temp_->path();
    // vkr game keeps what it adopted in the state folder: the suite's own.
    setenv("XDG_STATE_HOME", (work_ / "state").c_str(), 1);
    files_ = {
        {"index.html", "<!DOCTYPE html><title>t</title><p>hello"},
        {"style.css", "p { color: teal }"},
        {"img/dot.png", test::TestOrigin::makeBytes(700, 1)},
        {"members/secret.txt", "the door answers to ember"},
        {"credits.txt", "made for the tests"},
        {"data/motto.txt", "keep the flame"},
        {"data/door.txt", "east door: ember"},
        {"big.bin", test::TestOrigin::makeBytes(600000, 2)},
    };
    for (const auto& [name, bytes] : files_) writeText(work_ / "src" / name, bytes);
    writeText(work_ / "src/.hidden", "left out");
    writeText(work_ / "member.key", kMemberKeyHex + "\n");
    writeText(work_ / "game/items/base.pak", test::TestOrigin::makeBytes(3000, 3));
    writeText(work_ / "game/items/extra.bin", "members only");
    writeText(work_ / "game/game.json", R"({"id": "keep", "minVersion": "1.0.0", "maxVersion": "1.9.0", "revision": 4,
      "items": [{"id": "base", "kind": "release", "path": "game/base.pak", "file": "items/base.pak"},
                {"id": "extra", "kind": "puzzle", "path": "game/extra.bin", "file": "items/extra.bin",
                 "dependsOn": ["base"], "members": true}]})");
    const test::ToolResult built = test::runTool(publishArguments("origin", {"--seed", "5"}));
    ASSERT_EQ(built.exit_code, 0) << built.err;
    server_ = new test::BackgroundTool({kPack, "serve", (work_ / "origin").string(), "--quiet"});
    origin_ = server_->readLine(10s);
    ASSERT_TRUE(origin_.starts_with("http://127.0.0.1:")) << origin_;
  }

  static void TearDownTestSuite() {
    if (server_ != nullptr) {
      // SIGTERM ends the server normally.
      server_->signal(SIGTERM);
      EXPECT_EQ(server_->wait(10s), 0);
    }
    delete server_;
    server_ = nullptr;
    temp_.reset();
  }

  static std::vector<std::string> publishArguments(const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> arguments = {kPack, "build", (work_ / "src").string(), (work_ / out).string(),
                                          "--members", "members/**", "--member-key", (work_ / "member.key").string(),
                                          "--download", "credits.txt", "--part-size", "65536",
                                          "--codec", "img/dot.png=png-lsb1", "--codec", "motto.txt=frame-luma1",
                                          "--codec", "data/door.txt=frame-luma2", "--codec", "credits.txt=wav-4fsk1",
                                          "--game", (work_ / "game/game.json").string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  static test::ToolResult vkr(std::vector<std::string> arguments, const test::ToolOptions& options = {}) {
    arguments.insert(arguments.begin(), kVkr);
    return test::runTool(arguments, options);
  }

  void TearDown() override { fs::remove_all(work_ / "out"); }

  std::string key() const { return (work_ / "member.key").string(); }

  static inline std::unique_ptr<test::TempDir> temp_;
  static inline fs::path work_;
  static inline std::map<std::string, std::string> files_;
  static inline test::BackgroundTool* server_ = nullptr;
  static inline std::string origin_;
};

TEST_F(CliTest, ListsAndReadsBackEveryPublishedFile) {
  const test::ToolResult info = vkr({"info", origin_});
  ASSERT_EQ(info.exit_code, 0) << info.err;
  EXPECT_NE(info.out.find("/vesmara.web/app/index.html"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("resources      11"), std::string::npos) << info.out;  // 8 files, catalogue, 2 items

  const test::ToolResult listing = vkr({"ls", origin_});
  ASSERT_EQ(listing.exit_code, 0) << listing.err;
  const auto rows = listingRows(listing.out);
  EXPECT_EQ(rows.size(), 11u);
  for (const auto& [name, bytes] : files_) {
    SCOPED_TRACE(name);
    const std::string path = "/vesmara.web/app/" + name;
    ASSERT_TRUE(rows.contains(path)) << listing.out;
    const std::vector<std::string>& row = rows.at(path);
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(row[0], std::to_string(bytes.size()));
    EXPECT_EQ(row[2], name.starts_with("members/") ? "members" : "public");
    EXPECT_EQ(row[3], name == "credits.txt" ? "download" : "app");
    EXPECT_EQ(row[4], sha256Hex(bytes));
    // Relative and full paths name the same resource.
    std::vector<std::string> cat = {"cat", origin_, name.size() % 2 == 0 ? name : path};
    if (name.starts_with("members/")) cat.insert(cat.end(), {"--key", key()});
    const test::ToolResult read = vkr(cat);
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_TRUE(read.out == bytes) << "read " << read.out.size() << " bytes";
    EXPECT_EQ(read.err, "");
  }
  EXPECT_EQ(rows.at("/vesmara.web/app/style.css")[1], "text/css");
  EXPECT_EQ(rows.at("/vesmara.web/app/img/dot.png")[1], "image/png");
  EXPECT_FALSE(rows.contains("/vesmara.web/app/.hidden"));
}

TEST_F(CliTest, GetSavesVerifiedFilesAndNeverReplacesOne) {
  fs::create_directories(work_ / "out");
  const fs::path target = work_ / "out/copy.bin";
  const test::ToolResult got = vkr({"get", origin_, "big.bin", "-o", target.string()});
  ASSERT_EQ(got.exit_code, 0) << got.err;
  EXPECT_EQ(got.err, "");  // no progress bar when standard error is not a terminal
  EXPECT_TRUE(readText(target) == files_.at("big.bin"));

  writeText(target, "mine");
  const test::ToolResult again = vkr({"get", origin_, "big.bin", "-o", target.string()});
  EXPECT_EQ(again.exit_code, 8);
  EXPECT_NE(again.err.find(target.string() + ": Output target already exists"), std::string::npos) << again.err;
  EXPECT_EQ(readText(target), "mine");

  // Without -o the file takes the resource's last segment, in the current folder.
  const test::ToolResult named = vkr({"get", origin_, "members/secret.txt", "--key", key()}, {.directory = work_ / "out"});
  ASSERT_EQ(named.exit_code, 0) << named.err;
  EXPECT_EQ(readText(work_ / "out/secret.txt"), files_.at("members/secret.txt"));
  EXPECT_EQ(filesBelow(work_ / "out"), (std::vector<std::string>{"copy.bin", "secret.txt"}));
}

TEST_F(CliTest, ProgressBarIsDrawnOnATerminal) {
  fs::create_directories(work_ / "out");
  const test::ToolResult got =
      vkr({"get", origin_, "big.bin", "-o", (work_ / "out/big.bin").string()}, {.stderr_terminal = true});
  ASSERT_EQ(got.exit_code, 0) << got.err;
  EXPECT_NE(got.err.find("100%"), std::string::npos) << got.err;
  EXPECT_NE(got.err.find("585.9 KiB of 585.9 KiB"), std::string::npos) << got.err;
  EXPECT_EQ(occurrences(got.err, "100%"), 1u) << got.err;

  // Every line fits a narrow terminal, whose width $COLUMNS gives: a longer
  // one would wrap, and each redraw would leave a line behind.
  setenv("COLUMNS", "40", 1);
  const test::ToolResult narrow =
      vkr({"get", origin_, "big.bin", "-o", (work_ / "out/narrow.bin").string()}, {.stderr_terminal = true});
  unsetenv("COLUMNS");
  ASSERT_EQ(narrow.exit_code, 0) << narrow.err;
  std::string lines = narrow.err;
  for (std::size_t at; (at = lines.find("\x1b[K")) != std::string::npos;) lines.erase(at, 3);
  std::replace(lines.begin(), lines.end(), '\n', '\r');
  std::istringstream drawn(lines);
  for (std::string line; std::getline(drawn, line, '\r');) EXPECT_LT(line.size(), 40u) << line;
  EXPECT_EQ(occurrences(narrow.err, "100%"), 1u) << narrow.err;
}

// The links on the user's own path are the user's choice; -o may name a
// folder. A link as the file itself is still never written through.
TEST_F(CliTest, GetWritesThroughLinkedFoldersAndIntoFolders) {
  fs::create_directories(work_ / "out/real/inner");
  fs::create_directory_symlink(work_ / "out/real", work_ / "out/linked");
  fs::create_symlink(work_ / "out/real/inner/taken", work_ / "out/real/inner/dangling");
  const std::string linked = (work_ / "out/linked").string();
  struct Case {
    std::vector<std::string> arguments;
    std::string saved;  // below out/real
  };
  const std::vector<Case> cases = {
      {{"get", origin_, "style.css", "-o", linked + "/inner/copy.css"}, "inner/copy.css"},
      {{"get", origin_, "style.css", "-o", linked + "/inner"}, "inner/style.css"},
      {{"get", origin_, "data/motto.txt", "-o", linked + "/"}, "motto.txt"},
      {{"game", origin_, "--id", "keep", "--version", "1.2.0", "fetch", "base", "-o", linked}, "base.pak"},
  };
  for (const Case& get : cases) {
    const test::ToolResult result = vkr(get.arguments);
    EXPECT_EQ(result.exit_code, 0) << get.saved << ": " << result.err;
    EXPECT_TRUE(fs::is_regular_file(work_ / "out/real" / get.saved)) << get.saved;
  }
  EXPECT_EQ(readText(work_ / "out/real/inner/copy.css"), files_.at("style.css"));
  const test::ToolResult through_link = vkr({"get", origin_, "style.css", "-o", linked + "/inner/dangling"});
  EXPECT_EQ(through_link.exit_code, 8) << through_link.err;
  EXPECT_NE(through_link.err.find("writing " + (work_ / "out/real/inner/dangling").string() +
                                  ": Output target already exists"),
            std::string::npos)
      << through_link.err;
  EXPECT_FALSE(fs::exists(work_ / "out/real/inner/taken"));
}

TEST_F(CliTest, GameCatalogueListsAndFetchesItems) {
  const std::vector<std::string> game = {"game", origin_, "--id", "keep", "--version", "1.2.0"};
  auto with = [&game](std::vector<std::string> tail) {
    std::vector<std::string> arguments = game;
    arguments.insert(arguments.end(), tail.begin(), tail.end());
    return arguments;
  };
  const test::ToolResult listing = vkr(with({"ls"}));
  ASSERT_EQ(listing.exit_code, 0) << listing.err;
  EXPECT_TRUE(listing.out.starts_with("catalogue revision 4, 2 items")) << listing.out;
  EXPECT_NE(listing.out.find("extra  puzzle   game/extra.bin"), std::string::npos) << listing.out;

  fs::create_directories(work_ / "out");
  const test::ToolResult base = vkr(with({"fetch", "base", "-o", (work_ / "out/base.pak").string()}));
  ASSERT_EQ(base.exit_code, 0) << base.err;
  EXPECT_EQ(readText(work_ / "out/base.pak"), readText(work_ / "game/items/base.pak"));

  const test::ToolResult locked = vkr(with({"fetch", "extra", "-o", (work_ / "out/extra.bin").string()}));
  EXPECT_EQ(locked.exit_code, 10) << locked.err;
  EXPECT_FALSE(fs::exists(work_ / "out/extra.bin"));
  const test::ToolResult opened =
      vkr(with({"fetch", "extra", "-o", (work_ / "out/extra.bin").string(), "--key", key()}));
  ASSERT_EQ(opened.exit_code, 0) << opened.err;
  EXPECT_EQ(readText(work_ / "out/extra.bin"), "members only");

  const test::ToolResult absent = vkr(with({"fetch", "nothing", "-o", (work_ / "out/x").string()}));
  EXPECT_EQ(absent.exit_code, 14) << absent.err;
  EXPECT_EQ(filesBelow(work_ / "out"), (std::vector<std::string>{"base.pak", "extra.bin"}));
}

TEST_F(CliTest, ExternalIndexOpensWithItsKeyFileOrCredential) {
  const test::ToolResult built = test::runTool(
      {kPack, "build", (work_ / "src").string(), (work_ / "out/origin").string(), "--members", "members/**",
       "--member-key", key(), "--external", "/assets/private.bin", "--write-key-file",
       (work_ / "out/site.key").string(), "--write-credential", (work_ / "out/site.ico").string()});
  ASSERT_EQ(built.exit_code, 0) << built.err;
  test::BackgroundTool server({kPack, "serve", (work_ / "out/origin").string(), "--quiet"});
  const std::string origin = server.readLine(10s);
  ASSERT_FALSE(origin.empty());
  for (const char* material : {"site.key", "site.ico"}) {
    const test::ToolResult read =
        vkr({"cat", origin, "members/secret.txt", "--key", key(), "--external", (work_ / "out" / material).string()});
    EXPECT_EQ(read.exit_code, 0) << material << ": " << read.err;
    EXPECT_EQ(read.out, files_.at("members/secret.txt"));
  }
  // The favicon carries no index: the hosted load fails with the library's status.
  const test::ToolResult hosted = vkr({"ls", origin});
  EXPECT_GE(hosted.exit_code, 9) << hosted.err;
  EXPECT_TRUE(hosted.out.empty());
  // It says where it looked, and what to do instead.
  EXPECT_NE(hosted.err.find(origin + ": loading the site index from /favicon.ico: "), std::string::npos) << hosted.err;
  EXPECT_NE(hosted.err.find("; if the site keeps its index elsewhere, open it with --external FILE\n"),
            std::string::npos)
      << hosted.err;
}

// What a publisher runs after deploying: every resource read, nothing kept,
// and a damaged carrier named by the resources it breaks.
TEST_F(CliTest, VerifyReadsEveryResourceAndNamesWhatFails) {
  const std::vector<std::string> before = filesBelow(work_ / "src");
  const test::ToolResult public_only = vkr({"verify", origin_}, {.directory = work_ / "src"});
  EXPECT_EQ(public_only.exit_code, 0) << public_only.err;
  EXPECT_EQ(occurrences(public_only.out, "  ok"), 9u) << public_only.out;
  EXPECT_EQ(occurrences(public_only.out, "  members  skipped: members, no --key\n"), 2u) << public_only.out;
  EXPECT_EQ(filesBelow(work_ / "src"), before);
  EXPECT_NE(public_only.out.find("ok (game catalogue revision 4, 2 items)"), std::string::npos) << public_only.out;
  EXPECT_TRUE(
      public_only.out.ends_with("9 of 11 resources verified, 2 members resources skipped (give --key), 0 failed\n"))
      << public_only.out;
  const test::ToolResult everything = vkr({"verify", origin_, "--key", key()});
  EXPECT_EQ(everything.exit_code, 0) << everything.err;
  EXPECT_TRUE(everything.out.ends_with("11 of 11 resources verified, 0 failed\n")) << everything.out;

  fs::create_directories(work_ / "out");
  fs::copy(work_ / "origin", work_ / "out/damaged", fs::copy_options::recursive);
  for (const auto& entry : fs::directory_iterator(work_ / "out/damaged/assets")) {
    if (entry.path().extension() != ".bin") continue;
    const auto middle = static_cast<std::streamoff>(fs::file_size(entry.path()) / 2);
    std::fstream carrier(entry.path(), std::ios::in | std::ios::out | std::ios::binary);
    carrier.seekg(middle);
    const int byte = carrier.get();
    carrier.seekp(middle);
    carrier.put(static_cast<char>(byte ^ 0x01));
  }
  test::BackgroundTool server({kPack, "serve", (work_ / "out/damaged").string(), "--quiet"});
  const std::string origin = server.readLine(10s);
  const test::ToolResult damaged = vkr({"verify", origin, "--key", key()});
  EXPECT_EQ(damaged.exit_code, 11) << damaged.err;
  EXPECT_NE(damaged.out.find("  FAILED: "), std::string::npos) << damaged.out;
  EXPECT_NE(damaged.err.find(" resources failed verification: /vesmara.web/app/"), std::string::npos) << damaged.err;
}

// Standard output parsed as one strict JSON document.
JsonValue parsedJson(const test::ToolResult& result) {
  JsonValue value;
  Failure failure;
  EXPECT_TRUE(parseJsonDocument(result.out, result.out.size(), value, failure)) << failure.message << "\n"
                                                                                << result.out;
  return value;
}

std::string memberText(const JsonValue& object, std::string_view key) {
  const std::optional<JsonValue> found = object.findMember(key);
  return found ? std::string(found->text()) : "(absent)";
}

TEST_F(CliTest, JsonOutputParsesWhateverTheText) {
  // A key ID may hold any bytes: quotes, backslashes, control characters.
  const std::string key_id = "q\"b\\s\n\x01\xc3\xa9";
  const test::ToolResult built =
      test::runTool({kPack, "build", (work_ / "src").string(), (work_ / "out/site").string(), "--members", "members/**",
                     "--member-key", key(), "--member-key-id", key_id});
  ASSERT_EQ(built.exit_code, 0) << built.err;
  test::BackgroundTool server({kPack, "serve", (work_ / "out/site").string(), "--quiet"});
  const std::string origin = server.readLine(10s);

  const JsonValue info = parsedJson(vkr({"info", origin, "--json"}));
  EXPECT_EQ(memberText(info, "memberKeyId"), key_id);
  EXPECT_EQ(memberText(info, "entry"), "/vesmara.web/app/index.html");
  EXPECT_EQ(memberText(info, "resources"), "8");

  const JsonValue listing = parsedJson(vkr({"ls", origin, "--json"}));
  std::map<std::string, std::string> lengths;
  for (const JsonValue resource : listing.findMember("resources").value_or(JsonValue()).elements()) {
    lengths[memberText(resource, "path")] = memberText(resource, "length");
  }
  EXPECT_EQ(lengths.size(), files_.size());
  for (const auto& [name, bytes] : files_) EXPECT_EQ(lengths["/vesmara.web/app/" + name], std::to_string(bytes.size()));

  const test::ToolResult verified = vkr({"verify", origin, "--key", key(), "--json"});
  EXPECT_EQ(verified.exit_code, 0) << verified.err;
  const JsonValue verify = parsedJson(verified);
  EXPECT_EQ(memberText(verify, "verified"), "8");
  EXPECT_EQ(memberText(verify, "failed"), "0");
  for (const JsonValue resource : verify.findMember("resources").value_or(JsonValue()).elements()) {
    EXPECT_EQ(memberText(resource, "result"), "verified") << memberText(resource, "path");
  }

  const JsonValue game = parsedJson(vkr({"game", origin_, "--id", "keep", "--version", "1.2.0", "ls", "--json"}));
  EXPECT_EQ(memberText(game, "revision"), "4");
  std::vector<std::string> items;
  for (const JsonValue item : game.findMember("items").value_or(JsonValue()).elements()) {
    items.push_back(memberText(item, "id") + " " + memberText(item, "path"));
  }
  EXPECT_EQ(items, (std::vector<std::string>{"base game/base.pak", "extra game/extra.bin"}));
  // What vkr game adopted is kept in $XDG_STATE_HOME/vkr.
  EXPECT_EQ(filesBelow(work_ / "state/vkr").size(), 1u);
}

struct ErrorCase {
  std::vector<std::string> arguments;  // "{origin}" and "{key}" are replaced
  int exit_code;
  std::string message;  // part of standard error
};

TEST_F(CliTest, ReaderFailuresExitWithTheLibraryStatus) {
  writeText(work_ / "short.key", "abcd\n");
  writeText(work_ / "wrong.key", std::string(64, 'a'));
  const std::vector<ErrorCase> cases = {
      {{}, 2, "usage: vkr COMMAND"},
      {{"fetch"}, 2, "unknown command 'fetch'"},
      {{"cat", "{origin}"}, 2, "missing argument"},
      {{"cat", "{origin}", "index.html", "extra"}, 2, "unexpected argument 'extra'"},
      {{"ls", "{origin}", "--colour"}, 2, "unknown option '--colour'"},
      {{"get", "{origin}", "index.html", "-o"}, 2, "option '-o' needs a value"},
      {{"game", "{origin}", "ls"}, 2, "--id and --version are required"},
      {{"info", ""}, 2, "ORIGIN is empty"},
      {{"get", "{origin}", "index.html", "-o", ""}, 2, "-o needs a file name"},
      {{"get", "{origin}", "index.html", "-o", "-"}, 2, "-o - is not supported; 'vkr cat' writes to standard output"},
      {{"get", "{origin}", "/vesmara.web/app/"}, 2, "give the file to save to with -o FILE"},
      // Every failure of the library names what it failed on.
      {{"cat", "{origin}", "members/secret.txt"},
       10,
       "/vesmara.web/app/members/secret.txt: Member content key required"},
      {{"cat", "{origin}", "members/secret.txt", "--key", "{work}/wrong.key"}, 10, ""},
      {{"cat", "{origin}", "index.html", "--key", "{work}/short.key"}, 1, "must hold a 32-byte key"},
      {{"cat", "{origin}", "index.html", "--key", "{work}/absent.key"}, 1, "cannot open"},
      {{"cat", "{origin}", "nothing.html"}, 14, "/vesmara.web/app/nothing.html: Resource absent from index"},
      {{"info", "http://example.com"}, 1, "http://example.com: "},
      {{"info", "http://127.0.0.1:1"}, 12, "http://127.0.0.1:1: "},
      {{"ls", "{origin}", "--external", "{work}/member.key"}, 9, "member.key): "},
      // Where a likely fix is known, the error gives it.
      {{"ls", "{origin}", "--external", "{work}/member.key"},
       9,
       "member.key holds a 32-byte key: a member key goes to --key"},
      {{"cat", "{origin}", "members/secret.txt"}, 10, "; give the site's member key with --key FILE\n"},
      {{"cat", "{origin}", "members/secret.txt", "--key", "{work}/wrong.key"},
       10,
       "reading /vesmara.web/app/members/secret.txt: Member key or part authentication failed; check that --key names "
       "this site's member key\n"},
      {{"help", "fetch"}, 2, "unknown command 'fetch'"},
      {{"game", "{origin}", "--id", "keep", "--version", "1.2.0", "--state-dir", "", "ls"},
       2,
       "--state-dir needs a folder"},
      {{"game", "{origin}", "--id", "keep", "--version", "2.0.0", "ls"}, 9, "game keep 2.0.0 at http://"},
      {{"game", "{origin}", "--id", "keep", "--version", "1.2.0", "fetch", "none"}, 14, "item none: "},
      {{"audio", "{work}/src/index.html", "--key", "{work}/member.key"}, 9, "src/index.html: "},
      {{"audio", "{work}/member.key"}, 2, "--key is required"},
  };
  for (const ErrorCase& error : cases) {
    std::vector<std::string> arguments;
    for (std::string argument : error.arguments) {
      if (argument == "{origin}") argument = origin_;
      if (argument.starts_with("{work}")) argument = work_.string() + argument.substr(6);
      arguments.push_back(argument);
    }
    const test::ToolResult result = vkr(arguments);
    SCOPED_TRACE(testing::PrintToString(error.arguments));
    EXPECT_EQ(result.exit_code, error.exit_code) << result.err;
    EXPECT_NE(result.err.find(error.message), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
    // One line, no trace; usage itself is the exception.
    if (!arguments.empty()) {
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
  }
}

TEST_F(CliTest, PublisherRefusesBadInputAndWritesNothing) {
  writeText(work_ / "bad/no-entry/about.html", "x");
  writeText(work_ / "bad/short.key", std::string(31, 'k'));
  writeText(work_ / "bad/busy/file", "taken");
  writeText(work_ / "bad/empty.file", "");
  const std::string src = (work_ / "src").string();
  const std::string out = (work_ / "out/site").string();
  const std::vector<ErrorCase> cases = {
      {{"build", (work_ / "bad/no-entry").string(), out}, 1, "the entry page index.html is not in "},
      {{"build", src, out, "--entry", "style.css"}, 1, "the entry page style.css is text/css, not HTML"},
      {{"build", src, out, "--download", "index.html"}, 1, "index.html cannot be delivered as a --download"},
      {{"build", src, out, "--members", "members/**"}, 2, "need --member-key FILE or --new-member-key FILE"},
      {{"build", src, out, "--member-key-id", ""}, 2, "--member-key-id must be 1 to 64 bytes"},
      {{"build", src, out, "--icon", src + "/index.html"}, 1, "--icon " + src + "/index.html is not an ICO image"},
      {{"build", src, out, "--codec", "img/dot.png=png-lsb1", "--cover", src + "/style.css"}, 1, "is not a PNG"},
      {{"build", src, out, "--type", "*.css=Text/CSS"}, 2, "--type *.css=Text/CSS: a media type is lowercase"},
      {{"build", src, out, "--member-key", (work_ / "bad/short.key").string()}, 1, "must hold a 32-byte key"},
      {{"build", src, (work_ / "bad/busy").string()}, 1, "is not empty"},
      {{"build", src, (work_ / "bad/empty.file").string()}, 1, "exists and is not a folder"},
      {{"build", src, out, "--members", "nothing/**", "--member-key", key()}, 1, "'nothing/**' matches no file"},
      {{"build", src, out, "--codec", "big.bin=png-lsb2"}, 2, "unknown codec 'png-lsb2'"},
      {{"build", src, out, "--codec", "index.html=frame-luma1"}, 1, "index.html: "},  // over 21 bytes
      {{"build", src, out, "--codec", "*.txt=frame-luma1", "--codec", "credits.txt=wav-4fsk1"},
       1,
       "credits.txt matches two --codec patterns"},
      {{"build", src, out, "--type", "*.bin"}, 2, "--type takes PATTERN=VALUE"},
      {{"build", src, out, "--part-size", "0"}, 2, "--part-size must be a whole number from 1 to 4194304"},
      {{"build", src, out, "--footer-version", "3"}, 2, "--footer-version"},
      {{"build", src, out, "--external", "/assets/i.bin"}, 2, "--external needs"},
      {{"build", src, out, "--external", "/favicon.ico", "--write-key-file", (work_ / "out/k").string()},
       2,
       "--external /favicon.ico is not an origin path"},
      {{"build", src, out, "--members", "members/**", "--member-key", key(), "--new-member-key",
        (work_ / "member.key").string()},
       2,
       "exclude each other"},
      {{"build", src, out, "--part-size", "1", "--members", "members/**", "--member-key", key()},
       1,
       "Too many parts for big.bin"},
      {{"serve", src, "--host", "0.0.0.0"}, 2, "refusing to serve on 0.0.0.0"},
      // Loopback, but not an origin readers open over plain HTTP.
      {{"serve", src, "--host", "::1"}, 2, "readers open plain HTTP only at 127.0.0.1 or localhost"},
      {{"serve", src, "--host", "127.0.0.2"}, 2, "readers open plain HTTP only at 127.0.0.1 or localhost"},
      {{"serve", (work_ / "absent").string()}, 1, "is not a folder"},
      {{"audit"}, 2, "unknown command 'audit'"},
  };
  for (const ErrorCase& error : cases) {
    std::vector<std::string> arguments = error.arguments;
    arguments.insert(arguments.begin(), kPack);
    const test::ToolResult result = test::runTool(arguments);
    SCOPED_TRACE(testing::PrintToString(error.arguments));
    EXPECT_EQ(result.exit_code, error.exit_code) << result.err;
    EXPECT_NE(result.err.find(error.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(filesBelow(work_ / "out"), std::vector<std::string>{});
  }
  EXPECT_EQ(filesBelow(work_ / "bad/busy"), std::vector<std::string>{"file"});
  EXPECT_TRUE(fs::is_regular_file(work_ / "bad/empty.file"));
  EXPECT_EQ(readText(work_ / "member.key"), kMemberKeyHex + "\n");
}

TEST_F(CliTest, PublisherRefusesAFileOverOneGibibyteWithoutReadingIt) {
  writeText(work_ / "huge/index.html", "x");
  {
    std::ofstream sparse(work_ / "huge/huge.bin", std::ios::binary);
  }
  fs::resize_file(work_ / "huge/huge.bin", (std::uint64_t{1} << 30) + 1);
  const auto started = std::chrono::steady_clock::now();
  const test::ToolResult result =
      test::runTool({kPack, "build", (work_ / "huge").string(), (work_ / "out/site").string()});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("huge.bin is over 1 GiB"), std::string::npos) << result.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_FALSE(fs::exists(work_ / "out"));
  fs::remove_all(work_ / "huge");
}

TEST_F(CliTest, SeedMakesThePublishedTreeReproducible) {
  const auto publish = [](const std::string& name, const std::string& seed) {
    const test::ToolResult result = test::runTool(publishArguments("out/" + name, {"--seed", seed}));
    EXPECT_EQ(result.exit_code, 0) << result.err;
  };
  publish("a", "11");
  publish("b", "11");
  publish("c", "12");
  const std::vector<std::string> names = filesBelow(work_ / "out/a");
  ASSERT_EQ(names, filesBelow(work_ / "out/b"));
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    if (fs::is_regular_file(work_ / "out/a" / name)) {
      EXPECT_TRUE(readText(work_ / "out/a" / name) == readText(work_ / "out/b" / name)) << name;
    }
  }
  EXPECT_NE(readText(work_ / "out/a/favicon.ico"), readText(work_ / "out/c/favicon.ico"));
  // The suite's own origin was published with another seed from the same files.
  EXPECT_NE(readText(work_ / "out/a/favicon.ico"), readText(work_ / "origin/favicon.ico"));
}

TEST_F(CliTest, SeedGivesANewMemberKeyThatRepeatsAndOpensItsSite) {
  const auto publish = [](const std::string& name, const std::string& seed) {
    const test::ToolResult result =
        test::runTool({kPack, "build", (work_ / "src").string(), (work_ / "out" / name).string(), "--members",
                       "members/**", "--new-member-key", (work_ / "out" / (name + ".key")).string(), "--seed", seed});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("derived from --seed"), std::string::npos) << result.out;
  };
  publish("a", "11");
  publish("b", "11");
  publish("c", "12");
  const std::string key = readText(work_ / "out/a.key");
  EXPECT_EQ(key.size(), 65u);
  EXPECT_EQ(key, readText(work_ / "out/b.key"));
  EXPECT_NE(key, readText(work_ / "out/c.key"));
  EXPECT_TRUE(readText(work_ / "out/a/favicon.ico") == readText(work_ / "out/b/favicon.ico"));
  // The key written is the key the members files were sealed with.
  test::BackgroundTool server({kPack, "serve", (work_ / "out/a").string(), "--quiet"});
  const std::string origin = server.readLine(10s);
  const test::ToolResult read = vkr({"cat", origin, "members/secret.txt", "--key", (work_ / "out/a.key").string()});
  EXPECT_EQ(read.exit_code, 0) << read.err;
  EXPECT_EQ(read.out, files_.at("members/secret.txt"));
}

TEST_F(CliTest, ServeRefusesABusyPortAndEndsWith130OnCtrlC) {
  const std::string port = origin_.substr(origin_.rfind(':') + 1);
  test::BackgroundTool second({kPack, "serve", (work_ / "origin").string(), "--port", port, "--quiet"});
  EXPECT_EQ(second.wait(10s), 1);  // not a second server sharing the suite's port
  test::BackgroundTool server({kPack, "serve", (work_ / "origin").string(), "--port", "0", "--quiet"});
  ASSERT_TRUE(server.readLine(10s).starts_with("http://127.0.0.1:"));
  server.signal(SIGINT);
  EXPECT_EQ(server.wait(10s), 130);
}

TEST_F(CliTest, CtrlCCancelsADownloadAndLeavesNothing) {
  // An origin that sends half of every carrier, then waits.
  test::TestOrigin slow;
  slow.serveDirectory(work_ / "origin");
  test::TestOrigin::Behaviour stall;
  stall.stallMidBody = 60s;
  for (const auto& entry : fs::directory_iterator(work_ / "origin/assets")) {
    slow.setBehaviour("/assets/" + entry.path().filename().string(), stall);
  }
  fs::create_directories(work_ / "out");
  const fs::path target = work_ / "out/big.bin";
  test::BackgroundTool get({kVkr, "get", slow.origin(), "big.bin", "-o", target.string()});
  const auto carrierRequested = [&slow] {
    for (const auto& request : slow.requests()) {
      if (request.path.starts_with("/assets/")) return true;
    }
    return false;
  };
  ASSERT_TRUE(slow.waitForStalls(1));  // half a carrier is out, the rest held back
  ASSERT_TRUE(carrierRequested());
  // The library's file is there, growing, when the user gives up: a file
  // without a name that vkr holds open, or, on a file system without such
  // files, a temporary beside the destination.
  const std::vector<std::string> during = filesBelow(work_ / "out");
  if (during.empty()) {
    EXPECT_EQ(unnamedFilesHeldIn(work_ / "out", get.pid()), 1);
  } else {
    ASSERT_EQ(during.size(), 1u);
    EXPECT_TRUE(during[0].starts_with("big.bin.vkr-")) << during[0];
  }
  const auto interrupted = std::chrono::steady_clock::now();
  get.signal(SIGINT);
  EXPECT_EQ(get.wait(10s), 130);  // an exit of its own, not death by the signal
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 5s);
  EXPECT_EQ(filesBelow(work_ / "out"), std::vector<std::string>{});
}

TEST_F(CliTest, AudioMessageRecordsAndDecodes) {
  const std::string message = "The east door answers to ember.";
  const std::string wav = (work_ / "out/message.wav").string();
  const std::string audio_key = (work_ / "out/audio.key").string();
  fs::create_directories(work_ / "out");
  const test::ToolResult recorded =
      test::runTool({kPack, "audio", "--message", message, "--new-key", audio_key, "-o", wav});
  ASSERT_EQ(recorded.exit_code, 0) << recorded.err;
  EXPECT_EQ(readText(audio_key).size(), 65u);

  const test::ToolResult decoded = vkr({"audio", wav, "--key", audio_key});
  EXPECT_EQ(decoded.exit_code, 0) << decoded.err;
  EXPECT_EQ(decoded.out, message);
  const test::ToolResult saved = vkr({"audio", wav, "--key", audio_key, "-o", (work_ / "out/message.txt").string()});
  EXPECT_EQ(saved.exit_code, 0) << saved.err;
  EXPECT_EQ(readText(work_ / "out/message.txt"), message);
  EXPECT_EQ(vkr({"audio", wav, "--key", audio_key, "-o", (work_ / "out/message.txt").string()}).exit_code, 1);

  const test::ToolResult wrong_key = vkr({"audio", wav, "--key", key()});
  EXPECT_EQ(wrong_key.exit_code, 10);
  EXPECT_NE(wrong_key.err.find("Media key or authentication failed"), std::string::npos) << wrong_key.err;
  const test::ToolResult not_audio = vkr({"audio", (work_ / "src/index.html").string(), "--key", audio_key});
  EXPECT_EQ(not_audio.exit_code, 9) << not_audio.err;

  // The publisher refuses what cannot be recorded, and writes nothing.
  const std::vector<ErrorCase> refused = {
      {{"audio", "--message", std::string(4069, 'm'), "--key", key(), "-o", wav + "2"}, 1, "1 to 4068 bytes"},
      {{"audio", "--message", "m", "--key", key(), "--new-key", audio_key + "2", "-o", wav + "2"}, 2, "either"},
      {{"audio", "--message", "m", "--input", wav, "--key", key(), "-o", wav + "2"}, 2, "either"},
      {{"audio", "--message", "m", "--key", key(), "-o", wav}, 1, "already exists"},
      {{"audio", "--message", "m", "--key", key(), "-o", wav + "2", "--rate", "22050"}, 2, "--rate"},
  };
  for (const ErrorCase& error : refused) {
    std::vector<std::string> arguments = error.arguments;
    arguments.insert(arguments.begin(), kPack);
    const test::ToolResult result = test::runTool(arguments);
    EXPECT_EQ(result.exit_code, error.exit_code) << result.err;
    EXPECT_NE(result.err.find(error.message), std::string::npos) << result.err;
  }
  EXPECT_EQ(filesBelow(work_ / "out"), (std::vector<std::string>{"audio.key", "message.txt", "message.wav"}));
}

TEST_F(CliTest, EveryCommandHasHelp) {
  const std::vector<std::vector<std::string>> commands = {
      {kVkr, "--help"},       {kVkr, "info", "--help"},        {kVkr, "ls", "-h"},
      {kVkr, "cat", "--help"}, {kVkr, "get", "--help"},         {kVkr, "game", "--help"},
      {kVkr, "audio", "--help"}, {kPack, "--help"},             {kPack, "build", "--help"},
      {kPack, "serve", "--help"}, {kPack, "audio", "--help"},
  };
  for (const auto& command : commands) {
    const test::ToolResult result = test::runTool(command);
    SCOPED_TRACE(testing::PrintToString(command));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_TRUE(result.out.starts_with("usage: ")) << result.out;
    EXPECT_EQ(result.err, "");
  }  // "help COMMAND" is the command's own help; the tools' help names
  // --version and every exit code.
  for (const auto& [tool, command] : {std::pair{kVkr, "get"}, std::pair{kVkr, "verify"}, std::pair{kPack, "serve"}}) {
    const test::ToolResult help = test::runTool({tool, "help", command});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out, test::runTool({tool, command, "--help"}).out);
    EXPECT_TRUE(help.out.starts_with("usage: " + fs::path(tool).filename().string() + " " + command)) << help.out;
  }
  for (const std::string& tool : {kVkr, kPack}) {
    const std::string help = test::runTool({tool, "--help"}).out;
    for (const char* part : {"--version", "130", "143"}) EXPECT_NE(help.find(part), std::string::npos) << help;
  }
}

}  // namespace
}  // namespace vesmara
