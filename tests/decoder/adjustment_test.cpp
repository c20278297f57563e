// Adjustment and fill layers rebuilt in this process. Every expected value is worked out here
// from the adjustment's published definition (invert: 1 - v; posterize to n levels: equal bins,
// evenly spaced outputs; threshold: white from the level up, on Rec. 601 luma for RGB), never
// taken from the code under test.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

class AdjustmentTest : public ::testing::Test {
 protected:
  Bitmap Rebuild(const PsdSpec& spec) {
    const std::string file = WritePsd(spec);
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    return RebuildFromLayers(bytes, 0, nothing_to_build_);
  }
  bool nothing_to_build_ = false;
};

// An adjustment layer as Photoshop stores one: no rectangle, no pixels, its settings in a block.
PsdLayer Adjustment(const std::string& key, const std::string& data) {
  PsdLayer layer;
  layer.blocks.push_back({key, data});
  return layer;
}

std::string TwoBytes(int value) {
  return {static_cast<char>(value >> 8), static_cast<char>(value), '\0', '\0'};
}

// A mask over `rect` that shows the layer inside (255) and hides it outside (0).
void MaskTo(PsdLayer& layer, std::array<int32_t, 4> rect, uint16_t depth) {
  layer.has_mask = true;
  const auto width = static_cast<uint32_t>(rect[3] - rect[1]);
  const auto height = static_cast<uint32_t>(rect[2] - rect[0]);
  layer.mask = {rect[0],
                rect[1],
                rect[2],
                rect[3],
                0,
                false,
                PsdLayerPlane(width, height, depth,
                              [depth](uint32_t, uint32_t) { return PsdSampleOf(1.0, depth); })};
  layer.channels.push_back({-2, ""});
}

double Posterized(double v, int levels) {
  return std::min(std::floor(v * levels), levels - 1.0) / (levels - 1.0);
}

Expected Opaque(Colour colour) { return {colour, 1.0}; }

Colour Quantised(Colour colour) {
  return {Stored(colour[0], 8), Stored(colour[1], 8), Stored(colour[2], 8)};
}

}  // namespace

TEST_F(AdjustmentTest, InvertChangesWhatLiesBelowWithItsOpacityAndMask) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 4);
  const Colour back = Quantised({0.2, 0.5, 0.9});
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 6}, back));
  PsdLayer invert = Adjustment("nvrt", "");
  MaskTo(invert, {0, 0, 4, 3}, 8);  // the left half only
  spec.layers.push_back(invert);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 1, 1, Opaque({1 - back[0], 1 - back[1], 1 - back[2]}));
  ExpectPixel(image, 4, 1, Opaque(back));

  // At half opacity the result lies halfway between.
  spec.layers.back().opacity = 128;
  const double t = 128 / 255.0;
  const Bitmap half = Rebuild(spec);
  ASSERT_TRUE(half);
  Colour mixed{};
  for (int c = 0; c < 3; ++c) mixed[c] = back[c] + t * ((1 - back[c]) - back[c]);
  ExpectPixel(half, 1, 1, Opaque(mixed));
}

TEST_F(AdjustmentTest, AnAdjustmentLeavesTransparencyAloneAndStaysInsideItsGroup) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 4);
  const Colour left = Quantised({0.1, 0.3, 0.6}), right = Quantised({0.8, 0.7, 0.2});
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 3}, left));  // the right half is transparent
  // An isolated group whose adjustment sees only the group's own layer.
  AddGroup(spec, {SolidLayer(spec, {0, 3, 2, 6}, right), Adjustment("nvrt", "")}, "norm", 255);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 1, 1, Opaque(left));  // outside the group: untouched
  ExpectPixel(image, 4, 1, Opaque({1 - right[0], 1 - right[1], 1 - right[2]}));
  ExpectPixel(image, 4, 3, {{0, 0, 0}, 0.0});  // nothing below: still transparent

  // Passed through, the group's adjustment reaches the layer below it too.
  std::copy("pass", "pass" + 5, spec.layers.back().blend_key);
  const Bitmap passed = Rebuild(spec);
  ASSERT_TRUE(passed);
  ExpectPixel(passed, 1, 1, Opaque({1 - left[0], 1 - left[1], 1 - left[2]}));
}

TEST_F(AdjustmentTest, PosterizeGivesEvenlySpacedLevels) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 8, 1);
  // One column per level pair, across the range.
  PsdLayer ramp = SolidLayer(spec, {0, 0, 1, 8}, {0, 0, 0});
  for (int c = 0; c < 3; ++c) {
    ramp.channels[static_cast<size_t>(c)].plane =
        PsdLayerPlane(8, 1, 8, [c](uint32_t x, uint32_t) { return x * 34 + c * 5; });
  }
  spec.layers.push_back(ramp);
  for (const int levels : {2, 4, 9}) {
    SCOPED_TRACE(levels);
    if (spec.layers.size() > 1) spec.layers.pop_back();
    spec.layers.push_back(Adjustment("post", TwoBytes(levels)));
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    for (int x = 0; x < 8; ++x) {
      Colour want{};
      for (int c = 0; c < 3; ++c) want[c] = Posterized((x * 34 + c * 5) / 255.0, levels);
      ExpectPixel(image, x, 0, Opaque(want), 0.5);
    }
  }
}

TEST_F(AdjustmentTest, ThresholdTurnsGreyAndColourBlackOrWhite) {
  PsdSpec grey = PlaceholderDocument(PsdMode::Greyscale, 8, 4, 1);
  PsdLayer ramp = SolidLayer(grey, {0, 0, 1, 4}, {0, 0, 0});
  const int levels[] = {10, 127, 128, 250};
  ramp.channels[0].plane = PsdLayerPlane(4, 1, 8, [&](uint32_t x, uint32_t) { return levels[x]; });
  grey.layers.push_back(ramp);
  grey.layers.push_back(Adjustment("thrs", TwoBytes(128)));
  const Bitmap image = Rebuild(grey);
  ASSERT_TRUE(image);
  for (int x = 0; x < 4; ++x) {
    const double want = levels[x] >= 128 ? 1.0 : 0.0;
    ExpectPixel(image, x, 0, Opaque({want, want, want}), 0);
  }

  // RGB is taken on its luma: pure green is bright, pure blue dark.
  PsdSpec rgb = PlaceholderDocument(PsdMode::Rgb, 8, 2, 1);
  rgb.layers.push_back(SolidLayer(rgb, {0, 0, 1, 1}, {0, 1, 0}));
  rgb.layers.push_back(SolidLayer(rgb, {0, 1, 1, 2}, {0, 0, 1}));
  rgb.layers.push_back(Adjustment("thrs", TwoBytes(100)));
  const Bitmap colour = Rebuild(rgb);
  ASSERT_TRUE(colour);
  ExpectPixel(colour, 0, 0, Opaque({1, 1, 1}), 0);  // luma 0.587 * 255 = 150
  ExpectPixel(colour, 1, 0, Opaque({0, 0, 0}), 0);  // luma 0.114 * 255 = 29
}

TEST_F(AdjustmentTest, SolidColourFillsDrawTheirColourWithinTheirMask) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 4);
  const Colour back = Quantised({0.2, 0.2, 0.2});
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 6}, back));
  PsdDescriptorWriter colour("RGBC");
  colour.Double("Rd  ", 255).Double("Grn ", 102).Double("Bl  ", 0);
  PsdDescriptorWriter fill("null");
  fill.Object("Clr ", colour);
  PsdLayer layer = Adjustment("SoCo", fill.Versioned());
  MaskTo(layer, {0, 3, 4, 6}, 8);
  layer.opacity = 255;
  spec.layers.push_back(layer);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 4, 2, Opaque({1.0, 0.4, 0.0}));
  ExpectPixel(image, 1, 2, Opaque(back));

  // A fill alone is something to draw; it covers a transparent canvas where its mask lets it.
  spec.layers.erase(spec.layers.begin());
  const Bitmap alone = Rebuild(spec);
  ASSERT_TRUE(alone);
  ExpectPixel(alone, 4, 2, Opaque({1.0, 0.4, 0.0}));
  ExpectPixel(alone, 1, 2, {{0, 0, 0}, 0.0});

  // Greyscale documents take a grey fill as ink: 25% ink is 75% grey.
  PsdSpec grey = PlaceholderDocument(PsdMode::Greyscale, 8, 2, 2);
  PsdDescriptorWriter ink("Grsc");
  ink.Double("Gry ", 25);
  PsdDescriptorWriter grey_fill("null");
  grey_fill.Object("Clr ", ink);
  grey.layers.push_back(Adjustment("SoCo", grey_fill.Versioned()));
  const Bitmap grey_image = Rebuild(grey);
  ASSERT_TRUE(grey_image);
  ExpectPixel(grey_image, 1, 1, Opaque({0.75, 0.75, 0.75}));
}

TEST_F(AdjustmentTest, AnAdjustmentWeDoNotDrawChangesNothing) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 3, 3);
  const Colour back = Quantised({0.3, 0.6, 0.1});
  spec.layers.push_back(SolidLayer(spec, {0, 0, 3, 3}, back));
  spec.layers.push_back(Adjustment("levl", std::string(40, '\0')));
  // A damaged posterize block is not drawn either.
  spec.layers.push_back(Adjustment("post", std::string(1, '\0')));
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 1, 1, Opaque(back));
}
