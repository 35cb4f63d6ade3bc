#include <gtest/gtest.h>

#include <string>

#include "hosts/http_path.h"

namespace vesmara {
namespace {

TEST(PathSegment, Table) {
  const struct {
    std::string segment;
    bool ok;
  } cases[] = {
      {"a", true},
      {"Az09-._", true},
      {"...", true},  // only "." and ".." are reserved
      {".hidden", true},
      {"a..b", true},
      {"", false},
      {".", false},
      {"..", false},
      {"a/b", false},
      {"a b", false},
      {"a%20", false},
      {"a?b", false},
      {"a#b", false},
      {"a\\b", false},
      {"~user", false},
      {"a+b", false},
      {"caf\xC3\xA9", false},
      {std::string("a\0b", 3), false},
      {"a\tb", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isPathSegment(c.segment), c.ok) << testing::PrintToString(c.segment);
  }
}

TEST(PathShape, Table) {
  const struct {
    std::string path;
    bool ok;
  } cases[] = {
      {"/a", true},
      {"/favicon.ico", true},
      {"/a/b/c.d", true},
      {"/A-Z_a-z.0-9/x", true},
      {"", false},
      {"/", false},
      {"a", false},
      {"a/b", false},
      {"//a", false},
      {"/a//b", false},
      {"/a/", false},
      {"/./a", false},
      {"/a/..", false},
      {"/a/../b", false},
      {"/a%2Fb", false},
      {"/a?x=1", false},
      {"/a#frag", false},
      {"/a b", false},
      {"/\x80", false},
      {"/a\\b", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hasPathShape(c.path), c.ok) << testing::PrintToString(c.path);
  }
  // The shape has no length limit of its own.
  EXPECT_TRUE(hasPathShape("/" + std::string(1000, 'x')));
}

TEST(HttpPath, LengthLimits) {
  EXPECT_FALSE(isHttpPath("/"));
  EXPECT_TRUE(isHttpPath("/a"));
  const std::string longest = "/" + std::string(255, 'a') + "/" + std::string(255, 'b');
  ASSERT_EQ(longest.size(), 512u);
  EXPECT_TRUE(isHttpPath(longest));
  EXPECT_FALSE(isHttpPath(longest + "c"));
  EXPECT_FALSE(isHttpPath("/a/"));
  EXPECT_FALSE(isHttpPath("/a//b"));
}

}  // namespace
}  // namespace vesmara
