#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "abi/conventions.h"

namespace vesmara::abi {
namespace {

TEST(MessageBuffer, CutsTerminatesAndNeverWritesWithoutRoom) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  {
    MessageBuffer message(buffer, 10);
    EXPECT_EQ(buffer[0], '\0');
    message.write("a thirty byte failure message.");
  }
  EXPECT_EQ(std::string(buffer), "a thirty ");
  EXPECT_EQ(buffer[10], 'x');

  std::memset(buffer, 'x', sizeof buffer);
  MessageBuffer zero_capacity(buffer, 0);
  EXPECT_TRUE(zero_capacity.usable());
  zero_capacity.write("message");
  EXPECT_EQ(buffer[0], 'x');

  MessageBuffer one(buffer, 1);
  one.write("message");
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'x');

  MessageBuffer missing(nullptr, 5);
  EXPECT_FALSE(missing.usable());
  missing.write("never written");
  EXPECT_TRUE(MessageBuffer(nullptr, 0).usable());

  // A cut may fall inside a multi-byte sequence.
  MessageBuffer cut(buffer, 3);
  cut.write("a\xC3\xA9");
  EXPECT_EQ(std::string(buffer), "a\xC3");
}

TEST(StringGetter, LengthQueryExactCapacityAndCopy) {
  std::uint64_t length = 99;
  char buffer[8];
  EXPECT_EQ(deliverString("abcd", nullptr, 0, &length), VKR_PREVIEW_OK);
  EXPECT_EQ(length, 4u);
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(deliverString("abcd", buffer, 4, &length), VKR_PREVIEW_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(deliverString("abcd", buffer, 0, &length), VKR_PREVIEW_BUFFER_TOO_SMALL);
  EXPECT_EQ(deliverString("abcd", buffer, 5, &length), VKR_PREVIEW_OK);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(deliverString("", buffer, 1, &length), VKR_PREVIEW_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_STREQ(buffer, "");
}

TEST(FailureTranslation, EveryKindAndTheCancellationOverride) {
  const struct {
    std::uint32_t kind;
    Status status;
  } table[] = {
      {0, 4}, {1, 4}, {2, 9}, {3, 10}, {4, 11}, {5, 12}, {6, 6}, {7, 13},
      {8, 7}, {9, 4}, {10, 14}, {11, 15}, {12, 16}, {13, 4}, {0xFFFFFFFF, 4},
  };
  for (const auto& row : table) {
    const auto kind = static_cast<FailureKind>(row.kind);
    EXPECT_EQ(statusForKind(kind), row.status) << row.kind;
    EXPECT_EQ(statusForFailure(kind, false), row.status) << row.kind;
    EXPECT_EQ(statusForFailure(kind, true), VKR_PREVIEW_CANCELLED) << row.kind;
  }
}

TEST(ExceptionBoundary, ContainsEveryExceptionWithTheBoundaryMessage) {
  char buffer[64];
  MessageBuffer message(buffer, sizeof buffer);
  EXPECT_EQ(runContained(message, "Catalogue parse failed", []() -> Status { throw std::bad_alloc(); }),
            VKR_PREVIEW_INTERNAL_FAILURE);
  EXPECT_STREQ(buffer, "Catalogue parse failed");
  EXPECT_EQ(runContained(message, "x", []() -> Status { throw 42; }), VKR_PREVIEW_INTERNAL_FAILURE);
  EXPECT_EQ(runContained(message, "x", []() -> Status { return VKR_PREVIEW_NOT_FOUND; }), VKR_PREVIEW_NOT_FOUND);
}

TEST(AbiQueries, RevisionAndCapabilities) {
  EXPECT_EQ(vkr_preview_abi_revision(), 16u);
  std::uint64_t capabilities = 0;
  EXPECT_EQ(vkr_preview_capabilities(&capabilities), VKR_PREVIEW_OK);
  EXPECT_EQ(capabilities, 0x1FFFu);
  EXPECT_EQ(vkr_preview_capabilities(nullptr), VKR_PREVIEW_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace vesmara::abi
