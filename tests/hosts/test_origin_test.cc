// The loopback test origin itself, checked with an independent client
// (cpp-httplib's), so that the transport tests rest on a known server.
#include "support/test_origin.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace vesmara::test {
namespace {

class TestOriginTest : public ::testing::Test {
 protected:
  TestOriginTest() { client_.set_decompress(false); }  // the test "gzip" bodies are not gzip

  httplib::Result get(const std::string& path, const std::string& range = "") {
    httplib::Headers headers;
    if (!range.empty()) headers.emplace("Range", range);
    return client_.Get(path, headers);
  }

  TestOrigin origin_;
  httplib::Client client_{"127.0.0.1", origin_.port()};
};

TEST_F(TestOriginTest, RangesSuffixesAndWholeFiles) {
  origin_.addFile("/f", "0123456789");
  auto whole = get("/f");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->body, "0123456789");
  EXPECT_EQ(whole->get_header_value("ETag"), origin_.etagOf("/f").value());
  EXPECT_FALSE(whole->has_header("Content-Range"));

  auto part = get("/f", "bytes=2-4");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->status, 206);
  EXPECT_EQ(part->body, "234");
  EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 2-4/10");

  auto clipped = get("/f", "bytes=8-100");
  EXPECT_EQ(clipped->body, "89");
  EXPECT_EQ(clipped->get_header_value("Content-Range"), "bytes 8-9/10");

  auto tail = get("/f", "bytes=-3");
  EXPECT_EQ(tail->status, 206);
  EXPECT_EQ(tail->body, "789");
  EXPECT_EQ(tail->get_header_value("Content-Range"), "bytes 7-9/10");

  auto beyond = get("/f", "bytes=10-12");
  EXPECT_EQ(beyond->status, 416);
  EXPECT_EQ(beyond->get_header_value("Content-Range"), "bytes */10");
  EXPECT_EQ(get("/f", "bytes=-0")->status, 416);

  EXPECT_EQ(get("/nothing")->status, 404);
  const auto log = origin_.requests();
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[1].range, "bytes=2-4");
  EXPECT_EQ(log[1].header("range"), "bytes=2-4");
  EXPECT_EQ(log[0].range, "");
  EXPECT_FALSE(log[0].hasHeader("REMOTE_ADDR"));
  origin_.clearLog();
  EXPECT_EQ(origin_.requestCount(), 0u);
}

TEST_F(TestOriginTest, EtagsFollowTheBytes) {
  origin_.addFile("/a", "same");
  origin_.addFile("/b", "same");
  origin_.addFile("/c", "other");
  EXPECT_EQ(origin_.etagOf("/a"), origin_.etagOf("/b"));
  EXPECT_NE(origin_.etagOf("/a"), origin_.etagOf("/c"));
  EXPECT_EQ(origin_.etagOf("/a")->front(), '"');
  EXPECT_FALSE(origin_.etagOf("/missing").has_value());
  origin_.removeFile("/a");
  EXPECT_EQ(get("/a")->status, 404);
}

TEST_F(TestOriginTest, Misbehaviours) {
  origin_.addFile("/f", "0123456789");
  TestOrigin::Behaviour b;
  b.ignoreRanges = true;
  origin_.setBehaviour("/f", b);
  auto r = get("/f", "bytes=2-4");
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "0123456789");

  b = {};
  b.wrongContentRange = true;
  origin_.setBehaviour("/f", b);
  EXPECT_EQ(get("/f", "bytes=2-4")->get_header_value("Content-Range"), "bytes 3-5/10");
  b = {};
  b.starContentRange = true;
  origin_.setBehaviour("/f", b);
  EXPECT_EQ(get("/f", "bytes=2-4")->get_header_value("Content-Range"), "bytes */10");

  b = {};
  b.changeEtag = true;
  origin_.setBehaviour("/f", b);
  EXPECT_NE(get("/f")->get_header_value("ETag"), get("/f")->get_header_value("ETag"));

  TestOrigin::Behaviour global;
  global.content_encoding = "gzip";
  global.extraBodyBytes = 3;
  origin_.setGlobalBehaviour(global);
  r = get("/f", "bytes=0-1");  // the path's own setting (changeEtag) wins
  EXPECT_FALSE(r->has_header("Content-Encoding"));
  EXPECT_EQ(r->body, "01");
  origin_.clearBehaviours();
  origin_.setGlobalBehaviour(global);
  r = get("/f", "bytes=0-1");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get_header_value("Content-Encoding"), "gzip");
  EXPECT_EQ(r->body, "01###");

  origin_.clearBehaviours();
  b = {};
  b.redirectTo = "/elsewhere";
  origin_.setBehaviour("/f", b);
  r = get("/f");
  EXPECT_EQ(r->status, 302);
  EXPECT_EQ(r->get_header_value("Location"), "/elsewhere");

  b = {};
  b.closeMidBody = true;
  origin_.setBehaviour("/f", b);
  EXPECT_FALSE(get("/f"));
}

TEST_F(TestOriginTest, StallsEndWhenTheOriginStops) {
  const auto start = std::chrono::steady_clock::now();
  {
    TestOrigin stalling;
    stalling.addFile("/f", "0123456789");
    TestOrigin::Behaviour b;
    b.stallMidBody = std::chrono::milliseconds(60000);
    stalling.setGlobalBehaviour(b);
    httplib::Client client("127.0.0.1", stalling.port());
    client.set_read_timeout(std::chrono::milliseconds(200));
    EXPECT_FALSE(client.Get("/f"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5000));
}

TEST_F(TestOriginTest, ServesADirectoryTree) {
  const TempDir temp("vkr-origin");
  const std::filesystem::path& root = temp.path();
  std::filesystem::create_directories(root / "sub");
  std::ofstream(root / "sub" / "x.txt", std::ios::binary) << "hello";
  origin_.serveDirectory(root, "/site/");
  auto r = get("/site/sub/x.txt", "bytes=1-2");
  EXPECT_EQ(r->status, 206);
  EXPECT_EQ(r->body, "el");
  EXPECT_EQ(get("/site/sub/../sub/x.txt")->status, 404);
  EXPECT_EQ(get("/site/sub")->status, 404);
  EXPECT_EQ(origin_.etagOf("/site/sub/x.txt").has_value(), true);
}

}  // namespace
}  // namespace vesmara::test
