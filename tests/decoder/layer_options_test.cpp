// Artboards and "blend if" ranges in rebuilt pictures. The expected pixels follow from what the
// options mean (a board shows its members only on its rectangle, over its background; a layer's
// pixels count only where its own and the underlying colours lie within their ranges, fading
// linearly between split sliders), never from the code under test.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "engine/isolation/decoder_protocol.h"
#include "tests/engine/layer_documents.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

class LayerOptionsTest : public ::testing::Test {
 protected:
  Bitmap Rebuild(const PsdSpec& spec, int64_t band_rows = 0) {
    const std::string file = WritePsd(spec);
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    bool nothing_to_build = false;
    return RebuildFromLayers(bytes, band_rows, nothing_to_build, [this](const CompositePlan& plan) {
      plan_ = plan;
      return true;
    });
  }
  CompositePlan plan_;
};

const Colour Red{1, 0, 0};
const Colour Green{0, 1, 0};
const Colour Blue{0, 0, 1};
const Colour White{1, 1, 1};
const Expected Clear{{0, 0, 0}, 0};

Expected Opaque(const Colour& colour) { return {colour, 1.0}; }

// An artboard's settings: its rectangle and background type (1 white, 2 black, 3 transparent,
// 4 the colour `colour`).
PsdLayer::Block Artboard(int top, int left, int bottom, int right, int background,
                         const Colour& colour = {}) {
  PsdDescriptorWriter rect("classFloatRect");
  rect.Double("Top ", top).Double("Left", left).Double("Btom", bottom).Double("Rght", right);
  PsdDescriptorWriter rgb("RGBC");
  rgb.Double("Rd  ", colour[0] * 255)
      .Double("Grn ", colour[1] * 255)
      .Double("Bl  ", colour[2] * 255);
  PsdDescriptorWriter settings("artboard");
  settings.Object("artboardRect", rect)
      .Long("artboardBackgroundType", background)
      .Object("Clr ", rgb);
  return {"artb", settings.Versioned()};
}

}  // namespace

TEST_F(LayerOptionsTest, AnArtboardShowsItsMembersOnlyOnItsBoardOverItsBackground) {
  // Three boards side by side on a transparent canvas 30 wide: a red one (columns 0..9) under a
  // blue layer over columns 5..14, a transparent one (12..21) under a green layer over 8..25,
  // and an empty white one (24..29).
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 30, 4);
  AddGroup(spec, {SolidLayer(spec, {0, 5, 4, 15}, Blue)}, "pass", 255);
  spec.layers.back().blocks.push_back(Artboard(0, 0, 4, 10, 4, Red));
  AddGroup(spec, {SolidLayer(spec, {0, 8, 4, 26}, Green)}, "pass", 255);
  spec.layers.back().blocks.push_back(Artboard(0, 12, 4, 22, 3));
  AddGroup(spec, {}, "pass", 255);
  spec.layers.back().blocks.push_back(Artboard(0, 24, 4, 30, 1));
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  EXPECT_EQ(plan_.left_out & LeftOutArtboards, 0u);
  const std::vector<std::pair<int, Expected>> row = {
      {0, Opaque(Red)}, {4, Opaque(Red)}, {5, Opaque(Blue)},   {9, Opaque(Blue)},
      {10, Clear},      {11, Clear},      {12, Opaque(Green)}, {21, Opaque(Green)},
      {22, Clear},      {23, Clear},      {24, Opaque(White)}, {29, Opaque(White)}};
  for (const auto& [x, expected] : row) {
    SCOPED_TRACE(x);
    ExpectPixel(image, x, 2, expected);
  }
}

namespace {

// Blending ranges of a record: the grey's and each of three channels', this layer's range
// before the underlying layer's, each black low, black high, white low, white high.
using Range = std::array<uint8_t, 4>;
constexpr Range Whole{0, 0, 255, 255};
std::string Ranges(const std::vector<std::pair<Range, Range>>& pairs) {
  std::string out;
  for (const auto& [own, under] : pairs) {
    for (const Range& range : {own, under}) {
      for (const uint8_t value : range) out.push_back(static_cast<char>(value));
    }
  }
  return out;
}

// A layer over columns 0..15 of two rows whose colour at column x is `colour(x)`.
PsdLayer RampLayer(const PsdSpec& spec, const std::function<Colour(uint32_t)>& colour) {
  PsdLayer layer = SolidLayer(spec, {0, 0, 2, 16}, {0, 0, 0});
  for (int c = 0; c < 3; ++c) {
    layer.channels[static_cast<size_t>(c)].plane =
        PsdLayerPlane(16, 2, spec.depth, [&](uint32_t x, uint32_t) {
          return PsdSampleOf(colour(x)[static_cast<size_t>(c)], spec.depth);
        });
  }
  return layer;
}

double Ramp(double level, double low, double high) {
  return std::clamp((level - low) / (high - low), 0.0, 1.0);
}

}  // namespace

TEST_F(LayerOptionsTest, BlendIfRangesFadeTheLayerBetweenTheirSplitSliders) {
  // Levels 0, 17, ... 255 along the row.
  const auto level = [](int x) { return 17.0 * x; };
  // Underlying layer, red channel: a blue layer shows where the red beneath is 102 or more,
  // fading in from 34.
  {
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 16, 2);
    spec.layers.push_back(RampLayer(spec, [&](uint32_t x) {
      return Colour{level(static_cast<int>(x)) / 255, 0, 0};
    }));
    PsdLayer top = SolidLayer(spec, {0, 0, 2, 16}, Blue);
    top.blending_ranges =
        Ranges({{Whole, Whole}, {Whole, {34, 102, 255, 255}}, {Whole, Whole}, {Whole, Whole}});
    spec.layers.push_back(top);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    EXPECT_EQ(plan_.left_out & LeftOutBlendIf, 0u);
    for (int x = 0; x < 16; ++x) {
      SCOPED_TRACE(x);
      const Expected under{{level(x) / 255, 0, 0}, 1};
      ExpectPixel(image, x, 1, Over(under, Blue, Ramp(level(x), 34, 102)), 1.5);
    }
  }
  // This layer, grey: a grey ramp over black shows up to 136 and fades out by 204. Grey pixels
  // are their own grey whatever the weights of the channels.
  {
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 16, 2);
    spec.layers.push_back(SolidLayer(spec, {0, 0, 2, 16}, {0, 0, 0}));
    PsdLayer top = RampLayer(spec, [&](uint32_t x) {
      const double grey = level(static_cast<int>(x)) / 255;
      return Colour{grey, grey, grey};
    });
    top.blending_ranges =
        Ranges({{{0, 0, 136, 204}, Whole}, {Whole, Whole}, {Whole, Whole}, {Whole, Whole}});
    spec.layers.push_back(top);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    for (int x = 0; x < 16; ++x) {
      SCOPED_TRACE(x);
      const double grey = level(x) / 255;
      const double shown = 1 - Ramp(level(x), 136, 204);
      ExpectPixel(image, x, 0, Over({{0, 0, 0}, 1}, {grey, grey, grey}, shown), 1.5);
    }
  }
  // Ranges on a group are not drawn, and said so.
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 16, 2);
  AddGroup(spec, {SolidLayer(spec, {0, 0, 2, 16}, Red)}, "pass", 255);
  spec.layers.back().blending_ranges = Ranges({{{0, 0, 100, 100}, Whole}});
  ASSERT_TRUE(Rebuild(spec));
  EXPECT_NE(plan_.left_out & LeftOutBlendIf, 0u);
}

TEST_F(LayerOptionsTest, AKnockoutRevealsWhatLiesBeneathItsGroupAsFarAsItsOpacityReaches) {
  // Green beneath a group whose red layer covers the canvas; over columns 2..5 of the red, a blue
  // knockout layer. Its opacity decides how much of the group it clears, its fill how much of it
  // then shows there.
  struct Case {
    uint8_t opacity;
    int fill;
    std::function<Expected()> hole;
  };
  const Expected green{{0, 1, 0}, 1};
  const std::vector<Case> cases = {
      {255, 0, [&] { return green; }},
      {255, 128, [&] { return Over(green, Blue, 128 / 255.0); }},
      {128, 0, [&] { return Over(green, Red, 1 - 128 / 255.0); }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << int{test.opacity} << " " << test.fill);
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 8, 2);
    spec.layers.push_back(SolidLayer(spec, {0, 0, 2, 8}, Green));
    PsdLayer knockout = SolidLayer(spec, {0, 2, 2, 6}, Blue);
    knockout.opacity = test.opacity;
    knockout.fill_opacity = test.fill;
    knockout.blocks.push_back({"knko", std::string("\x01\0\0\0", 4)});
    AddGroup(spec, {SolidLayer(spec, {0, 0, 2, 8}, Red), knockout}, "norm", 255);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    EXPECT_EQ(plan_.left_out & LeftOutKnockouts, 0u);
    for (int x = 0; x < 8; ++x) {
      SCOPED_TRACE(x);
      ExpectPixel(image, x, 1, x >= 2 && x < 6 ? test.hole() : Opaque(Red), 1.5);
    }
  }
  // In a pass-through group it reveals what lay beneath the group; at the top, the background
  // layer (a bottom layer without a transparency channel), or transparency without one. A
  // knockout without fill shows only what it reveals.
  struct Place {
    const char* group;  // the group's mode; none for the top
    bool background;
    Expected hole;
  };
  for (const Place& place : {Place{"pass", true, green}, Place{"pass", false, green},
                             Place{"", true, green}, Place{"", false, Clear}}) {
    SCOPED_TRACE(testing::Message() << place.group << " " << place.background);
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 8, 2);
    // An opaque layer with a transparency channel is no background.
    spec.layers.push_back(SolidLayer(spec, {0, 0, 2, 8}, Green, place.background ? 1.0 : 0.999));
    PsdLayer knockout = SolidLayer(spec, {0, 2, 2, 6}, Blue);
    knockout.fill_opacity = 0;
    knockout.blocks.push_back({"knko", std::string("\x01\0\0\0", 4)});
    if (*place.group) {
      AddGroup(spec, {SolidLayer(spec, {0, 0, 2, 8}, Red), knockout}, place.group, 255);
    } else {
      spec.layers.push_back(SolidLayer(spec, {0, 0, 2, 8}, Red));
      spec.layers.push_back(knockout);
    }
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    EXPECT_EQ(plan_.left_out & LeftOutKnockouts, 0u);
    for (int x = 0; x < 8; ++x) {
      SCOPED_TRACE(x);
      if (x >= 2 && x < 6) {
        const Rgba16 pixel = ReadPixel(image, x, 1);
        EXPECT_NEAR(pixel.alpha / 257.0, place.hole.alpha * 255, 1.5);
        if (place.hole.alpha > 0) ExpectPixel(image, x, 1, place.hole, 1.5);
      } else {
        ExpectPixel(image, x, 1, Opaque(Red), 1.5);
      }
    }
    // The same in bands of one row, whose backdrops are each band's own.
    const Bitmap banded = Rebuild(spec, 1);
    ASSERT_TRUE(banded);
    EXPECT_LE(ComparePictures(banded, image).max_colour, 1.0);
  }
}

TEST_F(LayerOptionsTest, AShapeStrokeIsToldAsLeftOutOnlyWhereNoPixelsHoldIt) {
  // A shape's stored pixels hold its stroke ("vstk"), which is then drawn from them; a shape
  // drawn from its settings (a fill without pixels) has none, and the run must say so. A stroke
  // that is off, or a block that breaks its bytes, is not reported.
  const auto stroke_block = [](bool enabled) {
    PsdDescriptorWriter settings("strokeStyle");
    settings.Long("strokeStyleVersion", 2).Bool("strokeEnabled", enabled).Bool("fillEnabled", true);
    return PsdLayer::Block{"vstk", settings.Versioned()};
  };
  PsdDescriptorWriter green("RGBC");
  green.Double("Rd  ", 0).Double("Grn ", 255).Double("Bl  ", 0);
  PsdDescriptorWriter fill("null");
  fill.Object("Clr ", green);
  struct Case {
    PsdLayer::Block block;
    bool pixels;
    bool told;
  };
  for (const Case& test :
       std::vector<Case>{{stroke_block(true), true, false},
                         {stroke_block(true), false, true},
                         {stroke_block(false), false, false},
                         {{"vstk", std::string("\0\0\0\x10\0\0", 6)}, false, false}}) {
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
    if (test.pixels) {
      spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, Green));
    } else {
      PsdLayer shape;
      shape.opacity = 255;
      shape.blocks.push_back({"SoCo", fill.Versioned()});
      spec.layers.push_back(shape);
    }
    spec.layers.back().blocks.push_back(test.block);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    EXPECT_EQ((plan_.left_out & LeftOutShapeStrokes) != 0, test.told);
    ExpectPixel(image, 1, 1, Opaque(Green));
  }
}
