// The pieces of the tools that decide something on their own: file
// patterns, key files, command lines, the local origin server's HTTP, names
// in messages and what an interrupted build left behind.
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/key_file.h"
#include "pack/glob.h"
#include "pack/names.h"
#include "pack/origin_server.h"
#include "pack/staged_origin.h"
#include "support/temp_dir.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;

TEST(GlobTest, MatchesSegmentsAndNames) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"*.png", "logo.png", true},
      {"*.png", "img/deep/logo.png", true},  // no '/': the name alone
      {"*.png", "img/logo.png.txt", false},
      {"img/*.png", "img/logo.png", true},
      {"img/*.png", "img/a/logo.png", false},  // '*' stays in its segment
      {"img/**", "img/a/b/c.png", true},
      {"img/**", "image/a.png", false},
      {"**/*.png", "a.png", true},  // "**/" may stand for no folder
      {"**/*.png", "a/b/c.png", true},
      {"members/**/notes.txt", "members/notes.txt", true},
      {"members/**/notes.txt", "members/x/y/notes.txt", true},
      {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},
      {"a/?/b", "a///b", false},  // '?' is never '/'
      {"index.html", "index.html", true},
      {"index.html", "sub/index.html", true},
      {"sub/index.html", "index.html", false},
      {"", "a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pack::matchesGlob(c.pattern, c.path), c.matches) << c.pattern << " ~ " << c.path;
  }
  // Many stars against a long near-miss finish at once.
  const std::string path(500, 'a');
  EXPECT_FALSE(pack::matchesGlob("**a*a*a*a*a*a*a*a*a*a*a*a*a*b", path));
}

TEST(RangeTest, AnswersEveryFormOfRange) {
  struct Case {
    const char* range;
    std::uint64_t size;
    int status;
    std::uint64_t first;
    std::uint64_t length;
  };
  const Case cases[] = {
      {"", 100, 200, 0, 100},
      {"bytes=0-9", 100, 206, 0, 10},
      {"bytes=90-", 100, 206, 90, 10},
      {"bytes=90-1000", 100, 206, 90, 10},  // the last byte is capped at the end
      {"bytes=-10", 100, 206, 90, 10},
      {"bytes=-1000", 100, 206, 0, 100},
      {"bytes=100-", 100, 416, 0, 0},
      {"bytes=-0", 100, 416, 0, 0},
      {"bytes=0-0", 0, 416, 0, 0},
      {"bytes=5-2", 100, 200, 0, 100},  // invalid: ignored
      {"bytes=0-1,5-6", 100, 200, 0, 100},
      {"items=0-5", 100, 200, 0, 100},
      {"bytes=x-5", 100, 200, 0, 100},
      {"bytes=99999999999999999999-", 100, 200, 0, 100},
  };
  for (const Case& c : cases) {
    const pack::RangeAnswer answer = pack::answerRange(c.range, c.size);
    EXPECT_EQ(answer.status, c.status) << c.range;
    EXPECT_EQ(answer.first, c.first) << c.range;
    EXPECT_EQ(answer.length, c.length) << c.range;
  }
}

TEST(KeyFileTest, AcceptsHexOrRawKeysOnly) {
  const auto parse = [](const std::string& text, tools::Key& key) {
    return tools::parseKeyFile(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), key);
  };
  const std::string hex = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
  const std::vector<std::pair<std::string, bool>> cases = {
      {hex, true},
      {hex + "\n", true},
      {hex + "\r\n", true},
      {std::string(32, '\xff'), true},
      {hex + "\n\n", false},
      {hex.substr(2), false},
      {"00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff", false},
      {hex.substr(0, 63) + "g", false},
      {std::string(33, 'k'), false},
      {"", false},
  };
  for (const auto& [text, accepted] : cases) {
    tools::Key key;
    EXPECT_EQ(parse(text, key), accepted) << testing::PrintToString(text);
  }
  tools::Key key;
  ASSERT_TRUE(parse(hex + "\n", key));
  EXPECT_EQ(key.bytes()[1], 0x11);
  EXPECT_EQ(tools::formatKeyFile(key), hex + "\n");
}

// A build killed while it moved its tree into place left some entries moved
// and the rest in its staging: the next build takes both back, so the
// folder is as the killed build found it. A build still running is left
// alone.
TEST(StagedOriginTest, RecoveryUndoesAnInterruptedMoveAndSparesALiveBuild) {
  const test::TempDir temp("vkr-staged");
  const fs::path out = temp.path() / "site";
  fs::create_directories(out / ".vkr-staging");
  fs::create_directories(out / "assets");
  std::ofstream(out / "assets/blob-00.bin") << "moved";
  std::ofstream(out / ".vkr-staging/favicon.ico") << "not yet";
  std::ofstream(out / ".vkr-staging.lock") << "assets\nfavicon.ico\n";
  EXPECT_TRUE(pack::recoverInterruptedBuild(out));
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_FALSE(pack::recoverInterruptedBuild(out));

  std::ofstream(out / ".vkr-staging.lock") << "";
  const int lock = ::open((out / ".vkr-staging.lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  EXPECT_THROW(pack::recoverInterruptedBuild(out), tools::CommandError);
  EXPECT_TRUE(fs::exists(out / ".vkr-staging.lock"));
  ::close(lock);
}

TEST(NamesTest, PrintableNamesStayOnOneLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain/name.txt", "plain/name.txt"},
      {"caf\u00e9.txt", "caf\u00e9.txt"},    // well-formed UTF-8 as it is
      {"caf\xe9.txt", "caf\\xe9.txt"},       // a Latin-1 byte
      {"a\nb\tc\\d", "a\\nb\\tc\\\\d"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},      // a terminal's escape
      {"\xc2\x85next", "\\xc2\\x85next"},    // C1 control: NEL
      {"\xe2\x82", "\\xe2\\x82"},            // cut short
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},   // a surrogate
  };
  for (const auto& [name, shown] : cases) EXPECT_EQ(pack::printableName(name), shown) << shown;
}

TEST(ArgumentsTest, ParsesOptionsInAnyForm) {
  static constexpr tools::OptionRule kRules[] = {
      {.name = "output", .short_name = 'o', .takes_value = true},
      {.name = "members", .takes_value = true, .repeatable = true},
      {.name = "quiet"},
  };
  std::vector<std::string> words = {"a", "--output=x", "--members", "m/**", "b", "--members=n", "--quiet", "--", "--c"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  const tools::ParsedArguments parsed = tools::parseArguments(argv, kRules);
  EXPECT_EQ(parsed.positionals(), (std::vector<std::string>{"a", "b", "--c"}));
  EXPECT_EQ(parsed.value("output"), "x");
  EXPECT_EQ(parsed.values("members"), (std::vector<std::string>{"m/**", "n"}));
  EXPECT_TRUE(parsed.has("quiet"));

  const std::vector<std::vector<std::string>> refused = {
      {"-o", "x", "--output", "y"}, {"--quiet=yes"}, {"--members"}, {"-x"}, {"--outputs", "x"}};
  for (std::vector<std::string> bad : refused) {
    std::vector<char*> bad_argv;
    for (std::string& word : bad) bad_argv.push_back(word.data());
    EXPECT_THROW(tools::parseArguments(bad_argv, kRules), tools::UsageError) << testing::PrintToString(bad);
  }
  EXPECT_THROW(tools::parseNumberOption("port", "-1", 1, 10), tools::UsageError);
  EXPECT_THROW(tools::parseNumberOption("port", "11", 1, 10), tools::UsageError);
  EXPECT_THROW(tools::parseNumberOption("port", "1x", 1, 10), tools::UsageError);
  EXPECT_EQ(tools::parseNumberOption("port", "10", 1, 10), 10u);
}

TEST(LoopbackTest, OnlyLoopbackAddressesAreServed) {
  for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) EXPECT_TRUE(pack::isLoopbackHost(host)) << host;
  for (const char* host : {"0.0.0.0", "10.0.0.1", "::", "128.0.0.1", "example.com", "::ffff:127.0.0.1", ""}) {
    EXPECT_FALSE(pack::isLoopbackHost(host)) << host;
  }
}

struct HttpAnswer {
  long status = 0;
  std::string body;
  std::string headers;
  bool has(const std::string& line) const { return headers.find(line + "\r\n") != std::string::npos; }
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

HttpAnswer request(const std::string& url, const std::vector<std::string>& headers, const char* method = "GET") {
  CURL* curl = curl_easy_init();
  curl_slist* list = nullptr;
  for (const std::string& header : headers) list = curl_slist_append(list, header.c_str());
  HttpAnswer answer;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  if (std::string(method) == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.headers);
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_slist_free_all(list);
  curl_easy_cleanup(curl);
  return answer;
}

class OriginServerTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "tree/assets");
    std::ofstream(root_ / "tree/assets/blob.bin", std::ios::binary) << "0123456789";
    std::ofstream(root_ / "secret.txt") << "outside";
    fs::create_symlink(root_ / "secret.txt", root_ / "tree/assets/link.txt");
    server_ = std::make_unique<pack::OriginServer>(root_ / "tree", "127.0.0.1", 0, nullptr);
    server_->start();
    base_ = server_->origin();
  }
  void TearDown() override { server_.reset(); }

  const test::TempDir temp_{"vkr-serve"};
  const fs::path root_ = temp_.path();
  std::unique_ptr<pack::OriginServer> server_;
  std::string base_;
};

TEST_F(OriginServerTest, AnswersRangesWithContentRangeAndTags) {
  const HttpAnswer whole = request(base_ + "/assets/blob.bin", {});
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, "0123456789");
  const std::size_t at = whole.headers.find("ETag: \"");
  ASSERT_NE(at, std::string::npos) << whole.headers;
  const std::string etag = whole.headers.substr(at + 6, whole.headers.find("\r\n", at) - at - 6);

  const HttpAnswer slice = request(base_ + "/assets/blob.bin", {"Range: bytes=2-4"});
  EXPECT_EQ(slice.status, 206);
  EXPECT_EQ(slice.body, "234");
  EXPECT_TRUE(slice.has("Content-Range: bytes 2-4/10")) << slice.headers;
  EXPECT_TRUE(slice.has("ETag: " + etag));

  const HttpAnswer suffix = request(base_ + "/assets/blob.bin", {"Range: bytes=-3"});
  EXPECT_EQ(suffix.status, 206);
  EXPECT_EQ(suffix.body, "789");
  EXPECT_TRUE(suffix.has("Content-Range: bytes 7-9/10")) << suffix.headers;

  const HttpAnswer beyond = request(base_ + "/assets/blob.bin", {"Range: bytes=10-"});
  EXPECT_EQ(beyond.status, 416);
  EXPECT_TRUE(beyond.has("Content-Range: bytes */10")) << beyond.headers;

  EXPECT_EQ(request(base_ + "/assets/blob.bin", {"If-None-Match: " + etag}).status, 304);
  EXPECT_EQ(request(base_ + "/assets/blob.bin", {"If-None-Match: W/" + etag}).status, 304);
  EXPECT_EQ(request(base_ + "/assets/blob.bin", {"If-None-Match: \"other\""}).status, 200);
  // A range asked against another version of the file gets the whole file.
  const HttpAnswer stale = request(base_ + "/assets/blob.bin", {"Range: bytes=2-4", "If-Range: \"old\""});
  EXPECT_EQ(stale.status, 200);
  EXPECT_EQ(stale.body, "0123456789");
  EXPECT_EQ(request(base_ + "/assets/blob.bin", {"Range: bytes=2-4", "If-Range: " + etag}).status, 206);

  const HttpAnswer head = request(base_ + "/assets/blob.bin", {}, "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_TRUE(head.has("Content-Length: 10")) << head.headers;
  EXPECT_EQ(head.body, "");
}

TEST_F(OriginServerTest, ServesOnlyFilesInsideTheTree) {
  for (const char* path : {"/", "/assets", "/assets/", "/../secret.txt", "/assets/../../secret.txt",
                           "/assets/link.txt", "/assets//blob.bin", "/assets/./blob.bin", "/absent"}) {
    EXPECT_EQ(request(base_ + path, {}).status, 404) << path;
  }
  const HttpAnswer post = request(base_ + "/assets/blob.bin", {}, "DELETE");
  EXPECT_EQ(post.status, 405);
  EXPECT_TRUE(post.has("Allow: GET, HEAD")) << post.headers;
}

}  // namespace
}  // namespace vesmara
