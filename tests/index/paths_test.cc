#include "index/paths.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace vesmara
