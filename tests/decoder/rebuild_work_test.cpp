// How the decoder's rebuild from the layers spends memory and work, in this process: drawn band by
// band it gives the picture of the whole canvas, nested groups of every kind compose at any depth,
// and what cannot show is never decoded. A layer that must not be decoded carries damaged data,
// so decoding it would fail the rebuild.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "tests/engine/layer_documents.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/large_documents.h"
#include "tests/support/psd_writer.h"

namespace {

constexpr auto Damaged = static_cast<PsdChannelCompression>(9);  // no reader knows it

class RebuildWork : public ::testing::Test {
 protected:
  // The picture rebuilt from the layers, in bands of `band_rows_` (0: as memory requires).
  Bitmap LoadBytes(const std::string& bytes) {
    const std::vector<uint8_t> file(bytes.begin(), bytes.end());
    bool nothing_to_build = false;
    return RebuildFromLayers(file, band_rows_, nothing_to_build);
  }
  Bitmap Load(const PsdSpec& spec) { return LoadBytes(WritePsd(spec)); }

  int64_t band_rows_ = 0;
};

int ColourChannels(const PsdSpec& spec) {
  return spec.mode == PsdMode::Greyscale ? 1 : spec.mode == PsdMode::Cmyk ? 4 : 3;
}

// A layer over `rect` whose channels all vary across it, differently for each `seed`: a band
// that starts on a wrong row or column changes the picture.
PsdLayer GradientLayer(const PsdSpec& spec, std::array<int32_t, 4> rect, int seed,
                       const char* mode = "norm") {
  PsdLayer layer;
  layer.top = rect[0];
  layer.left = rect[1];
  layer.bottom = rect[2];
  layer.right = rect[3];
  std::copy_n(mode, 5, layer.blend_key);
  const auto width = static_cast<uint32_t>(layer.right - layer.left);
  const auto height = static_cast<uint32_t>(layer.bottom - layer.top);
  for (int16_t id = -1; id < ColourChannels(spec); ++id) {
    layer.channels.push_back(
        {id, PsdLayerPlane(width, height, spec.depth, [&](uint32_t x, uint32_t y) {
           const int k = id + 2;
           const double value = ((x * (3 + k) + y * (5 + seed) + k * seed) % 29) / 28.0;
           return PsdSampleOf(id < 0 ? 0.25 + 0.75 * value : value, spec.depth);
         })});
  }
  return layer;
}

void AddMask(PsdLayer& layer, std::array<int32_t, 4> rect, uint8_t outside) {
  layer.has_mask = true;
  layer.mask.top = rect[0];
  layer.mask.left = rect[1];
  layer.mask.bottom = rect[2];
  layer.mask.right = rect[3];
  layer.mask.default_colour = outside;
  const auto width = static_cast<uint32_t>(rect[3] - rect[1]);
  const auto height = static_cast<uint32_t>(rect[2] - rect[0]);
  layer.mask.plane = PsdLayerPlane(width, height, 8,
                                   [](uint32_t x, uint32_t y) { return (x * 37 + y * 11) % 256; });
  layer.channels.push_back({-2, {}});
}

std::string Triangle() {
  PsdSubpath path;
  path.knots = {PsdCornerKnot(0.1, 0.05), PsdCornerKnot(0.95, 0.4), PsdCornerKnot(0.3, 0.97)};
  return PsdVectorMaskBlock({path});
}

// Everything the compositor draws, on a canvas whose sides divide by no band height tried:
// layers over the canvas's edges, blend modes, masks, vector masks, clipping to a layer and to a
// group, and groups of every kind nested three deep.
PsdSpec RichDocument(PsdMode mode, uint16_t depth, PsdChannelCompression compression) {
  PsdSpec spec;
  spec.mode = mode;
  spec.depth = depth;
  spec.width = 23;
  spec.height = 17;
  spec.channels = static_cast<uint16_t>(ColourChannels(spec));
  spec.omit_composite = true;
  spec.layers_in_tagged_block = depth > 8;
  spec.layers.push_back(GradientLayer(spec, {-3, -2, 15, 20}, 1));
  spec.layers.push_back(GradientLayer(spec, {2, 4, 19, 21}, 2, "mul "));
  PsdLayer clipped = GradientLayer(spec, {0, 0, 17, 23}, 3, "scrn");
  clipped.clipped = true;
  spec.layers.push_back(clipped);

  PsdSpec inner = spec;
  inner.layers.clear();
  PsdLayer masked = GradientLayer(spec, {1, 1, 16, 22}, 4);
  AddMask(masked, {3, 2, 12, 18}, 200);
  PsdSpec innermost = inner;
  AddGroup(innermost, {masked}, "pass", 255);
  innermost.layers.back().blocks.push_back({"vmsk", Triangle()});
  std::vector<PsdLayer> middle = {GradientLayer(spec, {0, 3, 14, 23}, 5, "hue ")};
  for (PsdLayer& layer : innermost.layers) middle.push_back(layer);
  AddGroup(inner, middle, "norm", 180);
  std::vector<PsdLayer> outer = {GradientLayer(spec, {4, 0, 17, 12}, 6, "diff")};
  for (PsdLayer& layer : inner.layers) outer.push_back(layer);
  AddGroup(spec, outer, "pass", 200);
  AddMask(spec.layers.back(), {1, 1, 12, 14}, 255);

  // A group clipped to the group below it, and a vector-masked layer at half opacity on top.
  AddGroup(spec, {GradientLayer(spec, {0, 0, 9, 23}, 7, "over")}, "norm", 255);
  spec.layers.back().clipped = true;
  PsdLayer top = GradientLayer(spec, {5, 5, 17, 23}, 8);
  top.opacity = 128;
  top.blocks.push_back({"vmsk", Triangle()});
  spec.layers.push_back(top);
  for (PsdLayer& layer : spec.layers) layer.compression = compression;
  return spec;
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
  if (FreeImage_GetImageType(a.get()) != FreeImage_GetImageType(b.get()) ||
      FreeImage_GetBPP(a.get()) != FreeImage_GetBPP(b.get()) ||
      FreeImage_GetWidth(a.get()) != FreeImage_GetWidth(b.get()) ||
      FreeImage_GetHeight(a.get()) != FreeImage_GetHeight(b.get())) {
    return false;
  }
  const unsigned row = FreeImage_GetLine(a.get());
  for (unsigned y = 0; y < FreeImage_GetHeight(a.get()); ++y) {
    const int line = static_cast<int>(y);
    if (std::memcmp(FreeImage_GetScanLine(a.get(), line), FreeImage_GetScanLine(b.get(), line),
                    row) != 0) {
      return false;
    }
  }
  return true;
}

TEST_F(RebuildWork, BandsOfAnyHeightGiveThePictureOfTheWholeCanvas) {
  struct Case {
    PsdMode mode;
    uint16_t depth;
    PsdChannelCompression compression;
  };
  for (const Case& test : {Case{PsdMode::Rgb, 8, PsdChannelCompression::Rle},
                           Case{PsdMode::Rgb, 16, PsdChannelCompression::ZipPrediction},
                           Case{PsdMode::Rgb, 32, PsdChannelCompression::Zip},
                           Case{PsdMode::Greyscale, 8, PsdChannelCompression::Raw},
                           Case{PsdMode::Cmyk, 8, PsdChannelCompression::Rle}}) {
    SCOPED_TRACE(testing::Message()
                 << "mode " << static_cast<int>(test.mode) << ", depth " << test.depth);
    const std::string bytes = WritePsd(RichDocument(test.mode, test.depth, test.compression));
    const Bitmap whole = LoadBytes(bytes);
    ASSERT_TRUE(whole);
    // The picture is not a blank one that any banding would reproduce.
    const Rgba16 first = ReadPixel(whole, 0, 0);
    bool varies = false;
    for (int y = 0; y < 17 && !varies; ++y) {
      for (int x = 0; x < 23 && !varies; ++x) varies = ReadPixel(whole, x, y).red != first.red;
    }
    EXPECT_TRUE(varies);
    for (const int64_t rows : {1, 4, 9}) {
      band_rows_ = rows;
      const Bitmap banded = LoadBytes(bytes);
      band_rows_ = 0;
      ASSERT_TRUE(banded) << rows << " rows";
      EXPECT_TRUE(SamePixels(whole, banded)) << rows << " rows";
    }
  }
}

// The canvas-wide layer at the heart of a nesting document, through ten groups of `kind`, at a
// pixel where the groups' masks let `mask` through.
void ExpectThroughTenLevels(const Bitmap& image, int x, int y, NestedGroupKind kind, double mask) {
  using V = NestedGroupValues;
  const Rgba16 pixel = ReadPixel(image, x, y);
  EXPECT_NEAR(pixel.red / 257.0, V::Red, 1.0) << x << "," << y;
  EXPECT_NEAR(pixel.green / 257.0, V::Green, 1.0) << x << "," << y;
  EXPECT_NEAR(pixel.blue / 257.0, V::Blue, 1.0) << x << "," << y;
  EXPECT_NEAR(pixel.alpha / 257.0, NestedGroupsAlpha(kind, 10, mask) * 255, 1.0) << x << "," << y;
}

TEST_F(RebuildWork, TenNestedGroupsOfEachKindCompose) {
  constexpr uint32_t Width = 160, Height = 131;
  for (const NestedGroupKind kind :
       {NestedGroupKind::PassThroughFaded, NestedGroupKind::PassThroughMasked,
        NestedGroupKind::Normal, NestedGroupKind::NormalMasked}) {
    SCOPED_TRACE(NestedGroupKindName(kind));
    const std::string bytes = NestedGroupsDocument(kind, 10, Width, Height);
    for (const int64_t rows : {0, 7}) {
      band_rows_ = rows;
      const Bitmap image = LoadBytes(bytes);
      ASSERT_TRUE(image) << rows << " rows";
      ExpectThroughTenLevels(image, Width - 1, Height - 1, kind, 1.0);
      // Near the far corner of the masks' own rectangle, where they let 252 of 255 through.
      ExpectThroughTenLevels(image, 63, 62, kind, 252 / 255.0);
    }
  }
}

TEST_F(RebuildWork, LayersWithoutColourChannelsHaveNoPixels) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 8, 6);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 3, 3}, {1, 0, 0}));
  // Records over the whole canvas with no channel, or with a transparency channel alone.
  PsdLayer bare;
  bare.bottom = 6;
  bare.right = 8;
  spec.layers.push_back(bare);
  PsdLayer alpha_only = bare;
  alpha_only.channels.push_back({-1, std::string(48, '\xFF')});
  spec.layers.push_back(alpha_only);
  // What is clipped to a layer without pixels is hidden with it.
  PsdLayer clipped = SolidLayer(spec, {0, 0, 6, 8}, {0, 0, 1});
  clipped.clipped = true;
  spec.layers.push_back(clipped);
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  const Rgba16 square = ReadPixel(image, 1, 1);
  EXPECT_EQ(square.red, 0xFFFF);
  EXPECT_EQ(square.blue, 0);
  EXPECT_EQ(square.alpha, 0xFFFF);
  EXPECT_EQ(ReadPixel(image, 6, 4).alpha, 0);
}

TEST_F(RebuildWork, NothingBelowALayerThatCoversOpaquelyIsDecoded) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 5);
  PsdLayer damaged = SolidLayer(spec, {0, 0, 5, 6}, {0, 1, 0});
  damaged.compression = Damaged;
  spec.layers.push_back(damaged);
  spec.layers.push_back(SolidLayer(spec, {-1, -1, 6, 7}, {0.2, 0.4, 0.6}));
  for (const int64_t rows : {0, 2}) {
    band_rows_ = rows;
    const Bitmap image = Load(spec);
    ASSERT_TRUE(image) << rows << " rows";
    const Rgba16 pixel = ReadPixel(image, 3, 2);
    EXPECT_EQ(pixel.red, 51 * 257);
    EXPECT_EQ(pixel.alpha, 0xFFFF);
  }
  band_rows_ = 0;

  // A cover that lets anything through (transparency, mask, another mode, part of the canvas)
  // hides nothing: the damaged layer is decoded and the rebuild fails.
  PsdSpec translucent = spec;
  translucent.layers.back() = SolidLayer(spec, {0, 0, 5, 6}, {0.2, 0.4, 0.6}, 0.99);
  EXPECT_FALSE(Load(translucent));
  PsdSpec masked = spec;
  AddMask(masked.layers.back(), {0, 0, 2, 2}, 255);
  EXPECT_FALSE(Load(masked));
  PsdSpec multiplied = spec;
  std::copy_n("mul ", 5, multiplied.layers.back().blend_key);
  EXPECT_FALSE(Load(multiplied));
  PsdSpec partial = spec;
  partial.layers.back() = SolidLayer(spec, {0, 0, 5, 5}, {0.2, 0.4, 0.6});
  EXPECT_FALSE(Load(partial));
}

// `bytes` with the compression field of the channel data made of `plane` (raw) damaged.
std::string DamageChannel(std::string bytes, const std::string& plane) {
  const size_t at = bytes.find(std::string(2, '\0') + plane);
  if (at != std::string::npos) bytes[at + 1] = 9;
  return bytes;
}

TEST_F(RebuildWork, LayersThatCannotShowAreNotDecoded) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 5);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 5, 6}, {0.2, 0.4, 0.6}, 0.5));
  PsdLayer damaged = SolidLayer(spec, {0, 0, 5, 6}, {0, 1, 0});
  damaged.compression = Damaged;
  spec.layers.push_back(damaged);
  EXPECT_FALSE(Load(spec));  // drawn, it fails

  PsdSpec transparent = spec;
  transparent.layers.back().opacity = 0;
  EXPECT_TRUE(Load(transparent));
  PsdSpec unfilled = spec;
  unfilled.layers.back().fill_opacity = 0;
  EXPECT_TRUE(Load(unfilled));
  PsdSpec empty_group = spec;
  empty_group.layers.pop_back();
  AddGroup(empty_group, {damaged}, "pass", 0);
  EXPECT_TRUE(Load(empty_group));

  // Transparency that is zero everywhere: the colours are never looked at.
  PsdSpec clear = spec;
  clear.layers.back() = SolidLayer(spec, {0, 0, 5, 6}, {0, 90 / 255.0, 0}, 0.5);
  clear.layers.back().channels.front().plane.assign(30, '\0');
  const std::string green(30, static_cast<char>(90));
  EXPECT_TRUE(LoadBytes(DamageChannel(WritePsd(clear), green)));
  clear.layers.back().channels.front().plane.assign(30, '\x01');
  EXPECT_FALSE(LoadBytes(DamageChannel(WritePsd(clear), green)));
}

TEST_F(RebuildWork, ABaseWithoutOpacityStillShapesWhatIsClippedToIt) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 2);
  PsdLayer base = SolidLayer(spec, {0, 0, 2, 3}, {1, 0, 0});
  base.opacity = 0;
  spec.layers.push_back(base);
  PsdLayer clipped = SolidLayer(spec, {0, 0, 2, 6}, {0, 0, 1});
  clipped.clipped = true;
  spec.layers.push_back(clipped);
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  EXPECT_EQ(ReadPixel(image, 1, 1).blue, 0xFFFF);
  EXPECT_EQ(ReadPixel(image, 1, 1).red, 0);
  EXPECT_EQ(ReadPixel(image, 4, 1).alpha, 0);
}

}  // namespace
