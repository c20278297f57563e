#include "engine/steps/transforms.h"

#include <gtest/gtest.h>

#include "tests/support/image_bitmaps.h"

namespace {

ProgramSettings RotationSettings(int32_t angle, int8_t type = ToValue(RotationType::Simple)) {
  ProgramSettings settings;
  settings.transform.do_image_rotation = 1;
  settings.transform.image_rotation = angle;
  settings.transform.image_rotation_type = type;
  return settings;
}

ProgramSettings ResizeSettings(int32_t width, int32_t height, bool keep_aspect = true) {
  ProgramSettings settings;
  settings.transform.do_image_resize = 1;
  settings.transform.image_width = width;
  settings.transform.image_height = height;
  settings.transform.keep_aspect_ratio = keep_aspect ? 1 : 0;
  return settings;
}

int Width(const Bitmap& image) { return static_cast<int>(FreeImage_GetWidth(image.get())); }
int Height(const Bitmap& image) { return static_cast<int>(FreeImage_GetHeight(image.get())); }

bool SameColour(Rgba16 a, Rgba16 b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

void ExpectSamePixels(const Bitmap& actual, const Bitmap& expected) {
  ASSERT_EQ(Width(actual), Width(expected));
  ASSERT_EQ(Height(actual), Height(expected));
  for (int y = 0; y < Height(expected); ++y) {
    for (int x = 0; x < Width(expected); ++x) {
      ASSERT_TRUE(SameColour(ReadPixel(actual, x, y), ReadPixel(expected, x, y)))
          << "pixel " << x << "," << y;
    }
  }
}

// Resizes a fresh `width` x `height` grey image and returns the size that comes out.
std::pair<int, int> ResizedSize(int width, int height, const ProgramSettings& settings) {
  Bitmap image(FreeImage_Allocate(width, height, 8));
  const Bitmap result = ResizeImage(std::move(image), settings);
  if (!result) return {-1, -1};
  return {Width(result), Height(result)};
}

}  // namespace

TEST(RotateImage, AnglesOutsideTheWindowTouchNothingNotEvenTheDepth) {
  for (int32_t angle : {0, 360, -90, 720}) {
    Bitmap image = MakeTestBitmap(4, 3, 8);
    FIBITMAP* const original = image.get();
    const Bitmap result = RotateImage(std::move(image), RotationSettings(angle));
    EXPECT_EQ(result.get(), original) << angle;
    EXPECT_EQ(FreeImage_GetBPP(result.get()), 8u) << angle;
  }

  ProgramSettings off = RotationSettings(90);
  off.transform.do_image_rotation = 0;
  Bitmap image = MakeTestBitmap(4, 3, 8);
  FIBITMAP* const original = image.get();
  EXPECT_EQ(RotateImage(std::move(image), off).get(), original);
  EXPECT_FALSE(RotateImage(Bitmap(), RotationSettings(90)));
}

TEST(RotateImage, QuarterTurnSwapsTheCanvasCounterClockwise) {
  const Bitmap result = RotateImage(MakeTestBitmap(4, 3, 24), RotationSettings(90));
  ASSERT_TRUE(result);
  EXPECT_EQ(Width(result), 3);
  EXPECT_EQ(Height(result), 4);
  // Turned to the left: the top-left corner goes to the bottom left, the top-right to the top left.
  EXPECT_TRUE(SameColour(ReadPixel(result, 0, 3), TestBitmapColour(4, 3, 24, 0, 0)));
  EXPECT_TRUE(SameColour(ReadPixel(result, 0, 0), TestBitmapColour(4, 3, 24, 3, 0)));
}

TEST(RotateImage, FourQuarterTurnsGiveTheOriginal) {
  for (int bpp : {24, 32}) {
    Bitmap image = MakeTestBitmap(5, 3, bpp);
    for (int turn = 0; turn < 4; ++turn)
      image = RotateImage(std::move(image), RotationSettings(90));
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetBPP(image.get()), static_cast<unsigned>(bpp));
    ExpectSamePixels(image, MakeTestBitmap(5, 3, bpp));
  }
}

TEST(RotateImage, WidensShallowAndDeepImagesFirst) {
  // 8-bit grey has no room for a colour background: it is rotated as 24 bits.
  for (int bpp : {1, 4, 8}) {
    const Bitmap result = RotateImage(MakeTestBitmap(4, 3, bpp), RotationSettings(90));
    ASSERT_TRUE(result) << bpp;
    EXPECT_EQ(FreeImage_GetBPP(result.get()), 24u) << bpp;
  }
  // 16 bits per channel go by their high bytes; transparency stays.
  const Bitmap grey = RotateImage(MakeTestBitmap(4, 3, 16), RotationSettings(90));
  ASSERT_TRUE(grey);
  EXPECT_EQ(FreeImage_GetBPP(grey.get()), 24u);
  EXPECT_EQ(ReadPixel(grey, 0, 0).red >> 8, TestBitmapColour(4, 3, 16, 3, 0).red >> 8);

  const Bitmap rgba = RotateImage(MakeTestBitmap(4, 3, 64), RotationSettings(90));
  ASSERT_TRUE(rgba);
  EXPECT_EQ(FreeImage_GetBPP(rgba.get()), 32u);
  EXPECT_EQ(ReadPixel(rgba, 0, 0).alpha >> 8, TestBitmapColour(4, 3, 64, 3, 0).alpha >> 8);

  const Bitmap rgb = RotateImage(MakeTestBitmap(4, 3, 48), RotationSettings(90));
  ASSERT_TRUE(rgb);
  EXPECT_EQ(FreeImage_GetBPP(rgb.get()), 24u);
}

TEST(RotateImage, SimpleRotationGrowsTheCanvasWithTheBackgroundColour) {
  ProgramSettings settings = RotationSettings(45);
  settings.transform.image_rotation_back_color = "FF8000";
  const Bitmap result = RotateImage(MakeUniformBitmap(FIT_BITMAP, 24, 20, 20, {}), settings);
  ASSERT_TRUE(result);
  EXPECT_GT(Width(result), 20);
  EXPECT_GT(Height(result), 20);
  const Rgba16 corner = ReadPixel(result, 0, 0);
  EXPECT_EQ(corner.red >> 8, 0xFF);
  EXPECT_EQ(corner.green >> 8, 0x80);
  EXPECT_EQ(corner.blue >> 8, 0x00);
}

TEST(RotateImage, AdvancedRotationKeepsTheCanvas) {
  const Bitmap result =
      RotateImage(MakeTestBitmap(8, 6, 24), RotationSettings(30, ToValue(RotationType::Advanced)));
  ASSERT_TRUE(result);
  EXPECT_EQ(Width(result), 8);
  EXPECT_EQ(Height(result), 6);
  EXPECT_EQ(FreeImage_GetBPP(result.get()), 24u);
}

TEST(RotateImage, UnknownTypeOnlyWidens) {
  const Bitmap result = RotateImage(MakeTestBitmap(4, 3, 8), RotationSettings(90, 7));
  ASSERT_TRUE(result);
  EXPECT_EQ(FreeImage_GetBPP(result.get()), 24u);
  ExpectSamePixels(result, MakeTestBitmap(4, 3, 8));
}

TEST(ResizeImage, KeepsLandscapeAndPortraitShapes) {
  const ProgramSettings settings = ResizeSettings(1000, 1000);
  EXPECT_EQ(ResizedSize(4000, 3000, settings), std::make_pair(1000, 750));
  EXPECT_EQ(ResizedSize(3000, 4000, settings), std::make_pair(750, 1000));
}

TEST(ResizeImage, IgnoresProportionsWhenAsked) {
  EXPECT_EQ(ResizedSize(400, 300, ResizeSettings(50, 70, false)), std::make_pair(50, 70));
}

TEST(ResizeImage, PercentRoundsHalvesToEven) {
  ProgramSettings settings = ResizeSettings(50, 50, false);
  settings.transform.image_width_unit = ToValue(SizeUnit::Percent);
  settings.transform.image_height_unit = ToValue(SizeUnit::Percent);
  EXPECT_EQ(ResizedSize(101, 103, settings), std::make_pair(50, 52));  // 50.5 and 51.5

  settings.transform.image_width = 150;
  settings.transform.image_height = 150;
  EXPECT_EQ(ResizedSize(101, 10, settings), std::make_pair(152, 15));  // 151.5
}

TEST(ResizeImage, LeavesTheImageAloneWhenThereIsNothingToDo) {
  ProgramSettings percent = ResizeSettings(1, 100, false);
  percent.transform.image_width_unit = ToValue(SizeUnit::Percent);
  ProgramSettings unknown_unit = ResizeSettings(10, 10, false);
  unknown_unit.transform.image_height_unit = 5;
  ProgramSettings off = ResizeSettings(10, 10, false);
  off.transform.do_image_resize = 0;

  for (const ProgramSettings& settings :
       {percent, unknown_unit, off, ResizeSettings(40, 30, false), ResizeSettings(0, 10)}) {
    Bitmap image(FreeImage_Allocate(40, 30, 24));
    FIBITMAP* const original = image.get();
    EXPECT_EQ(ResizeImage(std::move(image), settings).get(), original);
  }
}

TEST(ResizeImage, LargeImagesOnlyShrinksWhatIsLarger) {
  ProgramSettings settings = ResizeSettings(800, 600);
  settings.transform.image_resize_type = ToValue(ResizeType::LargeImages);

  Bitmap small(FreeImage_Allocate(640, 480, 8));
  FIBITMAP* const original = small.get();
  EXPECT_EQ(ResizeImage(std::move(small), settings).get(), original);

  // Wider than the target but not taller: resized, with the proportions kept.
  EXPECT_EQ(ResizedSize(1024, 500, settings), std::make_pair(800, 391));
}

TEST(ResizeImage, AVeryThinImageKeepsAtLeastOnePixel) {
  EXPECT_EQ(ResizedSize(4000, 3, ResizeSettings(100, 100)), std::make_pair(100, 1));
  EXPECT_EQ(ResizedSize(3, 4000, ResizeSettings(100, 100)), std::make_pair(1, 100));
}

TEST(ResizeImage, UnknownFilterFallsBackToBicubic) {
  ProgramSettings bicubic = ResizeSettings(7, 5, false);
  bicubic.transform.image_resize_algorithm = ToValue(ResizeAlgorithm::Bicubic);
  ProgramSettings unknown = bicubic;
  unknown.transform.image_resize_algorithm = 42;
  ProgramSettings box = bicubic;
  box.transform.image_resize_algorithm = ToValue(ResizeAlgorithm::Box);

  const Bitmap expected = ResizeImage(MakeTestBitmap(16, 12, 24), bicubic);
  const Bitmap fallback = ResizeImage(MakeTestBitmap(16, 12, 24), unknown);
  ASSERT_TRUE(expected);
  ASSERT_TRUE(fallback);
  ExpectSamePixels(fallback, expected);

  // The filter does reach FreeImage: a box filter gives other pixels.
  const Bitmap boxed = ResizeImage(MakeTestBitmap(16, 12, 24), box);
  ASSERT_TRUE(boxed);
  bool differs = false;
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      differs = differs || !SameColour(ReadPixel(boxed, x, y), ReadPixel(expected, x, y));
    }
  }
  EXPECT_TRUE(differs);
}

TEST(FlipImage, MirrorsInPlaceAndTwiceGivesTheOriginal) {
  ProgramSettings horizontal;
  horizontal.transform.do_image_flip_horizontal = 1;
  ProgramSettings vertical;
  vertical.transform.do_image_flip_vertical = 1;

  Bitmap image = MakeTestBitmap(4, 3, 24);
  image = FlipImage(std::move(image), horizontal);
  EXPECT_TRUE(SameColour(ReadPixel(image, 3, 0), TestBitmapColour(4, 3, 24, 0, 0)));
  image = FlipImage(std::move(image), horizontal);
  ExpectSamePixels(image, MakeTestBitmap(4, 3, 24));

  image = FlipImage(std::move(image), vertical);
  EXPECT_TRUE(SameColour(ReadPixel(image, 0, 2), TestBitmapColour(4, 3, 24, 0, 0)));
  image = FlipImage(std::move(image), vertical);
  ExpectSamePixels(image, MakeTestBitmap(4, 3, 24));

  EXPECT_FALSE(FlipImage(Bitmap(), horizontal));  // no image, nothing to do
}

TEST(ResizeImage, AResultBeyondTheMemoryBoundFailsBeforeAllocating) {
  const ProgramSettings settings = ResizeSettings(400, 300, false);
  // 400 x 300 at 32 bits is 480000 bytes; the bound wants three times that.
  EXPECT_FALSE(ResizeImage(MakeTestBitmap(4, 3, 24), settings, 3 * 480000 - 1));
  const Bitmap fits = ResizeImage(MakeTestBitmap(4, 3, 24), settings, 3 * 480000);
  ASSERT_TRUE(fits);
  EXPECT_EQ(FreeImage_GetWidth(fits.get()), 400u);
}
