// Artboards and "blend if" ranges in rebuilt pictures. The expected pixels follow from what the
// options mean (a board shows its members only on its rectangle, over its background; a layer's
// pixels count only where its own and the underlying colours lie within their ranges, fading
// linearly between split sliders), never from the code under test.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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
  Bitmap Rebuild(const PsdSpec& spec) {
    const std::string file = WritePsd(spec);
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    bool nothing_to_build = false;
    return RebuildFromLayers(bytes, 0, nothing_to_build, [this](const CompositePlan& plan) {
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
