#include "engine/image/sample_depth.h"

#include <gtest/gtest.h>

#include "engine/steps/colour.h"
#include "engine/steps/normalise.h"
#include "engine/steps/transforms.h"
#include "tests/support/image_bitmaps.h"

namespace {

// Samples whose low byte is near full: a reduction that rounds instead of taking the high byte
// gives one level more.
constexpr Rgba16 Deep{0x12FF, 0x80FE, 0xFE80, 0x40FF};

constexpr uint16_t HighByteOnly(uint16_t sample) {
  return static_cast<uint16_t>((sample >> 8) * 257);
}

void ExpectHighBytes(const Bitmap& image, bool grey, bool alpha) {
  const Rgba16 pixel = ReadPixel(image, 1, 1);
  EXPECT_EQ(pixel.red, HighByteOnly(Deep.red));
  EXPECT_EQ(pixel.green, HighByteOnly(grey ? Deep.red : Deep.green));
  EXPECT_EQ(pixel.blue, HighByteOnly(grey ? Deep.red : Deep.blue));
  EXPECT_EQ(pixel.alpha, alpha ? HighByteOnly(Deep.alpha) : 0xFFFF);
}

}  // namespace

TEST(ReduceToEightBitChannels, SixteenBitSamplesKeepTheirHighByteAndTheirKind) {
  const Bitmap grey = ReduceToEightBitChannels(MakeUniformBitmap(FIT_UINT16, 16, 3, 3, Deep));
  ASSERT_TRUE(grey);
  EXPECT_EQ(FreeImage_GetImageType(grey.get()), FIT_BITMAP);
  EXPECT_EQ(FreeImage_GetBPP(grey.get()), 8u);
  EXPECT_EQ(FreeImage_GetColorType(grey.get()), FIC_MINISBLACK);
  ExpectHighBytes(grey, true, false);

  const Bitmap rgb = ReduceToEightBitChannels(MakeUniformBitmap(FIT_RGB16, 48, 3, 3, Deep));
  ASSERT_TRUE(rgb);
  EXPECT_EQ(FreeImage_GetBPP(rgb.get()), 24u);
  ExpectHighBytes(rgb, false, false);

  const Bitmap rgba = ReduceToEightBitChannels(MakeUniformBitmap(FIT_RGBA16, 64, 3, 3, Deep));
  ASSERT_TRUE(rgba);
  EXPECT_EQ(FreeImage_GetBPP(rgba.get()), 32u);
  ExpectHighBytes(rgba, false, true);
}

TEST(ReduceToEightBitChannels, FloatsAreEncodedBeforeTheyAreReduced) {
  Bitmap floats(FreeImage_AllocateT(FIT_RGBAF, 2, 2));
  ASSERT_TRUE(floats);
  for (int y = 0; y < 2; ++y) {
    auto* row = reinterpret_cast<FIRGBAF*>(FreeImage_GetScanLine(floats.get(), y));
    for (int x = 0; x < 2; ++x) row[x] = {0.5f, 0.0f, 2.0f, 0.25f};
  }
  const Bitmap reduced = ReduceToEightBitChannels(std::move(floats));
  ASSERT_TRUE(reduced);
  EXPECT_EQ(FreeImage_GetBPP(reduced.get()), 32u);
  const Rgba16 pixel = ReadPixel(reduced, 0, 0);
  // Linear 0.5 is sRGB 0.7354; values beyond 1 clip; alpha stays linear.
  EXPECT_EQ(pixel.red, 188 * 257);  // 0.7354 * 65535 = 48192, high byte 188
  EXPECT_EQ(pixel.green, 0);
  EXPECT_EQ(pixel.blue, 255 * 257);
  EXPECT_EQ(pixel.alpha, 64 * 257);  // 16384 in 16 bits
}

TEST(ReduceToEightBitChannels, EightBitImagesPassUnchanged) {
  for (const int bpp : {1, 4, 8, 24, 32}) {
    Bitmap image = MakeTestBitmap(3, 2, bpp);
    FIBITMAP* const before = image.get();
    EXPECT_EQ(ReduceToEightBitChannels(std::move(image)).get(), before) << bpp;
  }
  EXPECT_FALSE(ReduceToEightBitChannels(Bitmap()));
}

// The steps that need 8 bits per channel reduce alike: rotation then widens grey to RGB, since it
// fills its corners with an RGB colour, but every sample keeps the same high byte.
TEST(ReduceToEightBitChannels, EveryStepThatNeedsEightBitsReducesAlike) {
  ProgramSettings neutral_correction;
  neutral_correction.adjustment.do_image_color_correction = 1;
  ProgramSettings half_turn;
  half_turn.transform.do_image_rotation = 1;
  half_turn.transform.image_rotation = 180;
  struct Kind {
    FREE_IMAGE_TYPE type;
    int bpp;
    bool grey;
    bool alpha;
  };
  for (const Kind kind : {Kind{FIT_UINT16, 16, true, false}, Kind{FIT_RGB16, 48, false, false},
                          Kind{FIT_RGBA16, 64, false, true}}) {
    SCOPED_TRACE(kind.bpp);
    const auto deep = [&] { return MakeUniformBitmap(kind.type, kind.bpp, 3, 3, Deep); };
    const Bitmap normalised =
        ReduceDeepColour(NormaliseGreyscale(deep(), true), true, kind.alpha ? 32 : 24);
    const Bitmap corrected = CorrectColours(deep(), neutral_correction);
    const Bitmap rotated = RotateImage(deep(), half_turn);
    for (const Bitmap* image : {&normalised, &corrected, &rotated}) {
      ASSERT_TRUE(*image);
      ExpectHighBytes(*image, kind.grey, kind.alpha);
    }
    EXPECT_EQ(FreeImage_GetBPP(normalised.get()), FreeImage_GetBPP(corrected.get()));
    EXPECT_EQ(FreeImage_GetBPP(rotated.get()), kind.alpha ? 32u : 24u);
  }
}

TEST(ToPlainRgb, DropsAlphaAndWidensGreyKeepingPlainRgbAsItIs) {
  Bitmap plain = MakeTestBitmap(4, 3, 24);
  FIBITMAP* const before = plain.get();
  EXPECT_EQ(ToPlainRgb(std::move(plain)).get(), before);
  for (const int bpp : {8, 32, 48}) {
    SCOPED_TRACE(bpp);
    const Bitmap rgb = ToPlainRgb(MakeTestBitmap(4, 3, bpp));
    ASSERT_TRUE(rgb);
    EXPECT_EQ(FreeImage_GetBPP(rgb.get()), 24u);
    EXPECT_EQ(FreeImage_GetImageType(rgb.get()), FIT_BITMAP);
    const Rgba16 want = TestBitmapColour(4, 3, bpp, 3, 2);
    const Rgba16 got = ReadPixel(rgb, 3, 2);
    EXPECT_EQ(got.red >> 8, want.red >> 8);
    EXPECT_EQ(got.blue >> 8, want.blue >> 8);
    EXPECT_EQ(got.alpha, 0xFFFF);
  }
  EXPECT_FALSE(ToPlainRgb(Bitmap()));
}
