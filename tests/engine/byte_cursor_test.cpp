#include "engine/image/byte_cursor.h"

#include <gtest/gtest.h>

#include <vector>

TEST(BigEndian, ReadsTheFirstByteAsTheMostSignificant) {
  const std::vector<uint8_t> bytes = {0x3F, 0xC0, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x9A};
  EXPECT_EQ(BigEndian16(bytes.data()), 0x3FC0);
  EXPECT_EQ(BigEndian32(bytes.data() + 4), 0x12345678u);
  EXPECT_EQ(BigEndian(bytes.data() + 4, 5), 0x123456789Aull);
  EXPECT_EQ(BigEndian(bytes.data() + 1, 8), 0xC00000123456789Aull);
  EXPECT_EQ(BigEndian(bytes.data(), 0), 0u);
  EXPECT_EQ(BigEndianFloat(bytes.data()), 1.5f);  // 0x3FC00000
}

TEST(ByteCursor, ReadsInOrderAndMovesNothingWhenShort) {
  const std::vector<uint8_t> bytes = {'8', 'B', 'I', 'M', 0x00, 0x02, 0xAB};
  ByteCursor cursor(bytes);
  EXPECT_TRUE(cursor.Matches("8BIM"));
  EXPECT_TRUE(cursor.Skip(4));
  uint64_t value = 0;
  EXPECT_TRUE(cursor.Read(2, value));
  EXPECT_EQ(value, 2u);
  EXPECT_FALSE(cursor.Read(2, value));  // one byte left
  EXPECT_EQ(cursor.position(), 6u);
  EXPECT_TRUE(cursor.Peek(2).empty());
  EXPECT_EQ(cursor.Peek(1).size(), 1u);
  EXPECT_FALSE(cursor.Skip(2));
  EXPECT_TRUE(cursor.Read(1, value));
  EXPECT_EQ(value, 0xABu);
  EXPECT_EQ(cursor.remaining(), 0u);
}
