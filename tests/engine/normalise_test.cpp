#include "engine/steps/normalise.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/image_bitmaps.h"

namespace {

ProgramSettings Defaults() {
  ProgramSettings settings;
  ResetSettings(settings, true);
  return settings;
}

constexpr uint16_t Sixteen(int eight_bit) { return static_cast<uint16_t>(eight_bit * 257); }

}  // namespace

TEST(NeedsEightBitChannels, OutputDepthOrAnEightBitStep) {
  const ProgramSettings defaults = Defaults();
  EXPECT_TRUE(NeedsEightBitChannels(defaults, 32));
  EXPECT_TRUE(NeedsEightBitChannels(defaults, 24));
  EXPECT_TRUE(NeedsEightBitChannels(defaults, 1));
  EXPECT_FALSE(NeedsEightBitChannels(defaults, 48));
  EXPECT_FALSE(NeedsEightBitChannels(defaults, 64));

  const auto with = [&](auto change) {
    ProgramSettings settings = defaults;
    change(settings);
    return NeedsEightBitChannels(settings, 64);
  };
  EXPECT_TRUE(with([](ProgramSettings& s) { s.transform.do_image_rotation = 1; }));
  EXPECT_TRUE(with([](ProgramSettings& s) { s.adjustment.do_image_color_correction = 1; }));
  EXPECT_TRUE(with([](ProgramSettings& s) { s.adjustment.do_image_greyscale = 1; }));
  EXPECT_TRUE(with([](ProgramSettings& s) { s.adjustment.do_image_threshold = 1; }));
  EXPECT_TRUE(with([](ProgramSettings& s) { s.frame.do_frame = 1; }));
  EXPECT_TRUE(with([](ProgramSettings& s) { s.watermark.do_watermark = 2; }));
  // Resizing and flipping work on 16 bits per channel.
  EXPECT_FALSE(with([](ProgramSettings& s) {
    s.transform.do_image_resize = 1;
    s.transform.do_image_flip_horizontal = 1;
    s.transform.do_image_flip_vertical = 1;
  }));
}

TEST(ReduceDeepColour, SixteenBitTonesStayWhereTheyAre) {
  for (int level : {16, 64, 128, 130, 192, 240}) {
    // The low byte is set too, so a reduction that rounds up or stretches shows.
    const uint16_t value = static_cast<uint16_t>(Sixteen(level) + 100);
    Bitmap result = ReduceDeepColour(
        MakeUniformBitmap(FIT_RGB16, 48, 3, 2, {value, value, value, 0xFFFF}), true, 24);
    ASSERT_TRUE(result);
    EXPECT_EQ(FreeImage_GetImageType(result.get()), FIT_BITMAP);
    EXPECT_EQ(FreeImage_GetBPP(result.get()), 24u);
    const Rgba16 pixel = ReadPixel(result, 1, 1);
    EXPECT_LE(std::abs((pixel.red >> 8) - level), 1) << level;
    EXPECT_EQ(pixel.red, pixel.green);
    EXPECT_EQ(pixel.red, pixel.blue);
  }
}

TEST(ReduceDeepColour, SixteenBitAlphaSurvives) {
  const Rgba16 colour{Sixteen(128), Sixteen(64), Sixteen(200), Sixteen(77)};
  Bitmap result = ReduceDeepColour(MakeUniformBitmap(FIT_RGBA16, 64, 2, 2, colour), true, 32);
  ASSERT_TRUE(result);
  EXPECT_EQ(FreeImage_GetBPP(result.get()), 32u);
  const Rgba16 pixel = ReadPixel(result, 0, 0);
  EXPECT_EQ(pixel.red >> 8, 128);
  EXPECT_EQ(pixel.green >> 8, 64);
  EXPECT_EQ(pixel.blue >> 8, 200);
  EXPECT_EQ(pixel.alpha >> 8, 77);
}

TEST(ReduceDeepColour, SixteenBitsStayWhenNothingNeedsEight) {
  for (int bpp : {48, 64}) {
    Bitmap image = MakeTestBitmap(3, 3, bpp);
    FIBITMAP* before = image.get();
    Bitmap result = ReduceDeepColour(std::move(image), false, bpp);
    EXPECT_EQ(result.get(), before) << bpp;
  }
}

TEST(ReduceDeepColour, FloatingPointIsEncodedNotToneMapped) {
  // Linear 0.214 is sRGB mid-grey; a tone mapper would make it something else.
  Bitmap floats(FreeImage_AllocateT(FIT_RGBF, 2, 2));
  for (unsigned y = 0; y < 2; ++y) {
    auto* row = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(floats.get(), y));
    row[0] = row[1] = {0.214f, 0.214f, 0.214f};
  }
  Bitmap kept = ReduceDeepColour(std::move(floats), false, 64);
  ASSERT_TRUE(kept);
  EXPECT_EQ(FreeImage_GetImageType(kept.get()), FIT_RGB16);
  EXPECT_NEAR(ReadPixel(kept, 1, 1).red, 32765, 2);
  Bitmap reduced = ReduceDeepColour(std::move(kept), true, 24);
  ASSERT_TRUE(reduced);
  EXPECT_EQ(FreeImage_GetBPP(reduced.get()), 24u);
  EXPECT_EQ(ReadPixel(reduced, 0, 0).green >> 8, 127);

  Bitmap as_float = MakeTestBitmap(3, 3, 96);
  FIBITMAP* before = as_float.get();
  EXPECT_EQ(ReduceDeepColour(std::move(as_float), false, 96).get(), before);

  Bitmap grey(FreeImage_AllocateT(FIT_FLOAT, 2, 2));
  Bitmap grey_reduced = ReduceDeepColour(std::move(grey), true, 24);
  ASSERT_TRUE(grey_reduced);
  EXPECT_EQ(FreeImage_GetImageType(grey_reduced.get()), FIT_BITMAP);
  EXPECT_EQ(FreeImage_GetBPP(grey_reduced.get()), 8u);
}

TEST(ReduceDeepColour, FloatKeepsItsAlpha) {
  Bitmap result = ReduceDeepColour(MakeTestBitmap(4, 3, 128), true, 32);
  ASSERT_TRUE(result);
  EXPECT_EQ(FreeImage_GetBPP(result.get()), 32u);
  for (const auto& [x, y] : {std::pair{0, 0}, {3, 0}, {0, 2}, {3, 2}}) {
    EXPECT_NEAR(ReadPixel(result, x, y).alpha >> 8, TestBitmapColour(4, 3, 128, x, y).alpha >> 8, 1)
        << x << "," << y;
  }
}

TEST(ReduceDeepColour, EightBitImagesPassUnchanged) {
  for (int bpp : {1, 8, 24, 32}) {
    Bitmap image = MakeTestBitmap(3, 3, bpp);
    FIBITMAP* before = image.get();
    EXPECT_EQ(ReduceDeepColour(std::move(image), true, 24).get(), before) << bpp;
  }
  EXPECT_FALSE(ReduceDeepColour(Bitmap(), true, 24));
}

TEST(NormaliseGreyscale, SixteenBitGreyKeepsItsHighByte) {
  Bitmap result = NormaliseGreyscale(MakeTestBitmap(4, 3, 16), true);
  ASSERT_TRUE(result);
  EXPECT_EQ(FreeImage_GetImageType(result.get()), FIT_BITMAP);
  EXPECT_EQ(FreeImage_GetBPP(result.get()), 8u);
  EXPECT_EQ(FreeImage_GetColorType(result.get()), FIC_MINISBLACK);
  for (const auto& [x, y] : {std::pair{0, 0}, {3, 0}, {0, 2}, {3, 2}, {1, 1}}) {
    EXPECT_EQ(ReadPixel(result, x, y).red >> 8, TestBitmapColour(4, 3, 16, x, y).red >> 8)
        << x << "," << y;
  }
}

TEST(NormaliseGreyscale, QuarterGreyIsNotStretched) {
  // A document that does not use the full range must not be brightened.
  const uint16_t quarter = Sixteen(64);
  const uint16_t three_quarters = Sixteen(192);
  Bitmap image = MakeUniformBitmap(FIT_UINT16, 16, 2, 1, {quarter, quarter, quarter, 0xFFFF});
  reinterpret_cast<WORD*>(FreeImage_GetScanLine(image.get(), 0))[1] = three_quarters;
  Bitmap result = NormaliseGreyscale(std::move(image), true);
  ASSERT_TRUE(result);
  EXPECT_EQ(ReadPixel(result, 0, 0).red >> 8, 64);
  EXPECT_EQ(ReadPixel(result, 1, 0).red >> 8, 192);
}

TEST(NormaliseGreyscale, LeavesStandardAndColourImagesAndKeepsSixteenBitsWhenAllowed) {
  for (int bpp : {1, 8, 24, 48}) {
    Bitmap image = MakeTestBitmap(3, 3, bpp);
    FIBITMAP* before = image.get();
    EXPECT_EQ(NormaliseGreyscale(std::move(image), true).get(), before) << bpp;
  }
  Bitmap deep_grey = MakeTestBitmap(3, 3, 16);
  FIBITMAP* before = deep_grey.get();
  EXPECT_EQ(NormaliseGreyscale(std::move(deep_grey), false).get(), before);
  EXPECT_FALSE(NormaliseGreyscale(Bitmap(), true));
}

TEST(NormaliseGreyscale, OtherIntegerGreyIsScaledToEightBits) {
  Bitmap image(FreeImage_AllocateT(FIT_INT16, 2, 1));
  auto* line = reinterpret_cast<int16_t*>(FreeImage_GetScanLine(image.get(), 0));
  line[0] = -100;
  line[1] = 100;
  Bitmap result = NormaliseGreyscale(std::move(image), false);
  ASSERT_TRUE(result);
  EXPECT_EQ(FreeImage_GetImageType(result.get()), FIT_BITMAP);
  EXPECT_EQ(ReadPixel(result, 0, 0).red >> 8, 0);
  EXPECT_EQ(ReadPixel(result, 1, 0).red >> 8, 255);
}
