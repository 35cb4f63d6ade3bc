#include <gtest/gtest.h>

#include <vector>

#include "base/byte_reader.h"
#include "base/byte_writer.h"

namespace vesmara {
namespace {

TEST(ByteReader, RoundTripsTheWriterInBothByteOrders) {
  std::vector<std::uint8_t> bytes;
  ByteWriter writer(bytes);
  writer.writeText("MAGIC");
  writer.writeU16(0x0102);
  writer.writeU32(0x03040506);
  writer.writeU64(0x0708090A0B0C0D0EULL);
  writer.writeU16BigEndian(0x0102);
  writer.writeU64BigEndian(0xF1F2F3F4F5F6F7F8ULL);
  writer.writeZeros(3);
  ASSERT_EQ(bytes.size(), 5u + 2 + 4 + 8 + 2 + 8 + 3);
  EXPECT_EQ(bytes[5], 0x02);   // little-endian: low byte first
  EXPECT_EQ(bytes[19], 0x01);  // big-endian: high byte first

  ByteReader reader(bytes);
  std::uint16_t u16 = 0;
  std::uint32_t u32 = 0;
  std::uint64_t u64 = 0;
  EXPECT_FALSE(reader.readExpected("MAGIX"));
  EXPECT_EQ(reader.remaining(), bytes.size());
  EXPECT_TRUE(reader.readExpected("MAGIC"));
  EXPECT_TRUE(reader.readU16(u16));
  EXPECT_EQ(u16, 0x0102);
  EXPECT_TRUE(reader.readU32(u32));
  EXPECT_EQ(u32, 0x03040506u);
  EXPECT_TRUE(reader.readU64(u64));
  EXPECT_EQ(u64, 0x0708090A0B0C0D0EULL);
  EXPECT_TRUE(reader.readU16BigEndian(u16));
  EXPECT_EQ(u16, 0x0102);
  EXPECT_TRUE(reader.readU64BigEndian(u64));
  EXPECT_EQ(u64, 0xF1F2F3F4F5F6F7F8ULL);
  EXPECT_FALSE(reader.readZeros(4));
  EXPECT_TRUE(reader.readZeros(3));
  EXPECT_TRUE(reader.empty());
}

TEST(ByteReader, ShortInputFailsWithoutMoving) {
  const std::vector<std::uint8_t> bytes = {1, 2, 3};
  ByteReader reader(bytes);
  std::uint32_t u32 = 77;
  std::span<const std::uint8_t> view;
  EXPECT_FALSE(reader.readU32(u32));
  EXPECT_EQ(u32, 77u);
  EXPECT_FALSE(reader.readBytes(4, view));
  EXPECT_FALSE(reader.skip(4));
  EXPECT_FALSE(reader.readExpected("abcd"));
  EXPECT_EQ(reader.remaining(), 3u);
  EXPECT_TRUE(reader.readBytes(2, view));
  EXPECT_EQ(view[1], 2);
  EXPECT_EQ(reader.rest()[0], 3);
}

// A size too wide for its field is refused, never written cut down.
TEST(ByteWriter, CheckedWritesTakeTheLargestValueAndRefuseOneMore) {
  const struct {
    bool (ByteWriter::*write)(std::uint64_t);
    std::uint64_t fitting;
    std::vector<std::uint8_t> written;
    std::uint64_t too_wide;
  } cases[] = {
      {&ByteWriter::writeU8Checked, 0xFF, {0xFF}, 0x100},
      {&ByteWriter::writeU16Checked, 0xFFFE, {0xFE, 0xFF}, 0x10000},
      {&ByteWriter::writeU32Checked, 0xFFFFFFFE, {0xFE, 0xFF, 0xFF, 0xFF}, 0x100000000},
      {&ByteWriter::writeU32BigEndianChecked, 0xFFFFFFFE, {0xFF, 0xFF, 0xFF, 0xFE}, 0x100000001},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> bytes;
    ByteWriter writer(bytes);
    EXPECT_TRUE((writer.*c.write)(c.fitting));
    EXPECT_FALSE((writer.*c.write)(c.too_wide)) << c.too_wide;
    EXPECT_EQ(bytes, c.written) << c.too_wide;
  }
}

}  // namespace
}  // namespace vesmara
