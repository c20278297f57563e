#include "engine/steps/frame.h"

#include <gtest/gtest.h>

#include "tests/engine/drawn_layer_support.h"

namespace {

using drawn::At;
using drawn::Rgba;

constexpr Rgba Red{255, 0, 0, 255};
constexpr Rgba Green{0, 255, 0, 255};
constexpr Rgba Blue{0, 0, 255, 255};
constexpr Rgba Yellow{255, 255, 0, 255};
constexpr Rgba Grey{128, 128, 128, 255};

ProgramSettings FrameOf(int left, int right, int top, int bottom) {
  ProgramSettings settings;
  FrameSettings& frame = settings.frame;
  frame.do_frame = ToValue(FrameType::Solid);
  frame.solid_left = left;
  frame.solid_right = right;
  frame.solid_top = top;
  frame.solid_bottom = bottom;
  frame.solid_left_color = "FF0000";
  frame.solid_right_color = "00FF00";
  frame.solid_top_color = "0000FF";
  frame.solid_bottom_color = "FFFF00";
  return settings;
}

}  // namespace

TEST(DrawFrame, PaintsFourBandsWithDiagonallySplitCorners) {
  const Bitmap framed = DrawFrame(drawn::Uniform(100, 80, 24, Grey), FrameOf(10, 10, 10, 10));
  ASSERT_TRUE(framed);
  EXPECT_EQ(FreeImage_GetWidth(framed.get()), 100u);
  EXPECT_EQ(FreeImage_GetHeight(framed.get()), 80u);
  EXPECT_EQ(FreeImage_GetBPP(framed.get()), 24u);

  // Band middles, and the untouched inside right next to each band.
  EXPECT_EQ(At(framed, 0, 40), Red);
  EXPECT_EQ(At(framed, 9, 40), Red);
  EXPECT_EQ(At(framed, 10, 40), Grey);
  EXPECT_EQ(At(framed, 99, 40), Green);
  EXPECT_EQ(At(framed, 90, 40), Green);
  EXPECT_EQ(At(framed, 89, 40), Grey);
  EXPECT_EQ(At(framed, 50, 0), Blue);
  EXPECT_EQ(At(framed, 50, 9), Blue);
  EXPECT_EQ(At(framed, 50, 10), Grey);
  EXPECT_EQ(At(framed, 50, 79), Yellow);
  EXPECT_EQ(At(framed, 50, 70), Yellow);
  EXPECT_EQ(At(framed, 50, 69), Grey);

  // Each corner: the side of the diagonal nearer an edge takes that edge's colour.
  EXPECT_EQ(At(framed, 7, 2), Blue);
  EXPECT_EQ(At(framed, 2, 7), Red);
  EXPECT_EQ(At(framed, 92, 2), Blue);
  EXPECT_EQ(At(framed, 97, 7), Green);
  EXPECT_EQ(At(framed, 97, 72), Green);
  EXPECT_EQ(At(framed, 92, 77), Yellow);
  EXPECT_EQ(At(framed, 2, 72), Red);
  EXPECT_EQ(At(framed, 7, 77), Yellow);

  // No pixel of the frame is left out or blended: every one is a band colour or the inside.
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 100; ++x) {
      const Rgba p = At(framed, x, y);
      const bool inside = x >= 10 && x < 90 && y >= 10 && y < 70;
      if (inside) {
        EXPECT_EQ(p, Grey) << x << "," << y;
      } else {
        EXPECT_TRUE(p == Red || p == Green || p == Blue || p == Yellow) << x << "," << y << p;
      }
    }
}

TEST(DrawFrame, ZeroOpacityLeavesThePixelsOfThe24BitImage) {
  Bitmap image = drawn::Uniform(30, 20, 32, {10, 20, 30, 100});
  drawn::Put(image.get(), 0, 0, {200, 150, 100, 255});
  const Bitmap expected(FreeImage_ConvertTo24Bits(image.get()));
  ProgramSettings settings = FrameOf(5, 5, 5, 5);
  settings.frame.solid_opacity = 0;
  const Bitmap framed = DrawFrame(std::move(image), settings);
  ASSERT_TRUE(framed);
  EXPECT_EQ(FreeImage_GetBPP(framed.get()), 24u);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) EXPECT_EQ(At(framed, x, y), At(expected, x, y));
}

TEST(DrawFrame, PartialOpacityMixesBandAndImage) {
  ProgramSettings settings = FrameOf(4, 4, 4, 4);
  settings.frame.solid_opacity = 128;
  const Bitmap framed = DrawFrame(drawn::Uniform(20, 20, 24, {0, 0, 0, 255}), settings);
  ASSERT_TRUE(framed);
  const Rgba band = At(framed, 1, 10);
  EXPECT_NEAR(band.red, 128, 2);
  EXPECT_EQ(band.green, 0);
  EXPECT_EQ(At(framed, 10, 10), (Rgba{0, 0, 0, 255}));
}

TEST(DrawFrame, DropsAlphaEvenWithoutBandsAndHandsOnWhenOff) {
  ProgramSettings off;
  Bitmap image = drawn::Uniform(8, 8, 32, {1, 2, 3, 4});
  FIBITMAP* raw = image.get();
  const Bitmap unchanged = DrawFrame(std::move(image), off);
  EXPECT_EQ(unchanged.get(), raw);
  EXPECT_EQ(FreeImage_GetBPP(unchanged.get()), 32u);

  ProgramSettings unknown = FrameOf(2, 2, 2, 2);
  unknown.frame.do_frame = 2;
  const Bitmap converted = DrawFrame(drawn::Uniform(8, 8, 32, {1, 2, 3, 4}), unknown);
  ASSERT_TRUE(converted);
  EXPECT_EQ(FreeImage_GetBPP(converted.get()), 24u);
  EXPECT_EQ(At(converted, 0, 0), (Rgba{1, 2, 3, 255}));

  EXPECT_FALSE(DrawFrame(Bitmap(), FrameOf(1, 1, 1, 1)));
}

TEST(DrawFrame, BandsWiderThanTheImageStillGiveAnImage) {
  const Bitmap framed = DrawFrame(drawn::Uniform(10, 10, 24, Grey), FrameOf(8, 8, 8, 8));
  ASSERT_TRUE(framed);
  EXPECT_EQ(FreeImage_GetWidth(framed.get()), 10u);
  EXPECT_NE(At(framed, 5, 5), Grey);
}

TEST(DrawFrame, MatchesTheGoldenImage) {
  ProgramSettings settings = FrameOf(6, 14, 10, 20);
  settings.frame.solid_left_color = "C03020";
  settings.frame.solid_top_color = "2060C0";
  settings.frame.solid_opacity = 200;
  EXPECT_TRUE(drawn::MatchesGolden(DrawFrame(drawn::Backdrop(120, 90), settings), "frame_solid"));
}
