#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

// The decoder behind case changes in names and the test for text files without a byte-order mark.
TEST(Utf8, SequenceLengthsRejectEveryMalformedForm) {
  struct Case {
    std::string bytes;
    size_t length;
  };
  const Case cases[] = {
      {"A", 1},
      {"\xC3\xA9", 2},          // é
      {"\xE2\x82\xAC", 3},      // €
      {"\xF0\x9F\x98\x80", 4},  // U+1F600
      {"\xF4\x8F\xBF\xBF", 4},  // U+10FFFF, the last code point
      {"\x80", 0},              // a stray continuation byte
      {"\xC0\xAF", 0},          // overlong "/"
      {"\xC1\xBF", 0},          // overlong
      {"\xE0\x80\xAF", 0},      // overlong in three bytes
      {"\xF0\x80\x80\xAF", 0},  // overlong in four bytes
      {"\xED\xA0\x80", 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0},  // past U+10FFFF
      {"\xF5\x80\x80\x80", 0},  // a lead byte that never occurs
      {"\xE2\x82", 0},          // cut off by the end of the text
      {"\xE2\x41\xAC", 0},      // a continuation that is none
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8SequenceLength(c.bytes, 0), c.length) << testing::PrintToString(c.bytes);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.length == c.bytes.size()) << testing::PrintToString(c.bytes);
  }
}

TEST(Utf8, DecodesWhatItEncodesAndPassesBadBytesThrough) {
  for (char32_t code : {U'\x7F', U'\x80', U'\x7FF', U'\x800', U'\xFFFF', U'\x10000', U'\x10FFFF'}) {
    std::string text;
    AppendUtf8(text, code);
    size_t length = 0;
    EXPECT_EQ(DecodeUtf8(text, 0, length), code);
    EXPECT_EQ(length, text.size());
  }
  size_t length = 0;
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80", 0, length), U'\xED');
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(DecodeUtf8("a\xC3\xA9", 1, length), U'\xE9');
  EXPECT_EQ(length, 2u);
}
