#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vkr_preview.h"

namespace {

const std::string kCatalogue =
    "{\"schema\":1,\"gameId\":\"g\",\"revision\":12,\"minGameVersion\":\"1.0.0\",\"maxGameVersion\":\"1.0.0\","
    "\"items\":[{\"id\":\"first\",\"kind\":\"release\",\"path\":\"game/first.bin\"},"
    "{\"id\":\"second\",\"kind\":\"media\",\"path\":\"game/m/second.ogg\",\"dependsOn\":[\"first\"]}]}";

const std::uint8_t* bytes(const std::string& text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

class CatalogueExports : public testing::Test {
 protected:
  void SetUp() override {
    char message[64] = "stale";
    ASSERT_EQ(vkr_preview_catalogue_parse(bytes(kCatalogue), kCatalogue.size(), &catalogue_, message, sizeof message),
              VKR_PREVIEW_OK);
    EXPECT_STREQ(message, "");
  }
  void TearDown() override { vkr_preview_catalogue_release(catalogue_); }
  vkr_preview_catalogue* catalogue_ = nullptr;
};

TEST_F(CatalogueExports, QueriesAnswerFromTheParsedDocument) {
  std::uint64_t value = 99;
  EXPECT_EQ(vkr_preview_catalogue_item_count(catalogue_, &value), VKR_PREVIEW_OK);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(vkr_preview_catalogue_revision(catalogue_, &value), VKR_PREVIEW_OK);
  EXPECT_EQ(value, 12u);

  const struct {
    std::uint64_t index;
    std::uint32_t field;
    const char* text;
  } fields[] = {{0, 1, "first"}, {0, 2, "release"}, {0, 3, "game/first.bin"},
                {1, 1, "second"}, {1, 2, "media"},  {1, 3, "game/m/second.ogg"}};
  for (const auto& f : fields) {
    char buffer[32];
    std::uint64_t length = 0;
    EXPECT_EQ(vkr_preview_catalogue_item_string(catalogue_, f.index, f.field, buffer, sizeof buffer, &length),
              VKR_PREVIEW_OK);
    EXPECT_STREQ(buffer, f.text);
    EXPECT_EQ(length, std::strlen(f.text));
  }
}

TEST_F(CatalogueExports, ItemStringChecksAndGetterProtocol) {
  char buffer[32];
  std::uint64_t length = 99;
  EXPECT_EQ(vkr_preview_catalogue_item_string(catalogue_, 0, 1, buffer, 5, &length), VKR_PREVIEW_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(vkr_preview_catalogue_item_string(catalogue_, 0, 1, buffer, 6, &length), VKR_PREVIEW_OK);
  EXPECT_EQ(vkr_preview_catalogue_item_string(catalogue_, 0, 3, nullptr, 0, &length), VKR_PREVIEW_OK);
  EXPECT_EQ(length, 14u);

  const struct {
    vkr_preview_catalogue* catalogue;
    std::uint64_t index;
    std::uint32_t field;
    char* buffer;
    std::uint64_t capacity;
    std::uint64_t* out_length;
  } invalid[] = {
      {catalogue_, 0, 1, buffer, 32, nullptr}, {nullptr, 0, 1, buffer, 32, &length},
      {catalogue_, 2, 1, buffer, 32, &length}, {catalogue_, 0, 1, nullptr, 32, &length},
      {catalogue_, 0, 0, buffer, 32, &length}, {catalogue_, 0, 4, buffer, 32, &length},
  };
  for (const auto& c : invalid) {
    length = 99;
    EXPECT_EQ(vkr_preview_catalogue_item_string(c.catalogue, c.index, c.field, c.buffer, c.capacity, c.out_length),
              VKR_PREVIEW_INVALID_ARGUMENT);
    if (c.out_length != nullptr) {
      EXPECT_EQ(length, 0u);
    }
  }
  std::uint64_t count = 99;
  EXPECT_EQ(vkr_preview_catalogue_item_count(nullptr, &count), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(vkr_preview_catalogue_item_count(catalogue_, nullptr), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_catalogue_revision(nullptr, &count), VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_catalogue_revision(catalogue_, nullptr), VKR_PREVIEW_INVALID_ARGUMENT);
}

TEST(CatalogueParse, ArgumentChecksAndFailures) {
  vkr_preview_catalogue* catalogue = reinterpret_cast<vkr_preview_catalogue*>(0x1);
  char message[64];
  std::strcpy(message, "stale");
  EXPECT_EQ(vkr_preview_catalogue_parse(nullptr, 0, &catalogue, message, sizeof message),
            VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(catalogue, nullptr);
  EXPECT_STREQ(message, "");
  EXPECT_EQ(vkr_preview_catalogue_parse(bytes(kCatalogue), kCatalogue.size(), nullptr, message, sizeof message),
            VKR_PREVIEW_INVALID_ARGUMENT);
  EXPECT_EQ(vkr_preview_catalogue_parse(bytes(kCatalogue), kCatalogue.size(), &catalogue, nullptr, 5),
            VKR_PREVIEW_INVALID_ARGUMENT);

  // An empty document is a parse failure, not an argument failure.
  EXPECT_EQ(vkr_preview_catalogue_parse(bytes(kCatalogue), 0, &catalogue, message, sizeof message),
            VKR_PREVIEW_INVALID_DATA);
  EXPECT_STREQ(message, "Incomplete JSON value");
  EXPECT_EQ(catalogue, nullptr);

  const std::string invalid = "{\"schema\":2}";
  EXPECT_EQ(vkr_preview_catalogue_parse(bytes(invalid), invalid.size(), &catalogue, message, 10),
            VKR_PREVIEW_INVALID_DATA);
  EXPECT_STREQ(message, "Invalid g");

  // A size far beyond the limit is refused by the reader without reading past it.
  EXPECT_EQ(vkr_preview_catalogue_parse(bytes(invalid), UINT64_MAX, &catalogue, message, sizeof message),
            VKR_PREVIEW_INVALID_DATA);
  EXPECT_STREQ(message, "JSON size limit exceeded");

  // A message buffer of capacity 0 is never written, and the call still works.
  message[0] = 'x';
  EXPECT_EQ(vkr_preview_catalogue_parse(bytes(invalid), invalid.size(), &catalogue, message, 0),
            VKR_PREVIEW_INVALID_DATA);
  EXPECT_EQ(message[0], 'x');
}

}  // namespace
