#include "game/catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesmara {
namespace {

std::string item(const std::string& id, const std::string& extra = "") {
  return "{\"id\":\"" + id + "\",\"kind\":\"release\",\"path\":\"game/" + id + ".pak\"" + extra + "}";
}

std::string catalogueWith(const std::string& header_fields, const std::string& items) {
  return "{" + header_fields + "\"items\":[" + items + "]}";
}

const std::string kHeader =
    "\"schema\":1,\"gameId\":\"lantern\",\"revision\":3,\"minGameVersion\":\"1.0.0\",\"maxGameVersion\":\"2.0.0\",";

std::string parseMessage(const std::string& document) {
  Catalogue catalogue;
  Failure failure;
  const bool ok = parseCatalogue(document, catalogue, failure);
  EXPECT_EQ(ok, failure.message.empty());
  return failure.message;
}

std::string versions(const std::string& min, const std::string& max) {
  return "\"schema\":1,\"gameId\":\"lantern\",\"revision\":3,\"minGameVersion\":\"" + min + "\",\"maxGameVersion\":\"" +
         max + "\",";
}

std::string header(const std::string& replace, const std::string& with) {
  std::string h = kHeader;
  const std::size_t at = h.find(replace);
  return at == std::string::npos ? h : h.replace(at, replace.size(), with);
}

TEST(Catalogue, HeaderRules) {
  const struct {
    std::string header;
    const char* message;
  } cases[] = {
      {kHeader, ""},
      {header("\"schema\":1,", ""), "Invalid game catalogue header"},
      {header("\"schema\":1", "\"schema\":2"), "Invalid game catalogue header"},
      {header("\"schema\":1", "\"schema\":1.0"), "Invalid game catalogue header"},
      {header("\"lantern\"", "\"-lantern\""), "Invalid game catalogue header"},
      {header("\"lantern\"", "\"Lantern\""), "Invalid game catalogue header"},
      {header("\"lantern\"", "\"" + std::string(64, 'g') + "\""), ""},
      {header("\"lantern\"", "\"" + std::string(65, 'g') + "\""), "Invalid game catalogue header"},
      {header("\"revision\":3", "\"revision\":0"), "Invalid game catalogue header"},
      {header("\"revision\":3", "\"revision\":9007199254740991"), ""},
      {header("\"revision\":3", "\"revision\":9007199254740992"), "Invalid game catalogue header"},
      {header("\"revision\":3", "\"revision\":1.0"), "Invalid game catalogue header"},
      {header("\"revision\":3", "\"revision\":\"3\""), "Invalid game catalogue header"},
      {versions("1.10.0", "2.0.0"), ""},
      {versions("1.10.0", "1.9.99"), "Invalid game catalogue header"},  // compared numerically, not as text
      {versions("1.2.4", "1.2.3"), "Invalid game catalogue header"},
      {header("\"2.0.0\"", "\"1.0.0\""), ""},
      {header("\"1.0.0\"", "\"01.0.0\""), ""},
      {header("\"2.0.0\"", "\"2.0.0.\""), ""},
      {header("\"2.0.0\"", "\"2.0\""), "Invalid game catalogue header"},
      {header("\"2.0.0\"", "\"2.0.0.0\""), "Invalid game catalogue header"},
      {header("\"2.0.0\"", "\"2.0.0..\""), "Invalid game catalogue header"},
      {header("\"2.0.0\"", "\"2.000000.0\""), "Invalid game catalogue header"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseMessage(catalogueWith(c.header, item("a"))), c.message) << c.header;
  }
  EXPECT_EQ(parseMessage("[]"), "Invalid game catalogue header");
  EXPECT_EQ(parseMessage("{"), "Expected JSON string");
  EXPECT_EQ(parseMessage(""), "Incomplete JSON value");
}

TEST(Catalogue, VersionRule) {
  const struct {
    const char* text;
    bool ok;
    VersionTriple triple;
  } cases[] = {
      {"1.2.3", true, {1, 2, 3}},
      {"1.2.3.", true, {1, 2, 3}},
      {"00001.99999.0", true, {1, 99999, 0}},
      {"1.2.3.4", false, {}},
      {"1.2.3..", false, {}},
      {"1.2", false, {}},
      {"", false, {}},
      {".1.2.3", false, {}},
      {"1..2.3", false, {}},
      {"1.2.123456", false, {}},
      {"1.2.3a", false, {}},
      {"1.-2.3", false, {}},
  };
  for (const auto& c : cases) {
    const auto triple = parseGameVersion(c.text);
    ASSERT_EQ(triple.has_value(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(*triple, c.triple) << c.text;
    }
  }
}

TEST(Catalogue, ItemCountAndItemRules) {
  std::string many;
  for (int i = 0; i < 257; ++i) many += (i ? "," : "") + item("i" + std::to_string(i));
  const std::string first256 = many.substr(0, many.rfind(",{"));
  EXPECT_EQ(parseMessage(catalogueWith(kHeader, first256)), "");
  EXPECT_EQ(parseMessage(catalogueWith(kHeader, many)), "Invalid game catalogue item count");
  EXPECT_EQ(parseMessage(catalogueWith(kHeader, "")), "Invalid game catalogue item count");
  EXPECT_EQ(parseMessage("{" + kHeader + "\"items\":{}}"), "Invalid game catalogue item count");
  EXPECT_EQ(parseMessage("{" + kHeader.substr(0, kHeader.size() - 1) + "}"), "Invalid game catalogue item count");

  const auto withPath = [](const std::string& path) {
    return "{\"id\":\"a\",\"kind\":\"event\",\"path\":\"" + path + "\"}";
  };
  const struct {
    std::string items;
    const char* message;
  } cases[] = {
      {withPath("game/a"), ""},
      {withPath("game/Levels/L1.bin"), ""},
      {withPath("game/" + std::string(200, 'x')), ""},
      {withPath("game/" + std::string(201, 'x')), "Invalid or duplicate game item"},
      {withPath("game/"), "Invalid or duplicate game item"},
      {withPath("games/a"), "Invalid or duplicate game item"},
      {withPath("game/a/"), "Invalid or duplicate game item"},
      {withPath("game/./a"), "Invalid or duplicate game item"},
      {withPath("game/../a"), "Invalid or duplicate game item"},
      {withPath("game/a//b"), "Invalid or duplicate game item"},
      {withPath("game/a b"), "Invalid or duplicate game item"},
      {"{\"id\":\"a\",\"kind\":\"Release\",\"path\":\"game/a\"}", "Invalid or duplicate game item"},
      {"{\"id\":\"a\",\"path\":\"game/a\"}", "Invalid or duplicate game item"},
      {"{\"id\":\"_a\",\"kind\":\"quest\",\"path\":\"game/a\"}", "Invalid or duplicate game item"},
      {"7", "Invalid or duplicate game item"},
      {item("a") + "," + item("a"), "Invalid or duplicate game item"},
      {withPath("game/x") + ",{\"id\":\"b\",\"kind\":\"opaque\",\"path\":\"game/x\"}",
       "Invalid or duplicate game item"},
      {item("a", ",\"extra\":{\"ignored\":true}"), ""},
      // Every structural error is reported before any dependency error.
      {item("a", ",\"dependsOn\":[\"zz\"]") + ",7", "Invalid or duplicate game item"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseMessage(catalogueWith(kHeader, c.items)), c.message) << c.items;
  }
}

TEST(Catalogue, Dependencies) {
  std::string sixteen = "\"b\"";
  for (int i = 1; i < 16; ++i) sixteen += ",\"b\"";
  const struct {
    std::string items;
    std::string message;
  } cases[] = {
      {item("a", ",\"dependsOn\":[]"), ""},
      {item("a", ",\"dependsOn\":[" + sixteen + "]") + "," + item("b"), ""},
      {item("a", ",\"dependsOn\":[" + sixteen + ",\"b\"]") + "," + item("b"), "Invalid game item dependencies"},
      {item("a", ",\"dependsOn\":\"b\""), "Invalid game item dependencies"},
      {item("a", ",\"dependsOn\":[7]"), "Invalid game dependency ID"},
      {item("a", ",\"dependsOn\":[\"B\"]"), "Invalid game dependency ID"},
      {item("a", ",\"dependsOn\":[\"x\"]"), "Missing game dependency: x"},
      {item("a", ",\"dependsOn\":[\"a\"]"), "Game dependency cycle: a"},
      {item("a", ",\"dependsOn\":[\"b\"]") + "," + item("b", ",\"dependsOn\":[\"a\"]"), "Game dependency cycle: a"},
      {item("b", ",\"dependsOn\":[\"c\"]") + "," + item("a", ",\"dependsOn\":[\"b\"]") + "," +
           item("c", ",\"dependsOn\":[\"a\"]"),
       "Game dependency cycle: b"},
      {item("a", ",\"dependsOn\":[\"b\",\"c\"]") + "," + item("b", ",\"dependsOn\":[\"c\"]") + "," + item("c"), ""},
      {item("a", ",\"dependsOn\":[\"b\",\"y\"]") + "," + item("b", ",\"dependsOn\":[\"x\"]"),
       "Missing game dependency: x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseMessage(catalogueWith(kHeader, c.items)), c.message) << c.items;
  }
}

TEST(Catalogue, SizeLimitIsTheReaders) {
  std::string document = catalogueWith(kHeader, item("a"));
  document.insert(document.size() - 1, std::string(65536 - document.size(), ' '));
  ASSERT_EQ(document.size(), 65536u);
  EXPECT_EQ(parseMessage(document), "");
  document.insert(document.size() - 1, " ");
  EXPECT_EQ(parseMessage(document), "JSON size limit exceeded");
}

TEST(Catalogue, KeepsItemsInDocumentOrderAndFailureLeavesOutputAlone) {
  Catalogue catalogue;
  Failure failure;
  ASSERT_TRUE(parseCatalogue(catalogueWith(kHeader, item("z") + "," + item("b", ",\"dependsOn\":[\"z\",\"z\"]")),
                             catalogue, failure));
  ASSERT_EQ(catalogue.items.size(), 2u);
  EXPECT_EQ(catalogue.items[0].id, "z");
  EXPECT_EQ(catalogue.items[1].path, "game/b.pak");
  EXPECT_EQ(catalogue.items[1].depends_on, (std::vector<std::string>{"z", "z"}));
  EXPECT_EQ(catalogue.revision, 3u);
  EXPECT_EQ(catalogue.min_game_version, "1.0.0");

  EXPECT_FALSE(parseCatalogue("{}", catalogue, failure));
  EXPECT_EQ(catalogue.items.size(), 2u);
}

TEST(Catalogue, Compatibility) {
  Catalogue catalogue;
  Failure failure;
  ASSERT_TRUE(parseCatalogue(catalogueWith(versions("1.4.0", "1.9.99"), item("a")), catalogue, failure))
      << failure.message;
  const struct {
    const char* id;
    const char* version;
    bool ok;
  } cases[] = {
      {"lantern", "1.4.0", true},   {"lantern", "1.9.99", true}, {"lantern", "1.10.0", false},
      {"lantern", "1.3.99", false}, {"lantern", "1.5.0.", true}, {"lantern", "1.5", false},
      {"lanterns", "1.5.0", false}, {"lanter", "1.5.0", false},  {"Lantern", "1.5.0", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isCatalogueCompatible(catalogue, c.id, c.version), c.ok) << c.id << " " << c.version;
  }
}

}  // namespace
}  // namespace vesmara
