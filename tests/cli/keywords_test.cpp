#include "cli/keywords.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(KeywordToValue, MatchesTrimmedTextInAnyCase) {
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, "zlib9"), 3);
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, "  ZLib6 "), 2);
  EXPECT_EQ(KeywordToValue(KeywordTable::Position, "bottomcenter"), 7);
  EXPECT_EQ(KeywordToValue(KeywordTable::RawLoadAs, "48hs"), 4);
  EXPECT_EQ(KeywordToValue(KeywordTable::RawLoadAs, "48"), 5);
  EXPECT_EQ(KeywordToValue(KeywordTable::FontEffect, "StrikeThrought"), 2);
}

TEST(KeywordToValue, AcceptsAnotherFormatsCompressionAndGivesZeroForUnknownText) {
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, "lzw"), 6);
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, "rle"), 1);
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, "zip"), 1);
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, "fast"), 0);
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, ""), 0);
  EXPECT_EQ(KeywordToValue(KeywordTable::Compression, "zlib 9"), 0);
  // A keyword of a table other than the option's does not count.
  EXPECT_EQ(KeywordToValue(KeywordTable::SizeUnit, "lanczos"), 0);
  EXPECT_EQ(KeywordToValue(static_cast<KeywordTable>(22), "AUTO"), 0);
  EXPECT_EQ(KeywordToValue(static_cast<KeywordTable>(-1), "AUTO"), 0);
}

TEST(ValueToKeyword, NamesCompressionByTheFormatsOwnList) {
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, 3, CompressionFormat::Png), "zlib9");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, 0, CompressionFormat::Png), "none");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, 1, CompressionFormat::Bmp), "rle");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, 1, CompressionFormat::Tga), "rle");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, 1, CompressionFormat::Exr), "zip");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, 6, CompressionFormat::Tiff), "lzw");
  // A value beyond the format's list has no name, even when another format has one.
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, 6, CompressionFormat::Png), "");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Compression, -1, CompressionFormat::Tiff), "");
}

TEST(ValueToKeyword, GivesTheFirstLowerCaseKeywordOfTheValue) {
  EXPECT_EQ(ValueToKeyword(KeywordTable::Frame, 0), "none");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Watermark, 2), "image");
  EXPECT_EQ(ValueToKeyword(KeywordTable::ResizeAlgorithm, 3), "bicubic");
  EXPECT_EQ(ValueToKeyword(KeywordTable::FileTimestamp, 0), "current");
  EXPECT_EQ(ValueToKeyword(KeywordTable::Watermark, 3), "");
  EXPECT_EQ(ValueToKeyword(KeywordTable::WatermarkSize, 1), "");
}

TEST(ValueToKeyword, ReadsBackEveryKeywordOfEveryTable) {
  // Each keyword read and then named again gives a keyword of the same value.
  const char* samples[] = {"AUTO",       "RGBA",        "48HS",       "RANDOM",      "GD",
                           "EXACT",      "LAB",         "HIGH",       "PROGRESSIVE", "ADVANCED",
                           "PERCENT",    "LARGEIMAGES", "CATMULLROM", "SOLID",       "TEXT",
                           "BOLDITALIC", "UNDERLINE",   "RIGHT",      "FRAME",       "MIDDLECENTER",
                           "FIXED",      "CUSTOM"};
  for (int32_t table = 0; table < KeywordTableCount; ++table) {
    const auto id = static_cast<KeywordTable>(table);
    for (const char* sample : samples) {
      const int32_t value = KeywordToValue(id, sample);
      if (value == 0) continue;
      EXPECT_EQ(KeywordToValue(id, ValueToKeyword(id, value)), value) << table << " " << sample;
    }
  }
}

TEST(ReadNumber, ReadsDecimalHexadecimalAndBinaryPrefixes) {
  EXPECT_EQ(ReadNumber("800px"), 800);
  EXPECT_EQ(ReadNumber("abc"), 0);
  EXPECT_EQ(ReadNumber("$FF"), 255);
  EXPECT_EQ(ReadNumber("$ff"), 255);
  EXPECT_EQ(ReadNumber("%101"), 5);
  EXPECT_EQ(ReadNumber("%102"), 2);
  EXPECT_EQ(ReadNumber(" \t-20"), -20);
  EXPECT_EQ(ReadNumber("+7"), 7);
  EXPECT_EQ(ReadNumber("-$10"), -16);
  EXPECT_EQ(ReadNumber(""), 0);
  EXPECT_EQ(ReadNumber("-"), 0);
  EXPECT_EQ(ReadNumber("$"), 0);
  EXPECT_EQ(ReadNumber("1 2"), 1);
}

TEST(ReadNumber, KeepsTheLowThirtyTwoBits) {
  EXPECT_EQ(ReadNumber("4294967296"), 0);
  EXPECT_EQ(ReadNumber("4294967297"), 1);
  EXPECT_EQ(ReadNumber("2147483648"), INT32_MIN);
  EXPECT_EQ(ReadNumber("$FFFFFFFF"), -1);
  EXPECT_EQ(ReadNumber("$1FFFFFFFF"), -1);
  EXPECT_EQ(ReadNumber("-2147483648"), INT32_MIN);
  // 10^26 - 1 modulo 2^32 is 3825205247, which as a signed 32-bit value is -469762049.
  EXPECT_EQ(ReadNumber("99999999999999999999999999"), -469762049);
}

TEST(ReadDecimal, ReadsTheLongestLeadingNumber) {
  EXPECT_FLOAT_EQ(ReadDecimal("2.5"), 2.5f);
  EXPECT_FLOAT_EQ(ReadDecimal("9.99"), 9.99f);
  EXPECT_FLOAT_EQ(ReadDecimal("-0.5x"), -0.5f);
  EXPECT_FLOAT_EQ(ReadDecimal("1e2"), 100.0f);
  EXPECT_FLOAT_EQ(ReadDecimal("1e"), 1.0f);
  EXPECT_FLOAT_EQ(ReadDecimal(".5"), 0.5f);
  EXPECT_FLOAT_EQ(ReadDecimal("3."), 3.0f);
  EXPECT_FLOAT_EQ(ReadDecimal("2,5"), 2.0f);
  EXPECT_EQ(ReadDecimal("abc"), 0.0f);
  EXPECT_EQ(ReadDecimal(""), 0.0f);
  EXPECT_EQ(ReadDecimal("."), 0.0f);
  EXPECT_EQ(ReadDecimal("inf"), 0.0f);
}

TEST(ReadDecimal, ReadsSpecialValuesAndOverflow) {
  EXPECT_TRUE(std::isinf(ReadDecimal("+Infinity")));
  EXPECT_GT(ReadDecimal("+infinity"), 0.0f);
  EXPECT_TRUE(std::isinf(ReadDecimal("-INFINITY")));
  EXPECT_LT(ReadDecimal("-Infinity"), 0.0f);
  EXPECT_TRUE(std::isnan(ReadDecimal("nan")));
  EXPECT_TRUE(std::isinf(ReadDecimal("1e39")));
  EXPECT_TRUE(std::isinf(ReadDecimal("-1e999")));
  EXPECT_EQ(ReadDecimal("1e-999"), 0.0f);
}
