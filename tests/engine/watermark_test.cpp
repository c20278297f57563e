#include "engine/steps/watermark.h"

#include <gtest/gtest.h>

#include <ctime>
#include <set>

#include "engine/steps/image_watermark.h"
#include "engine/steps/text_watermark.h"
#include "engine/steps/watermark_placement.h"
#include "tests/engine/drawn_layer_support.h"

namespace {

using drawn::At;
using drawn::Rgba;

constexpr Rgba Black{0, 0, 0, 255};
constexpr Rgba Red{255, 0, 0, 255};

TokenValues HolidayTokens() {
  TokenValues tokens;
  tokens.input_path = "/photos/Holiday Snap.psd";
  tokens.output_format = "png";
  tokens.bpp = 24;
  tokens.width = 640;
  tokens.height = 480;
  return tokens;
}

ProgramSettings ImageWatermarkAt(Position position, int dx, int dy) {
  ProgramSettings settings;
  settings.watermark.do_watermark = ToValue(WatermarkType::Image);
  settings.watermark.image_position = ToValue(position);
  settings.watermark.image_x_offset = dx;
  settings.watermark.image_y_offset = dy;
  return settings;
}

// The box holding every pixel that is not `background`; {-1, -1, -1, -1} when there is none.
struct Box {
  int left = -1, top = -1, right = -1, bottom = -1;
  friend bool operator==(const Box&, const Box&) = default;
};
std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "[" << b.left << "," << b.top << " .. " << b.right << "," << b.bottom << "]";
}

Box ChangedBox(const Bitmap& image, Rgba background) {
  Box box;
  const int width = static_cast<int>(FreeImage_GetWidth(image.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(image.get()));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (At(image, x, y) == background) continue;
      if (box.left < 0 || x < box.left) box.left = x;
      if (box.top < 0) box.top = y;
      box.right = std::max(box.right, x);
      box.bottom = y;
    }
  return box;
}

Font Arial(int points) {
  std::optional<Font> font = OpenFont("Arial", points, false, false, false, false);
  EXPECT_TRUE(font.has_value());
  return std::move(*font);
}

// The measured size of one line, as the layer lays it out.
TextExtent LineExtent(const Font& font, const std::string& text, TextRendering rendering) {
  const Surface image = CreateImage(10, 10);
  const Context context = CreateContext(image);
  return MeasureLayout(CreateTextLayout(context.get(), font, text, rendering).get());
}

}  // namespace

TEST(ExpandWatermarkText, ExpandsTokensAndKeepsTheLiteralCase) {
  const TokenValues tokens = HolidayTokens();
  char year[8];
  const std::time_t now = std::time(nullptr);
  std::strftime(year, sizeof year, "%Y", std::localtime(&now));
  EXPECT_EQ(ExpandWatermarkText("Photo %FILENAME%%EOL%%yyyy%", tokens),
            std::string("Photo Holiday Snap%EOL%") + year);
  EXPECT_EQ(ExpandWatermarkText("%Width% x %height% at %bpp% BPP", tokens), "640 x 480 at 24 BPP");
  EXPECT_EQ(ExpandWatermarkText("%EXT[U]% of %filename[l]%", tokens), "PNG of holiday snap");
}

TEST(ExpandWatermarkText, LeavesTextsWithFewerThanTwoPercentSignsAlone) {
  const TokenValues tokens = HolidayTokens();
  EXPECT_EQ(ExpandWatermarkText("50% off", tokens), "50% off");
  EXPECT_EQ(ExpandWatermarkText("%width", tokens), "%width");
  EXPECT_EQ(ExpandWatermarkText("", tokens), "");
  EXPECT_EQ(ExpandWatermarkText("100%% %unknown%", tokens), "100%% %unknown%");
}

TEST(SplitWatermarkLines, SplitsAtLineBreaksInAnyCase) {
  EXPECT_EQ(SplitWatermarkLines("a%EOL%b%eol%%Eol%c"),
            (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(SplitWatermarkLines("no break"), (std::vector<std::string>{"no break"}));
  EXPECT_EQ(SplitWatermarkLines("%eol%"), (std::vector<std::string>{"", ""}));
}

TEST(LayOutTextBlock, StacksLinesWithLeadingAndPadding) {
  const std::vector<TextExtent> two = {{40, 16}, {25, 12}};
  const TextBlock block = LayOutTextBlock(two, 4, 5);
  EXPECT_EQ(block.height, 46);  // 16 + 1 x (16 + 4) + 2 x 5
  EXPECT_EQ(block.width, 50);
  EXPECT_EQ(block.step, 20);

  // Several lines are at least 10 by 10 each; a single line keeps its own size.
  const std::vector<TextExtent> tiny = {{3, 4}, {2, 2}, {1, 1}};
  const TextBlock stacked = LayOutTextBlock(tiny, -2, 0);
  EXPECT_EQ(stacked.width, 10);
  EXPECT_EQ(stacked.height, 10 + 2 * 8);
  const std::vector<TextExtent> one = {{3, 4}};
  EXPECT_EQ(LayOutTextBlock(one, 100, 1).width, 5);
  EXPECT_EQ(LayOutTextBlock(one, 100, 1).height, 6);
}

TEST(AlignLine, PlacesLeftCentredAndRightWithHalvesRoundedAway) {
  TextBlock block;
  block.width = 21;
  block.padding = 3;
  EXPECT_EQ(AlignLine(block, 10, ToValue(TextAlignment::Left)), 3);
  EXPECT_EQ(AlignLine(block, 10, ToValue(TextAlignment::Center)), 6);   // 5.5 rounds up
  EXPECT_EQ(AlignLine(block, 24, ToValue(TextAlignment::Center)), -2);  // -1.5 rounds away
  EXPECT_EQ(AlignLine(block, 10, ToValue(TextAlignment::Right)), 8);
  EXPECT_EQ(AlignLine(block, 10, 7), 0);
}

TEST(DrawTextLayer, TwoLinesAreStackedWithLeadingAndPadding) {
  const Font font = Arial(14);
  WatermarkSettings watermark;
  watermark.text = "Ag%eol%Ag";
  watermark.font_leading = 4;
  watermark.text_padding = 5;
  const TextExtent line = LineExtent(font, "Ag", TextRendering::Plain);
  const Bitmap layer = DrawTextLayer(font, watermark, HolidayTokens());
  ASSERT_TRUE(layer);
  const int line_height = std::max(10, line.height);
  EXPECT_EQ(static_cast<int>(FreeImage_GetHeight(layer.get())),
            line_height + (line_height + 4) + 10);
  EXPECT_EQ(static_cast<int>(FreeImage_GetWidth(layer.get())), std::max(10, line.width) + 10);
}

TEST(DrawTextLayer, CentredLinesShareOneAxis) {
  const Font font = Arial(16);
  WatermarkSettings watermark;
  watermark.text = "WWWWWW%eol%ii";
  watermark.text_alignment = ToValue(TextAlignment::Center);
  watermark.back_opacity = 0;
  const Bitmap layer = DrawTextLayer(font, watermark, HolidayTokens());
  ASSERT_TRUE(layer);
  const int width = static_cast<int>(FreeImage_GetWidth(layer.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(layer.get()));
  // The short second line's ink sits in the middle of the box.
  int left = width, right = -1;
  for (int y = height / 2 + 2; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (At(layer, x, y).alpha) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
  ASSERT_GE(right, left);
  EXPECT_NEAR((left + right) / 2.0, width / 2.0, 3.0);
}

TEST(DrawTextLayer, ASinglePercentSignIsDrawnUnchanged) {
  const Font font = Arial(14);
  WatermarkSettings watermark;
  watermark.text = "100% %width";
  const Bitmap layer = DrawTextLayer(font, watermark, HolidayTokens());
  ASSERT_TRUE(layer);
  EXPECT_EQ(static_cast<int>(FreeImage_GetWidth(layer.get())),
            LineExtent(font, "100% %width", TextRendering::Plain).width);
}

TEST(DrawTextLayer, WithoutAntialiasingPixelsAreFullyOpaqueOrFullyTransparent) {
  const Font font = Arial(18);
  WatermarkSettings watermark;
  watermark.text = "Quorvix%eol%sample";
  watermark.font_color = "FF8000";
  watermark.back_opacity = 0;
  watermark.text_opacity = 255;
  const Bitmap layer = DrawTextLayer(font, watermark, HolidayTokens());
  ASSERT_TRUE(layer);
  int opaque = 0;
  for (unsigned y = 0; y < FreeImage_GetHeight(layer.get()); ++y)
    for (unsigned x = 0; x < FreeImage_GetWidth(layer.get()); ++x) {
      const Rgba p = At(layer, x, y);
      ASSERT_TRUE(p.alpha == 0 || p.alpha == 255) << x << "," << y << p;
      if (p.alpha == 255) {
        EXPECT_EQ(p, (Rgba{255, 128, 0, 255}));
        ++opaque;
      }
    }
  EXPECT_GT(opaque, 50);
}

TEST(DrawTextLayer, WithoutAntialiasingTextAndBoxKeepTheirOwnOpacities) {
  const Font font = Arial(18);
  WatermarkSettings watermark;
  watermark.text = "Box";
  watermark.back_color = "0000FF";
  watermark.back_opacity = 200;
  watermark.text_opacity = 100;
  const Bitmap layer = DrawTextLayer(font, watermark, HolidayTokens());
  ASSERT_TRUE(layer);
  std::set<int> alphas;
  for (unsigned y = 0; y < FreeImage_GetHeight(layer.get()); ++y)
    for (unsigned x = 0; x < FreeImage_GetWidth(layer.get()); ++x)
      alphas.insert(At(layer, x, y).alpha);
  EXPECT_EQ(alphas, (std::set<int>{100, 200}));
}

TEST(DrawTextLayer, WithAntialiasingHalfOpacityTextIsHalfTransparentOverTheBox) {
  const Font font = Arial(24);
  WatermarkSettings watermark;
  watermark.text = "IH";
  watermark.text_antialiasing = 1;
  watermark.back_color = "000000";
  watermark.back_opacity = 255;
  watermark.text_opacity = 128;
  const Bitmap layer = DrawTextLayer(font, watermark, HolidayTokens());
  ASSERT_TRUE(layer);
  int brightest = 0;
  bool partial = false;
  for (unsigned y = 0; y < FreeImage_GetHeight(layer.get()); ++y)
    for (unsigned x = 0; x < FreeImage_GetWidth(layer.get()); ++x) {
      const Rgba p = At(layer, x, y);
      EXPECT_EQ(p.alpha, 255);
      brightest = std::max(brightest, p.red);
      partial = partial || (p.red > 0 && p.red < 120);
    }
  EXPECT_NEAR(brightest, 128, 2);  // the glyph cores: white at half over black
  EXPECT_TRUE(partial);            // the antialiased edges
}

TEST(DrawTextLayer, MatchesTheGoldenImagesInBothModes) {
  const Font font = Arial(14);
  ProgramSettings settings;
  WatermarkSettings& watermark = settings.watermark;
  watermark.do_watermark = ToValue(WatermarkType::Text);
  watermark.text = "Photo %FILENAME%%eol%%width% x %height%";
  watermark.font_color = "FFFF00";
  watermark.back_color = "000000";
  watermark.back_opacity = 120;
  watermark.text_padding = 4;
  watermark.text_alignment = ToValue(TextAlignment::Center);
  watermark.text_position = ToValue(Position::BottomRight);
  EXPECT_TRUE(drawn::MatchesGolden(
      PlaceWatermark(drawn::Backdrop(200, 100), DrawTextLayer(font, watermark, HolidayTokens()),
                     settings),
      "text_plain"));
  watermark.text_antialiasing = 1;
  watermark.text_opacity = 220;
  EXPECT_TRUE(drawn::MatchesGolden(
      PlaceWatermark(drawn::Backdrop(200, 100), DrawTextLayer(font, watermark, HolidayTokens()),
                     settings),
      "text_smooth"));
}

TEST(DrawTextLayer, RotatedTextOnABoxMatchesTheGoldenImage) {
  const std::optional<Font> font = OpenFont("Arial", 16, true, false, true, false);
  ASSERT_TRUE(font);
  ProgramSettings settings;
  WatermarkSettings& watermark = settings.watermark;
  watermark.do_watermark = ToValue(WatermarkType::Text);
  watermark.text = "Quorvix";
  watermark.text_antialiasing = 1;
  watermark.font_color = "FFFFFF";
  watermark.back_color = "800000";
  watermark.back_opacity = 200;
  watermark.text_padding = 6;
  watermark.text_rotation = 30;
  watermark.text_position = ToValue(Position::MiddleCenter);
  EXPECT_TRUE(drawn::MatchesGolden(
      PlaceWatermark(drawn::Backdrop(160, 120), DrawTextLayer(*font, watermark, HolidayTokens()),
                     settings),
      "text_rotated_box"));
}

TEST(PlaceWatermark, CropsTheLayerToFitAndAnchorsItBottomRight) {
  const ProgramSettings settings = ImageWatermarkAt(Position::BottomRight, 10, 10);
  const Bitmap placed = PlaceWatermark(drawn::Uniform(200, 200, 24, Black),
                                       drawn::Uniform(300, 100, 32, Red), settings);
  ASSERT_TRUE(placed);
  EXPECT_EQ(ChangedBox(placed, Black), (Box{0, 90, 189, 189}));
  EXPECT_EQ(At(placed, 0, 90), Red);
}

TEST(PlaceWatermark, KeepsTheTopLeftPartWhenCropping) {
  Bitmap layer = drawn::Uniform(30, 30, 32, Red);
  drawn::Put(layer.get(), 0, 0, {0, 255, 0, 255});
  drawn::Put(layer.get(), 29, 29, {0, 0, 255, 255});
  const ProgramSettings settings = ImageWatermarkAt(Position::TopLeft, 0, 0);
  const Bitmap placed =
      PlaceWatermark(drawn::Uniform(20, 20, 24, Black), std::move(layer), settings);
  ASSERT_TRUE(placed);
  EXPECT_EQ(At(placed, 0, 0), (Rgba{0, 255, 0, 255}));
  EXPECT_EQ(At(placed, 19, 19), Red);
}

TEST(PlaceWatermark, FrameBoundaryPlacesWithinTheFrame) {
  ProgramSettings settings = ImageWatermarkAt(Position::TopLeft, 10, 10);
  settings.frame.do_frame = ToValue(FrameType::Solid);
  settings.frame.solid_left = settings.frame.solid_right = 20;
  settings.frame.solid_top = settings.frame.solid_bottom = 20;
  settings.watermark.image_boundary = ToValue(Boundary::Frame);
  const Bitmap placed = PlaceWatermark(drawn::Uniform(100, 100, 24, Black),
                                       drawn::Uniform(15, 12, 32, Red), settings);
  ASSERT_TRUE(placed);
  EXPECT_EQ(ChangedBox(placed, Black), (Box{30, 30, 44, 41}));

  // Bottom-right within the frame: 100 - 20 - 10 - 15 = 55 across.
  settings.watermark.image_position = ToValue(Position::BottomRight);
  const Bitmap corner = PlaceWatermark(drawn::Uniform(100, 100, 24, Black),
                                       drawn::Uniform(15, 12, 32, Red), settings);
  EXPECT_EQ(ChangedBox(corner, Black), (Box{55, 58, 69, 69}));
}

TEST(PlaceWatermark, CentredAxesIgnoreOffsetsAndTruncateHalves) {
  const ProgramSettings settings = ImageWatermarkAt(Position::MiddleCenter, 30, 40);
  const Bitmap placed =
      PlaceWatermark(drawn::Uniform(100, 50, 24, Black), drawn::Uniform(21, 10, 32, Red), settings);
  EXPECT_EQ(ChangedBox(placed, Black), (Box{39, 20, 59, 29}));  // (100 - 21) / 2 = 39

  const ProgramSettings top = ImageWatermarkAt(Position::TopCenter, 30, 4);
  const Bitmap at_top =
      PlaceWatermark(drawn::Uniform(100, 50, 24, Black), drawn::Uniform(21, 10, 32, Red), top);
  EXPECT_EQ(ChangedBox(at_top, Black), (Box{39, 4, 59, 13}));

  const ProgramSettings unknown = ImageWatermarkAt(static_cast<Position>(12), 30, 4);
  const Bitmap origin =
      PlaceWatermark(drawn::Uniform(100, 50, 24, Black), drawn::Uniform(21, 10, 32, Red), unknown);
  EXPECT_EQ(ChangedBox(origin, Black), (Box{0, 0, 20, 9}));
}

TEST(PlaceWatermark, EveryAnchorPlacesTheLayerWhereItsEdgesSay) {
  // Columns and rows of the nine anchors in stored order: an offset moves a layer away from the
  // edge it clings to; a centred axis ignores it and truncates the half.
  constexpr Position Anchors[3][3] = {
      {Position::TopLeft, Position::TopCenter, Position::TopRight},
      {Position::MiddleLeft, Position::MiddleCenter, Position::MiddleRight},
      {Position::BottomLeft, Position::BottomCenter, Position::BottomRight}};
  constexpr int LayerWidth = 21, LayerHeight = 10, Dx = 7, Dy = 4;
  for (const auto& [width, height] : {std::pair{101, 61}, std::pair{100, 60}}) {
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) {
        const int xs[] = {Dx, (width - LayerWidth) / 2, width - LayerWidth - Dx};
        const int ys[] = {Dy, (height - LayerHeight) / 2, height - LayerHeight - Dy};
        const Box expected{xs[column], ys[row], xs[column] + LayerWidth - 1,
                           ys[row] + LayerHeight - 1};
        const Bitmap placed = PlaceWatermark(drawn::Uniform(width, height, 24, Black),
                                             drawn::Uniform(LayerWidth, LayerHeight, 32, Red),
                                             ImageWatermarkAt(Anchors[row][column], Dx, Dy));
        ASSERT_TRUE(placed);
        EXPECT_EQ(ChangedBox(placed, Black), expected)
            << width << "x" << height << " row " << row << " column " << column;
      }
    }
  }
}

TEST(PlaceWatermark, SkipsLayersWithNoRoomOrOutsideTheImage) {
  const ProgramSettings no_room = ImageWatermarkAt(Position::TopLeft, 60, 5);
  const Bitmap kept =
      PlaceWatermark(drawn::Uniform(50, 50, 24, Black), drawn::Uniform(10, 10, 32, Red), no_room);
  ASSERT_TRUE(kept);
  EXPECT_EQ(ChangedBox(kept, Black), Box{});

  const ProgramSettings negative = ImageWatermarkAt(Position::TopLeft, -5, 5);
  const Bitmap outside =
      PlaceWatermark(drawn::Uniform(50, 50, 24, Black), drawn::Uniform(10, 10, 32, Red), negative);
  ASSERT_TRUE(outside);
  EXPECT_EQ(ChangedBox(outside, Black), Box{});
}

TEST(PlaceWatermark, BlendsByTheLayerAlpha) {
  const ProgramSettings settings = ImageWatermarkAt(Position::TopLeft, 0, 0);
  const Bitmap placed = PlaceWatermark(drawn::Uniform(4, 4, 24, Black),
                                       drawn::Uniform(2, 2, 32, {255, 255, 255, 128}), settings);
  const Rgba mixed = At(placed, 1, 1);
  EXPECT_NEAR(mixed.red, 128, 2);
  EXPECT_EQ(At(placed, 3, 3), Black);

  const Bitmap opaque = PlaceWatermark(drawn::Uniform(4, 4, 24, Black),
                                       drawn::Uniform(2, 2, 32, {255, 255, 255, 255}), settings);
  EXPECT_EQ(At(opaque, 0, 0), (Rgba{255, 255, 255, 255}));  // a full copy, not 254
}

TEST(PlaceWatermark, RotationTurnsTheLayerWithTransparentCorners) {
  ProgramSettings settings = ImageWatermarkAt(Position::TopLeft, 0, 0);
  settings.watermark.image_rotation = 90;
  const Bitmap turned =
      PlaceWatermark(drawn::Uniform(60, 60, 24, Black), drawn::Uniform(30, 10, 32, Red), settings);
  EXPECT_EQ(ChangedBox(turned, Black), (Box{0, 0, 9, 29}));

  settings.watermark.image_rotation = 45;
  const Bitmap slanted =
      PlaceWatermark(drawn::Uniform(80, 80, 24, Black), drawn::Uniform(30, 30, 32, Red), settings);
  const Box box = ChangedBox(slanted, Black);
  EXPECT_GE(box.right, 38);             // the canvas grew to about 30 x sqrt(2)
  EXPECT_EQ(At(slanted, 0, 0), Black);  // a corner of the grown canvas shows the image
  EXPECT_EQ(At(slanted, box.right / 2, box.bottom / 2), Red);

  // The text settings turn a text layer, not the image ones.
  settings.watermark.do_watermark = ToValue(WatermarkType::Text);
  settings.watermark.text_position = ToValue(Position::TopLeft);
  settings.watermark.text_x_offset = settings.watermark.text_y_offset = 0;
  const Bitmap text =
      PlaceWatermark(drawn::Uniform(60, 60, 24, Black), drawn::Uniform(30, 10, 32, Red), settings);
  EXPECT_EQ(ChangedBox(text, Black), (Box{0, 0, 29, 9}));
}

TEST(DrawImageLayer, AppliesOpacityAndGreyscale) {
  Bitmap picture = drawn::Uniform(6, 4, 32, {200, 100, 50, 255});
  drawn::Put(picture.get(), 0, 0, {200, 100, 50, 0});
  WatermarkSettings watermark;
  watermark.image_opacity = 128;
  const Bitmap layer = DrawImageLayer(picture.get(), watermark);
  ASSERT_TRUE(layer);
  EXPECT_EQ(FreeImage_GetWidth(layer.get()), 6u);
  EXPECT_EQ(FreeImage_GetHeight(layer.get()), 4u);
  EXPECT_EQ(At(layer, 0, 0).alpha, 0);
  EXPECT_EQ(At(layer, 5, 3).alpha, 128);
  EXPECT_NEAR(At(layer, 5, 3).red, 200, 1);

  watermark.image_greyscale = 1;
  watermark.image_opacity = 255;
  const int grey = (77 * 200 + 150 * 100 + 29 * 50) >> 8;
  EXPECT_EQ(At(DrawImageLayer(picture.get(), watermark), 3, 2), (Rgba{grey, grey, grey, 255}));

  EXPECT_FALSE(DrawImageLayer(nullptr, watermark));
}

TEST(DrawWatermark, ImageWatermarkIsCompositedOverThe24BitImage) {
  const Bitmap mark = drawn::Uniform(20, 10, 24, Red);
  const ProgramSettings settings = ImageWatermarkAt(Position::BottomRight, 10, 10);
  const Bitmap placed = DrawWatermark(drawn::Uniform(100, 50, 32, {0, 0, 0, 100}), settings,
                                      HolidayTokens(), {nullptr, mark.get()});
  ASSERT_TRUE(placed);
  EXPECT_EQ(FreeImage_GetBPP(placed.get()), 24u);
  EXPECT_EQ(ChangedBox(placed, Black), (Box{70, 30, 89, 39}));

  // Without a picture (one that could not be decoded) the image stays, now in 24 bits.
  const Bitmap unchanged =
      DrawWatermark(drawn::Uniform(10, 10, 32, {0, 0, 0, 100}), settings, HolidayTokens(), {});
  ASSERT_TRUE(unchanged);
  EXPECT_EQ(FreeImage_GetBPP(unchanged.get()), 24u);
  EXPECT_EQ(ChangedBox(unchanged, Black), Box{});
}

TEST(DrawWatermark, ImageWatermarkMatchesTheGoldenImage) {
  Bitmap mark = drawn::Uniform(40, 30, 32, {0, 0, 0, 0});
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const int dx = x - 20, dy = y - 15;
      if (dx * dx + dy * dy <= 14 * 14) drawn::Put(mark.get(), x, y, {255, 220, 0, 255});
      if (std::abs(dx) < 3) drawn::Put(mark.get(), x, y, {0, 0, 160, 255});
    }
  ProgramSettings settings = ImageWatermarkAt(Position::BottomRight, 8, 6);
  settings.watermark.image_opacity = 190;
  settings.watermark.image_rotation = 20;
  EXPECT_TRUE(drawn::MatchesGolden(
      DrawWatermark(drawn::Backdrop(120, 80), settings, HolidayTokens(), {nullptr, mark.get()}),
      "image_watermark"));
}

TEST(DrawWatermark, TextNeedsAFont) {
  ProgramSettings settings;
  settings.watermark.do_watermark = ToValue(WatermarkType::Text);
  settings.watermark.text = "Hi";
  settings.watermark.back_opacity = 255;
  settings.watermark.text_position = ToValue(Position::TopLeft);

  const Bitmap bare =
      DrawWatermark(drawn::Uniform(80, 60, 32, {9, 9, 9, 255}), settings, HolidayTokens(), {});
  ASSERT_TRUE(bare);
  EXPECT_EQ(FreeImage_GetBPP(bare.get()), 24u);
  EXPECT_EQ(ChangedBox(bare, {9, 9, 9, 255}), Box{});

  const WatermarkFont font = LoadWatermarkFont(settings);
  ASSERT_TRUE(font);
  const Bitmap marked = DrawWatermark(drawn::Uniform(80, 60, 24, {9, 9, 9, 255}), settings,
                                      HolidayTokens(), {font.get(), nullptr});
  const Box box = ChangedBox(marked, {9, 9, 9, 255});
  EXPECT_EQ(box.left, 10);
  EXPECT_EQ(box.top, 10);
}

TEST(LoadWatermarkFont, LoadsInstalledFacesAndRefusesOthers) {
  ProgramSettings settings;
  EXPECT_TRUE(LoadWatermarkFont(settings));  // the default "Arial"
  settings.watermark.font_style = ToValue(FontStyle::BoldItalic);
  settings.watermark.font_effect = ToValue(FontEffect::Strikethrough);
  const WatermarkFont styled = LoadWatermarkFont(settings);
  ASSERT_TRUE(styled);
  EXPECT_TRUE(styled->strikethrough);
  EXPECT_FALSE(styled->underline);

  settings.watermark.font = "NoSuchFace";
  EXPECT_FALSE(LoadWatermarkFont(settings));
  settings.watermark.font = "Arial";
  settings.watermark.font_size = 0;
  EXPECT_FALSE(LoadWatermarkFont(settings));
}
