#include "engine/steps/colour.h"

#include <gtest/gtest.h>

#include "engine/output/saving.h"
#include "tests/support/image_bitmaps.h"

namespace {

ProgramSettings Correction() {
  ProgramSettings settings;
  settings.adjustment.do_image_color_correction = 1;
  return settings;
}

ProgramSettings Inversion() {
  ProgramSettings settings = Correction();
  settings.adjustment.image_invert = 1;
  return settings;
}

ProgramSettings Threshold(int32_t level) {
  ProgramSettings settings;
  settings.adjustment.do_image_threshold = 1;
  settings.adjustment.image_threshold = level;
  return settings;
}

Rgba16 Eight(int red, int green, int blue, int alpha = 255) {
  return Rgba16{static_cast<uint16_t>(red * 257), static_cast<uint16_t>(green * 257),
                static_cast<uint16_t>(blue * 257), static_cast<uint16_t>(alpha * 257)};
}

// A grey 8-bit image of one level, made by hand so the level is exact.
Bitmap GreyImage(int width, int height, BYTE level) {
  Bitmap image(FreeImage_Allocate(width, height, 8));
  RGBQUAD* palette = FreeImage_GetPalette(image.get());
  for (int i = 0; i < 256; ++i) {
    palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) FreeImage_SetPixelIndex(image.get(), x, y, &level);
  }
  return image;
}

int High(uint16_t value) { return value >> 8; }

}  // namespace

TEST(CorrectColours, OffOrNoImageHandsOnUnchanged) {
  Bitmap image = MakeTestBitmap(4, 3, 1);
  FIBITMAP* const original = image.get();
  ProgramSettings off = Inversion();
  off.adjustment.do_image_color_correction = 0;
  const Bitmap result = CorrectColours(std::move(image), off);
  EXPECT_EQ(result.get(), original);
  EXPECT_EQ(FreeImage_GetBPP(result.get()), 1u);
  EXPECT_FALSE(CorrectColours(Bitmap(), Inversion()));
}

TEST(CorrectColours, InvertGivesTheComplement) {
  const Bitmap colour =
      CorrectColours(MakeUniformBitmap(FIT_BITMAP, 24, 3, 2, Eight(10, 200, 99)), Inversion());
  ASSERT_TRUE(colour);
  const Rgba16 pixel = ReadPixel(colour, 1, 1);
  EXPECT_EQ(High(pixel.red), 245);
  EXPECT_EQ(High(pixel.green), 55);
  EXPECT_EQ(High(pixel.blue), 156);

  // Transparency is not a colour: it stays.
  const Bitmap with_alpha =
      CorrectColours(MakeUniformBitmap(FIT_BITMAP, 32, 3, 2, Eight(0, 0, 255, 77)), Inversion());
  ASSERT_TRUE(with_alpha);
  const Rgba16 transparent = ReadPixel(with_alpha, 0, 0);
  EXPECT_EQ(High(transparent.red), 255);
  EXPECT_EQ(High(transparent.blue), 0);
  EXPECT_EQ(High(transparent.alpha), 77);
}

TEST(CorrectColours, BrightnessAndGammaMoveToneTheRightWay) {
  ProgramSettings brighter = Correction();
  brighter.adjustment.image_brightness = 40;
  ProgramSettings darker = Correction();
  darker.adjustment.image_gamma = 0.5f;

  const Bitmap lifted = CorrectColours(GreyImage(2, 2, 100), brighter);
  const Bitmap lowered = CorrectColours(GreyImage(2, 2, 100), darker);
  ASSERT_TRUE(lifted);
  ASSERT_TRUE(lowered);
  EXPECT_GT(High(ReadPixel(lifted, 0, 0).red), 100);
  EXPECT_LT(High(ReadPixel(lowered, 0, 0).red), 100);
}

TEST(CorrectColours, DepthRules) {
  // 1 and 4 bits are widened to 24 even when nothing changes the colours.
  for (int bpp : {1, 4}) {
    const Bitmap result = CorrectColours(MakeTestBitmap(4, 3, bpp), Correction());
    ASSERT_TRUE(result) << bpp;
    EXPECT_EQ(FreeImage_GetBPP(result.get()), 24u) << bpp;
  }

  // 8 bits are corrected in place.
  Bitmap grey = GreyImage(2, 2, 30);
  FIBITMAP* const original = grey.get();
  const Bitmap inverted = CorrectColours(std::move(grey), Inversion());
  EXPECT_EQ(inverted.get(), original);
  EXPECT_EQ(High(ReadPixel(inverted, 0, 0).red), 225);

  // FreeImage cannot adjust 16-bit RGB or 16 bits per channel: they are reduced, then corrected.
  Bitmap rgb565(
      FreeImage_Allocate(2, 2, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK));
  const Bitmap from565 = CorrectColours(std::move(rgb565), Inversion());
  ASSERT_TRUE(from565);
  EXPECT_EQ(FreeImage_GetBPP(from565.get()), 24u);
  EXPECT_EQ(High(ReadPixel(from565, 0, 0).green), 255);

  const Bitmap from48 = CorrectColours(
      MakeUniformBitmap(FIT_RGB16, 48, 2, 2, Rgba16{0x1000, 0x8000, 0xF000, 0xFFFF}), Inversion());
  ASSERT_TRUE(from48);
  EXPECT_EQ(FreeImage_GetBPP(from48.get()), 24u);
  EXPECT_EQ(High(ReadPixel(from48, 0, 0).red), 255 - 0x10);

  const Bitmap from64 =
      CorrectColours(MakeUniformBitmap(FIT_RGBA16, 64, 2, 2, Rgba16{0, 0, 0, 0x4000}), Inversion());
  ASSERT_TRUE(from64);
  EXPECT_EQ(FreeImage_GetBPP(from64.get()), 32u);
  EXPECT_EQ(High(ReadPixel(from64, 0, 0).alpha), 0x40);

  const Bitmap from_grey16 = CorrectColours(
      MakeUniformBitmap(FIT_UINT16, 16, 2, 2, Rgba16{0x2000, 0x2000, 0x2000, 0xFFFF}), Inversion());
  ASSERT_TRUE(from_grey16);
  EXPECT_EQ(FreeImage_GetBPP(from_grey16.get()), 8u);
  EXPECT_EQ(High(ReadPixel(from_grey16, 0, 0).red), 255 - 0x20);
}

TEST(MakeGreyscale, GivesEightBitGrey) {
  ProgramSettings settings;
  settings.adjustment.do_image_greyscale = 1;
  for (int bpp : {1, 4, 8, 16, 24, 32, 48, 64}) {
    const Bitmap result = MakeGreyscale(MakeTestBitmap(4, 3, bpp), settings);
    ASSERT_TRUE(result) << bpp;
    EXPECT_EQ(FreeImage_GetBPP(result.get()), 8u) << bpp;
    EXPECT_EQ(FreeImage_GetColorType(result.get()), FIC_MINISBLACK) << bpp;
  }
  // A grey pixel keeps its level; 16-bit grey goes by its high byte, not stretched.
  const Bitmap grey =
      MakeGreyscale(MakeUniformBitmap(FIT_BITMAP, 24, 2, 2, Eight(90, 90, 90)), settings);
  EXPECT_EQ(High(ReadPixel(grey, 0, 0).red), 90);
  const Bitmap deep = MakeGreyscale(
      MakeUniformBitmap(FIT_UINT16, 16, 2, 2, Rgba16{0x4000, 0x4000, 0x4000, 0xFFFF}), settings);
  EXPECT_EQ(High(ReadPixel(deep, 0, 0).red), 0x40);

  Bitmap image = MakeTestBitmap(4, 3, 24);
  FIBITMAP* const original = image.get();
  EXPECT_EQ(MakeGreyscale(std::move(image), ProgramSettings()).get(), original);
}

TEST(ApplyThreshold, SplitsAtTheLevelsLowByte) {
  // Level 300 acts as 44: 43 is black, 44 and above white.
  for (int32_t level : {44, 300}) {
    const Bitmap below = ApplyThreshold(GreyImage(2, 2, 43), Threshold(level));
    const Bitmap at = ApplyThreshold(GreyImage(2, 2, 44), Threshold(level));
    ASSERT_TRUE(below);
    ASSERT_TRUE(at);
    EXPECT_EQ(FreeImage_GetBPP(below.get()), 1u);
    EXPECT_EQ(ReadPixel(below, 0, 0).red, 0) << level;
    EXPECT_EQ(ReadPixel(at, 0, 0).red, 0xFFFF) << level;
  }
}

TEST(ApplyThreshold, AfterGreyscaleGivesOneBitThatTheOutputDepthWidensAgain) {
  ProgramSettings settings = Threshold(128);
  settings.adjustment.do_image_greyscale = 1;
  settings.adjustment.do_image_color_correction = 1;

  Bitmap image = MakeUniformBitmap(FIT_BITMAP, 24, 4, 3, Eight(200, 200, 200));
  image = CorrectColours(std::move(image), settings);
  image = MakeGreyscale(std::move(image), settings);
  image = ApplyThreshold(std::move(image), settings);
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetBPP(image.get()), 1u);
  EXPECT_EQ(ReadPixel(image, 2, 1).red, 0xFFFF);

  const Bitmap widened = ConvertToTargetDepth(std::move(image), "png", 24);
  ASSERT_TRUE(widened);
  EXPECT_EQ(FreeImage_GetBPP(widened.get()), 24u);
  EXPECT_EQ(High(ReadPixel(widened, 2, 1).green), 255);
}
