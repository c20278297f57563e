#include "engine/draw/drawing.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <tuple>

#include "tests/engine/drawn_layer_support.h"
#include "tests/support/temp_dir.h"

namespace {

using drawn::At;
using drawn::Rgba;

constexpr PackedColour Colour(int r, int g, int b, int a) {
  return static_cast<PackedColour>(r | g << 8 | b << 16 | a << 24);
}

Font ArialAt(double points, bool underline = false) {
  std::optional<Font> font = OpenFont("Arial", points, false, false, underline, false);
  EXPECT_TRUE(font.has_value());
  return std::move(*font);
}

// The layer of `text` drawn in white on a transparent image just big enough for it.
Bitmap DrawTextImage(const Font& font, const std::string& text, TextRendering rendering) {
  const Surface measuring = CreateImage(10, 10);
  const Context measuring_context = CreateContext(measuring);
  const Layout measured = CreateTextLayout(measuring_context.get(), font, text, rendering);
  const TextExtent extent = MeasureLayout(measured.get());
  const Surface image = CreateImage(extent.width, extent.height);
  const Context context = CreateContext(image);
  const Layout layout = CreateTextLayout(context.get(), font, text, rendering);
  DrawLayout(context.get(), layout.get(), 0, 0, Colour(255, 255, 255, 255), rendering);
  return ToFreeImage(image);
}

}  // namespace

TEST(CreateImage, IsTransparentAndRefusesImpossibleSizes) {
  const Surface image = CreateImage(3, 2);
  ASSERT_TRUE(image);
  const Bitmap bitmap = ToFreeImage(image);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(FreeImage_GetBPP(bitmap.get()), 32u);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(At(bitmap, x, y), (Rgba{0, 0, 0, 0}));

  EXPECT_FALSE(CreateImage(0, 5));
  EXPECT_FALSE(CreateImage(5, -1));
  EXPECT_FALSE(CreateImage(MaxDrawingSide + 1, 1));
  EXPECT_FALSE(CreateContext(Surface()));
}

TEST(ToFreeImage, FlipsRowsAndUndoesPremultipliedAlpha) {
  const Surface image = CreateImage(4, 3);
  const Context context = CreateContext(image);
  FillBox(context.get(), 0, 0, 1, 1, Colour(200, 100, 50, 128));
  FillBox(context.get(), 3, 2, 1, 1, Colour(10, 20, 30, 255));
  const Bitmap bitmap = ToFreeImage(image);
  ASSERT_TRUE(bitmap);
  const Rgba top_left = At(bitmap, 0, 0);
  EXPECT_NEAR(top_left.red, 200, 1);
  EXPECT_NEAR(top_left.green, 100, 1);
  EXPECT_NEAR(top_left.blue, 50, 1);
  EXPECT_EQ(top_left.alpha, 128);
  EXPECT_EQ(At(bitmap, 3, 2), (Rgba{10, 20, 30, 255}));
  EXPECT_EQ(At(bitmap, 3, 0).alpha, 0);
}

TEST(FromFreeImage, KeepsAlphaAndMakesOpaqueWithout) {
  Bitmap rgba = drawn::Uniform(2, 2, 32, {0, 0, 0, 0});
  drawn::Put(rgba.get(), 1, 0, {250, 120, 30, 200});
  const Bitmap back = ToFreeImage(FromFreeImage(rgba.get()));
  ASSERT_TRUE(back);
  const Rgba pixel = At(back, 1, 0);
  EXPECT_NEAR(pixel.red, 250, 1);
  EXPECT_NEAR(pixel.green, 120, 1);
  EXPECT_NEAR(pixel.blue, 30, 1);
  EXPECT_EQ(pixel.alpha, 200);
  EXPECT_EQ(At(back, 0, 1).alpha, 0);

  const Bitmap rgb = drawn::Uniform(2, 2, 24, {1, 2, 3, 255});
  EXPECT_EQ(At(ToFreeImage(FromFreeImage(rgb.get())), 1, 1), (Rgba{1, 2, 3, 255}));
  EXPECT_FALSE(FromFreeImage(nullptr));
}

TEST(DrawImage, AppliesOpacityOverWhatLiesBelow) {
  const Surface red = CreateImage(2, 1);
  FillBox(CreateContext(red).get(), 0, 0, 2, 1, Colour(255, 0, 0, 255));
  const Surface target = CreateImage(2, 1);
  const Context context = CreateContext(target);
  FillBox(context.get(), 1, 0, 1, 1, Colour(0, 0, 255, 255));
  DrawImage(context.get(), red, 0, 0, 128);
  const Bitmap bitmap = ToFreeImage(target);
  EXPECT_EQ(At(bitmap, 0, 0), (Rgba{255, 0, 0, 128}));  // over nothing: the red, half there
  const Rgba mixed = At(bitmap, 1, 0);                  // over blue: half of each
  EXPECT_EQ(mixed.alpha, 255);
  EXPECT_NEAR(mixed.red, 128, 1);
  EXPECT_NEAR(mixed.blue, 127, 1);
}

TEST(FillPath, FillsTheClosedPolygonOnly) {
  const Surface image = CreateImage(10, 10);
  const Context context = CreateContext(image);
  Draw().cairo_set_antialias(context.get(), CAIRO_ANTIALIAS_NONE);
  const std::array<PathPoint, 3> triangle = {{{0, 0}, {10, 0}, {0, 10}}};
  FillPath(context.get(), triangle, Colour(0, 255, 0, 255));
  const Bitmap bitmap = ToFreeImage(image);
  EXPECT_EQ(At(bitmap, 1, 1), (Rgba{0, 255, 0, 255}));
  EXPECT_EQ(At(bitmap, 8, 0), (Rgba{0, 255, 0, 255}));
  EXPECT_EQ(At(bitmap, 8, 8).alpha, 0);
  EXPECT_EQ(At(bitmap, 6, 6).alpha, 0);
}

TEST(MakeGrey, UsesTheWeightedSumAndKeepsAlpha) {
  Bitmap source = drawn::Uniform(3, 1, 32, {0, 0, 0, 255});
  drawn::Put(source.get(), 0, 0, {200, 100, 50, 255});
  drawn::Put(source.get(), 1, 0, {255, 0, 0, 255});
  drawn::Put(source.get(), 2, 0, {0, 0, 255, 255});
  const Surface image = FromFreeImage(source.get());
  MakeGrey(image);
  const Bitmap grey = ToFreeImage(image);
  const int first = (77 * 200 + 150 * 100 + 29 * 50) >> 8;
  EXPECT_EQ(At(grey, 0, 0), (Rgba{first, first, first, 255}));
  EXPECT_EQ(At(grey, 1, 0), (Rgba{76, 76, 76, 255}));
  EXPECT_EQ(At(grey, 2, 0), (Rgba{28, 28, 28, 255}));
}

TEST(IsFontInstalled, AcceptsFamiliesAndMetricAliasesButNotFallbacks) {
  EXPECT_TRUE(IsFontInstalled("Liberation Sans"));
  EXPECT_TRUE(IsFontInstalled("DejaVu Sans"));
  EXPECT_TRUE(IsFontInstalled("Arial"));
  EXPECT_TRUE(IsFontInstalled("arial"));
  EXPECT_TRUE(IsFontInstalled("Times New Roman"));
  EXPECT_FALSE(IsFontInstalled("NoSuchFace"));
  EXPECT_FALSE(IsFontInstalled("Tahoma"));  // only the weak generic fallback
  EXPECT_FALSE(IsFontInstalled(""));
}

TEST(OpenFont, RefusesUnknownFacesAndSizesBelowOnePoint) {
  EXPECT_TRUE(OpenFont("Arial", 14, true, true, true, false).has_value());
  EXPECT_FALSE(OpenFont("NoSuchFace", 14, false, false, false, false).has_value());
  EXPECT_FALSE(OpenFont("Arial", 0, false, false, false, false).has_value());
  EXPECT_FALSE(OpenFont("Arial", -3, false, false, false, false).has_value());
}

TEST(MeasureLayout, SizesFollowPointsAtNinetySixDpiAndStyle) {
  const Surface image = CreateImage(10, 10);
  const Context context = CreateContext(image);
  const Font small = ArialAt(14);
  const Font large = ArialAt(28);
  const std::optional<Font> bold = OpenFont("Arial", 14, true, false, false, false);
  ASSERT_TRUE(bold);
  const TextExtent at14 =
      MeasureLayout(CreateTextLayout(context.get(), small, "Hello", TextRendering::Smooth).get());
  const TextExtent at28 =
      MeasureLayout(CreateTextLayout(context.get(), large, "Hello", TextRendering::Smooth).get());
  const TextExtent bold14 =
      MeasureLayout(CreateTextLayout(context.get(), *bold, "Hello", TextRendering::Smooth).get());
  // 14 pt is 18.67 px; Liberation Sans lines are about 1.15 em high.
  EXPECT_GE(at14.height, 19);
  EXPECT_LE(at14.height, 24);
  EXPECT_NEAR(at28.width, 2 * at14.width, 3);
  EXPECT_GT(bold14.width, at14.width);
  const Layout vector = CreateTextLayout(context.get(), small, "Hello", TextRendering::Smooth);
  EXPECT_NEAR(MeasureLayoutWidth(vector.get()), at14.width, 1.0);
}

TEST(DrawLayout, PlainTextHasOnlyHardPixelsAndSmoothTextIsAntialiased) {
  const Font font = ArialAt(20);
  const Bitmap plain = DrawTextImage(font, "Wavy Quorvix", TextRendering::Plain);
  const Bitmap smooth = DrawTextImage(font, "Wavy Quorvix", TextRendering::Smooth);
  ASSERT_TRUE(plain);
  ASSERT_TRUE(smooth);
  std::set<int> plain_alphas;
  bool smooth_partial = false;
  for (unsigned y = 0; y < FreeImage_GetHeight(plain.get()); ++y) {
    for (unsigned x = 0; x < FreeImage_GetWidth(plain.get()); ++x) {
      const Rgba pixel = At(plain, x, y);
      plain_alphas.insert(pixel.alpha);
      if (pixel.alpha == 255) {
        EXPECT_EQ(pixel, (Rgba{255, 255, 255, 255}));
      }
    }
  }
  for (unsigned y = 0; y < FreeImage_GetHeight(smooth.get()); ++y)
    for (unsigned x = 0; x < FreeImage_GetWidth(smooth.get()); ++x) {
      const int alpha = At(smooth, x, y).alpha;
      smooth_partial = smooth_partial || (alpha > 0 && alpha < 255);
    }
  EXPECT_EQ(plain_alphas, (std::set<int>{0, 255}));
  EXPECT_TRUE(smooth_partial);
}

TEST(DrawLayout, PlainTextReplacesThePixelsBelowIncludingAlpha) {
  const Font font = ArialAt(20, true);
  const Surface image = CreateImage(60, 30);
  const Context context = CreateContext(image);
  FillBox(context.get(), 0, 0, 60, 30, Colour(0, 0, 255, 255), true);
  const Layout layout = CreateTextLayout(context.get(), font, "Ho", TextRendering::Plain);
  DrawLayout(context.get(), layout.get(), 2, 2, Colour(255, 0, 0, 64), TextRendering::Plain);
  const Bitmap bitmap = ToFreeImage(image);
  std::set<std::tuple<int, int, int, int>> colours;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      const Rgba p = At(bitmap, x, y);
      colours.insert({p.red, p.green, p.blue, p.alpha});
    }
  // The glyphs and the underline leave a quarter-opaque red, not red blended over blue.
  EXPECT_EQ(colours, (std::set<std::tuple<int, int, int, int>>{{0, 0, 255, 255}, {255, 0, 0, 64}}));
}
