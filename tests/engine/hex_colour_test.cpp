#include "engine/steps/hex_colour.h"

#include <gtest/gtest.h>

#include "engine/image/bitmap.h"

TEST(ParseHexColour, ReadsSixDigitsWithRedInTheLowByte) {
  EXPECT_EQ(ParseHexColour("FF8000"), 0x0080FFu);
  EXPECT_EQ(ParseHexColour("0000ff"), 0xFF0000u);
  EXPECT_EQ(ParseHexColour("12aB9c"), 0x9CAB12u);
  EXPECT_EQ(ParseHexColour("FFFFFF"), 0xFFFFFFu);
}

TEST(ParseHexColour, APairStopsAtItsFirstNonHexCharacter) {
  EXPECT_EQ(ParseHexColour("ZZ0000"), 0u);
  EXPECT_EQ(ParseHexColour("AZ00FF"), 0xFF000Au);  // "AZ" reads as A
  EXPECT_EQ(ParseHexColour("FFG1FF"), 0xFF00FFu);  // "G1" stops at once
  EXPECT_EQ(ParseHexColour("#FF000"), 0x00F000u);  // "#F" is 0, "F0" 240, "00" 0
}

TEST(ParseHexColour, AnyOtherLengthIsBlack) {
  for (const char* text : {"", "FFF", "FFFFF", "FFFFFFF", "#FFFFFF", "FF8000 "}) {
    EXPECT_EQ(ParseHexColour(text), 0u) << '"' << text << '"';
  }
}

TEST(ParseHexColour, AlphaGoesInTheFourthByte) {
  EXPECT_EQ(ParseHexColourAlpha("FF8000", 0x7F), 0x7F0080FFu);
  EXPECT_EQ(ParseHexColourAlpha("FF8000", 0x1FF), 0xFF0080FFu);  // only the low byte counts
}

TEST(ToRgbQuad, SplitsThePackedColourIntoItsChannels) {
  const RGBQUAD quad = ToRgbQuad(ParseHexColour("C08040"));
  EXPECT_EQ(quad.rgbRed, 0xC0);
  EXPECT_EQ(quad.rgbGreen, 0x80);
  EXPECT_EQ(quad.rgbBlue, 0x40);
  EXPECT_EQ(quad.rgbReserved, 0);
  // The alpha byte of a packed colour does not leak into the reserved byte.
  EXPECT_EQ(ToRgbQuad(ParseHexColourAlpha("C08040", 0xFF)).rgbReserved, 0);
}
