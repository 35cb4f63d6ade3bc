#include <gtest/gtest.h>

#include <string>

#include "index/paths.h"
#include "index/site_index.h"

namespace vesmara {
namespace {

const std::string kRoot(kSiteNamespaceRoot);

TEST(Paths, RootIsASingleValidSegment) {
  EXPECT_TRUE(kSiteNamespaceRoot.starts_with("/"));
  EXPECT_TRUE(kSiteNamespaceRoot.ends_with("/"));
  EXPECT_EQ(kSiteNamespaceRoot.find('/', 1), kSiteNamespaceRoot.size() - 1);
  EXPECT_EQ(launchPath(), kRoot + "boot.html");
}

TEST(Paths, Classes) {
  const struct {
    std::string path;
    bool app;
    bool carrier;
    bool external;
  } cases[] = {
      {kRoot + "app/index.html", true, false, false},
      {kRoot + "app/a/b-c_d.e/F9", true, false, false},
      {kRoot + "app/", false, false, false},
      {kRoot + "app", false, false, false},
      {kRoot + "app//x", false, false, false},
      {kRoot + "app/./x", false, false, false},
      {kRoot + "app/../x", false, false, false},
      {kRoot + "App/x", false, false, false},
      {kRoot + "app/a%20b", false, false, false},
      {kRoot + "img/a.png", false, false, false},
      {"/favicon.ico", false, false, false},
      {"/favicon.ico2", false, true, true},
      {"/img/favicon.ico", false, true, true},
      {"/c/part.bin", false, true, true},
      {"/c/part bin", false, false, false},
      {"/c/~x", false, false, false},
      {"/c/\xC3\xA9", false, false, false},
      {"/c/", false, false, false},
      {"/", false, false, false},
      {"", false, false, false},
      {"c/x", false, false, false},
      {"/" + std::string(511, 'x'), false, true, true},
      {"/" + std::string(512, 'x'), false, false, true},
      {"/" + std::string(599, 'x'), false, false, true},
      {kRoot + "app/" + std::string(512 - kRoot.size() - 4, 'x'), true, false, false},
      {kRoot + "app/" + std::string(513 - kRoot.size() - 4, 'x'), false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isAppPath(c.path), c.app) << c.path;
    EXPECT_EQ(isCarrierPath(c.path), c.carrier) << c.path;
    EXPECT_EQ(isExternalCarrierPath(c.path), c.external) << c.path;
  }
}

TEST(Paths, FindResourceIsAnExactByteLookup) {
  SiteIndex index;
  for (const char* tail : {"app/A", "app/a", "app/a.css", "app/ab", "app/b/c", "app/\x7f"}) {
    Resource resource;
    resource.path = kRoot + tail;
    index.resources.push_back(resource);
  }
  for (const Resource& resource : index.resources) EXPECT_EQ(findResource(index, resource.path), &resource);
  EXPECT_EQ(findResource(index, kRoot + "app/B"), nullptr);
  EXPECT_EQ(findResource(index, kRoot + "app/a."), nullptr);
  EXPECT_EQ(findResource(index, kRoot + "app/b"), nullptr);
  EXPECT_EQ(findResource(index, ""), nullptr);
  EXPECT_EQ(findResource(SiteIndex{}, kRoot + "app/a"), nullptr);
}

TEST(ContentRange, ParseAndExactCheck) {
  const struct {
    const char* value;
    bool ok;
    ContentRange range;
  } cases[] = {
      {"bytes 0-127/128", true, {0, 127, 128}},
      {"bytes 0-0/1", true, {0, 0, 1}},
      {"bytes 007-010/0100", true, {7, 10, 100}},
      {"bytes 5-4/10", false, {}},
      {"bytes 0-9/9", false, {}},
      {"bytes 0-9/10 ", false, {}},
      {"bytes */10", false, {}},
      {"bytes 0-9/*", false, {}},
      {"Bytes 0-9/10", false, {}},
      {"bytes  0-9/10", false, {}},
      {"bytes ", false, {}},
      {"bytes 0/9-10", false, {}},
      {"bytes 0-18446744073709551615/18446744073709551615", false, {}},
      {"bytes 0-18446744073709551614/18446744073709551615", true, {0, 18446744073709551614ULL, 18446744073709551615ULL}},
      {"bytes 0-1/99999999999999999999", false, {}},
  };
  for (const auto& c : cases) {
    const auto range = parseContentRange(c.value);
    ASSERT_EQ(range.has_value(), c.ok) << c.value;
    if (c.ok) {
      EXPECT_EQ(range->first, c.range.first) << c.value;
      EXPECT_EQ(range->last, c.range.last) << c.value;
      EXPECT_EQ(range->total, c.range.total) << c.value;
    }
  }
  EXPECT_TRUE(isExactContentRange("bytes 10-19/20", 10, 19));
  EXPECT_TRUE(isExactContentRange("bytes 010-019/1000", 10, 19));
  EXPECT_FALSE(isExactContentRange("bytes 10-18/20", 10, 19));
  EXPECT_FALSE(isExactContentRange("bytes 11-19/20", 10, 19));
  EXPECT_FALSE(isExactContentRange("bytes */20", 10, 19));
}

}  // namespace
}  // namespace vesmara
