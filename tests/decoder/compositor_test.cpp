// The decoder's layer reader and compositor in this process: documents saved without a real
// composite, rebuilt from their layers. Every expected pixel is computed from the compositing
// formulas (W3C source-over with blending, straight colour), never by the code under test.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

class RebuildTest : public ::testing::Test {
 protected:
  // The picture the decoder makes of the document's layers. The bytes are exactly the file's, so
  // a read past its end is caught by the address sanitizer.
  Bitmap Load(const PsdSpec& spec) { return Rebuild(WritePsd(spec)); }
  Bitmap Rebuild(const std::string& file) {
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    return RebuildFromLayers(bytes, 0, nothing_to_build_);
  }
  bool nothing_to_build_ = false;
};

struct Format {
  uint16_t depth;
  PsdChannelCompression compression;
};

class RebuildFormats : public RebuildTest, public ::testing::WithParamInterface<Format> {};

// A background and a half-transparent layer hanging over the left and top edges of the canvas.
TEST_P(RebuildFormats, HalfTransparentLayerOverBackground) {
  const auto [depth, compression] = GetParam();
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, depth, 9, 7);
  const Colour background{0.2, 0.4, 0.6}, top{0.9, 0.1, 0.3};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 7, 9}, background));
  spec.layers.push_back(SolidLayer(spec, {-2, -3, 4, 5}, top, 0.5));
  for (PsdLayer& layer : spec.layers) layer.compression = compression;
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetWidth(image.get()), 9u);
  ASSERT_EQ(FreeImage_GetHeight(image.get()), 7u);

  Expected under{
      {Stored(background[0], depth), Stored(background[1], depth), Stored(background[2], depth)},
      1.0};
  const Colour stored_top{Stored(top[0], depth), Stored(top[1], depth), Stored(top[2], depth)};
  const Expected covered = Over(under, stored_top, Stored(0.5, depth));
  ExpectPixel(image, 0, 0, covered);
  ExpectPixel(image, 1, 3, covered);
  ExpectPixel(image, 2, 4, under);  // below the layer
  ExpectPixel(image, 5, 0, under);  // right of it
  ExpectPixel(image, 8, 6, under);
}

INSTANTIATE_TEST_SUITE_P(DepthsAndCompressions, RebuildFormats,
                         ::testing::Values(Format{8, PsdChannelCompression::Raw},
                                           Format{8, PsdChannelCompression::Rle},
                                           Format{8, PsdChannelCompression::Zip},
                                           Format{8, PsdChannelCompression::ZipPrediction},
                                           Format{16, PsdChannelCompression::Raw},
                                           Format{16, PsdChannelCompression::Rle},
                                           Format{16, PsdChannelCompression::ZipPrediction},
                                           Format{32, PsdChannelCompression::Zip},
                                           Format{32, PsdChannelCompression::ZipPrediction}));

TEST_F(RebuildTest, ZipPredictionKeepsAGradientAcrossTheRow) {
  // Prediction works on differences along each row: a gradient exercises it more than a fill.
  for (const uint16_t depth : {8, 16, 32}) {
    SCOPED_TRACE(depth);
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, depth, 40, 3);
    PsdLayer layer = SolidLayer(spec, {0, 0, 3, 40}, {0, 0, 0});
    for (PsdLayer::Channel& channel : layer.channels) {
      channel.plane = PsdLayerPlane(40, 3, depth, [&](uint32_t x, uint32_t y) {
        return PsdSampleOf((x * (channel.id + 1) + 7 * y) % 40 / 39.0, depth);
      });
    }
    layer.compression = PsdChannelCompression::ZipPrediction;
    spec.layers.push_back(layer);
    const Bitmap image = Load(spec);
    ASSERT_TRUE(image);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 40; x += 3) {
        Expected want{{}, 1.0};
        for (int c = 0; c < 3; ++c)
          want.colour[c] = Stored((x * (c + 1) + 7 * y) % 40 / 39.0, depth);
        ExpectPixel(image, x, y, want);
      }
    }
  }
}

TEST_F(RebuildTest, GreyDocumentsKeepTheirTransparency) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Greyscale, 8, 4, 4);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 2, 4}, {0.3, 0, 0}, 0.8));
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  const double grey = Stored(0.3, 8);
  ExpectPixel(image, 1, 1, {{grey, grey, grey}, Stored(0.8, 8)});
  ExpectPixel(image, 1, 3, {{0, 0, 0}, 0.0});

  // Opaque grey stays one channel.
  PsdSpec opaque = PlaceholderDocument(PsdMode::Greyscale, 16, 4, 4);
  opaque.layers.push_back(SolidLayer(opaque, {0, 0, 4, 4}, {0.7, 0, 0}));
  const Bitmap grey16 = Load(opaque);
  ASSERT_TRUE(grey16);
  EXPECT_EQ(FreeImage_GetImageType(grey16.get()), FIT_UINT16);
  const double g = Stored(0.7, 16);
  ExpectPixel(grey16, 2, 2, {{g, g, g}, 1.0}, 0.01);
}

TEST_F(RebuildTest, CmykIsCompositedInItsOwnValuesThenConverted) {
  // Samples as stored, 1 for no ink; without a profile each colour is its ink's stored value
  // times black's.
  for (const uint16_t depth : {8, 16}) {
    SCOPED_TRACE(depth);
    PsdSpec spec = MakePsdSpec(PsdMode::Cmyk, depth, 4, 4, 4);
    FillPsdPlanes(spec, [depth](uint32_t, uint32_t, uint32_t) { return PsdSampleOf(1.0, depth); });
    spec.resources.push_back(PsdVersionInfoResource(false));
    spec.layers_in_tagged_block = depth > 8;
    const std::array<double, 4> under{0.9, 0.6, 0.3, 0.8}, over{0.2, 0.7, 0.95, 0.5};
    const auto layer = [&](const std::array<double, 4>& values, std::array<int32_t, 4> rect,
                           double alpha) {
      PsdLayer made;
      made.top = rect[0];
      made.left = rect[1];
      made.bottom = rect[2];
      made.right = rect[3];
      const auto width = static_cast<uint32_t>(made.right - made.left);
      const auto height = static_cast<uint32_t>(made.bottom - made.top);
      made.channels.push_back({-1, PsdLayerPlane(width, height, depth, [&](uint32_t, uint32_t) {
                                 return PsdSampleOf(alpha, depth);
                               })});
      for (int16_t c = 0; c < 4; ++c) {
        made.channels.push_back({c, PsdLayerPlane(width, height, depth, [&](uint32_t, uint32_t) {
                                   return PsdSampleOf(values[c], depth);
                                 })});
      }
      return made;
    };
    spec.layers.push_back(layer(under, {0, 0, 4, 3}, 1.0));  // the last column stays empty
    PsdLayer top = layer(over, {0, 0, 2, 4}, 0.5);
    std::copy_n("mul ", 5, top.blend_key);
    spec.layers.push_back(top);
    const Bitmap image = Load(spec);
    ASSERT_TRUE(image);

    const double as = Stored(0.5, depth);
    const auto rgb = [](const std::array<double, 4>& cmyk) {
      return Colour{cmyk[0] * cmyk[3], cmyk[1] * cmyk[3], cmyk[2] * cmyk[3]};
    };
    std::array<double, 4> b{}, s{}, blended{};
    for (int c = 0; c < 4; ++c) {
      b[c] = Stored(under[c], depth);
      s[c] = Stored(over[c], depth);
      // Multiply over an opaque backdrop: cs' = B = cb cs; co = as cs' + (1 - as) cb.
      blended[c] = as * b[c] * s[c] + (1 - as) * b[c];
    }
    ExpectPixel(image, 1, 0, {rgb(blended), 1.0});
    ExpectPixel(image, 1, 3, {rgb(b), 1.0});
    // Over nothing, the source keeps its own colour at its own alpha.
    ExpectPixel(image, 3, 0, {rgb(s), as});
    ExpectPixel(image, 3, 3, {{0, 0, 0}, 0.0});
  }
}

TEST_F(RebuildTest, NothingVisibleIsToldApartFromAFailure) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0, 0, 0}));
  spec.layers[0].hidden = true;
  spec.layers.push_back(SolidLayer(spec, {10, 10, 12, 12}, {0, 0, 0}));  // off the canvas
  EXPECT_FALSE(Load(spec));
  EXPECT_TRUE(nothing_to_build_);

  // A visible layer whose data cannot be read is a failure, not an empty document.
  spec.layers[0].hidden = false;
  spec.layers[0].compression = static_cast<PsdChannelCompression>(9);  // no such compression
  EXPECT_FALSE(Load(spec));
  EXPECT_FALSE(nothing_to_build_);
}

TEST_F(RebuildTest, OpacityAndFillOpacityMultiply) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  const Colour red{1, 0, 0}, blue{0, 0, 1};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, red));
  PsdLayer top = SolidLayer(spec, {0, 0, 4, 4}, blue, 0.6);
  top.opacity = 128;
  top.fill_opacity = 200;
  spec.layers.push_back(top);
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 1, 1, Over({red, 1.0}, blue, Stored(0.6, 8) * 128 / 255 * 200 / 255));
}

TEST_F(RebuildTest, LayerMasksTakeTheirRectangleDefaultAndDisabledFlag) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 8, 4);
  const Colour grey{0.5, 0.5, 0.5}, green{0, 1, 0};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 8}, grey));
  // The mask covers columns 2..5 only: a quarter inside, nothing outside (default colour 0).
  PsdLayer top = SolidLayer(spec, {0, 0, 4, 8}, green);
  top.has_mask = true;
  top.mask = {0, 2, 4, 6, 0, false, PsdLayerPlane(4, 4, 8, [](uint32_t x, uint32_t) {
                return x < 2 ? 64 : 255;
              })};
  top.channels.push_back({-2, ""});
  spec.layers.push_back(top);
  Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 0, 1, {grey, 1.0});
  ExpectPixel(image, 2, 1, Over({grey, 1.0}, green, 64 / 255.0));
  ExpectPixel(image, 5, 1, {green, 1.0});
  ExpectPixel(image, 7, 1, {grey, 1.0});

  // Default colour 255 lets everything outside the rectangle through.
  spec.layers[1].mask.default_colour = 255;
  image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 0, 1, {green, 1.0});
  ExpectPixel(image, 2, 1, Over({grey, 1.0}, green, 64 / 255.0));

  // A disabled mask does nothing.
  spec.layers[1].mask.default_colour = 0;
  spec.layers[1].mask.disabled = true;
  image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 0, 1, {green, 1.0});
  ExpectPixel(image, 2, 1, {green, 1.0});
}

TEST_F(RebuildTest, WithARealUserMaskBothMasksShapeTheLayer) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  const Colour black{0, 0, 0}, white{1, 1, 1};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, black));
  PsdLayer top = SolidLayer(spec, {0, 0, 4, 4}, white);
  top.has_mask = true;  // the vector mask drawn as pixels: left half
  top.mask = {0,
              0,
              4,
              4,
              0,
              false,
              PsdLayerPlane(4, 4, 8, [](uint32_t x, uint32_t) {
                return x < 2 ? 255 : 0; })};
  top.has_real_mask = true;  // the user's mask: top half at 50%
  top.real_mask = {
      0, 0, 2, 4, 0, false, PsdLayerPlane(4, 2, 8, [](uint32_t, uint32_t) {
                     return 128; })};
  top.channels.push_back({-2, ""});
  top.channels.push_back({-3, ""});
  spec.layers.push_back(top);
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 0, 0, Over({black, 1.0}, white, 128 / 255.0));
  ExpectPixel(image, 3, 0, {black, 1.0});
  ExpectPixel(image, 0, 3, {black, 1.0});
}

TEST_F(RebuildTest, ClippedLayersTakeTheShapeOfTheirBase) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 2);
  const Colour base_colour{0.2, 0.2, 0.2}, clipped_colour{1, 0.5, 0};
  // The base covers columns 0..3, half transparent; the clipped layer covers everything.
  spec.layers.push_back(SolidLayer(spec, {0, 0, 2, 4}, base_colour, 0.5));
  PsdLayer clipped = SolidLayer(spec, {0, 0, 2, 6}, clipped_colour);
  clipped.clipped = true;
  spec.layers.push_back(clipped);
  Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  const double a = Stored(0.5, 8);
  const Expected base = Over({{0, 0, 0}, 0}, base_colour, a);
  ExpectPixel(image, 1, 0, Over(base, clipped_colour, a));
  ExpectPixel(image, 5, 0, {{0, 0, 0}, 0.0});

  // A hidden base hides what is clipped to it.
  spec.layers[0].hidden = true;
  spec.layers.push_back(SolidLayer(spec, {0, 5, 1, 6}, {0, 0, 1}));  // keeps something visible
  image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 1, 0, {{0, 0, 0}, 0.0});
  ExpectPixel(image, 5, 0, {{0, 0, 1}, 1.0});
}

TEST_F(RebuildTest, GroupsAreIsolatedUnlessTheyPassThrough) {
  const Colour backdrop{0.8, 0.6, 0.4}, member{0.5, 0.25, 1.0};
  const auto multiply = [](const Colour& cb, const Colour& cs) {
    return Colour{cb[0] * cs[0], cb[1] * cs[1], cb[2] * cs[2]};
  };
  const Colour b{Stored(0.8, 8), Stored(0.6, 8), Stored(0.4, 8)};
  const Colour m{Stored(0.5, 8), Stored(0.25, 8), Stored(1.0, 8)};
  for (const char* mode : {"pass", "norm"}) {
    SCOPED_TRACE(mode);
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
    spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, backdrop));
    PsdLayer multiplied = SolidLayer(spec, {0, 0, 4, 4}, member);
    std::copy_n("mul ", 5, multiplied.blend_key);
    AddGroup(spec, {multiplied}, mode, 128);
    const Bitmap image = Load(spec);
    ASSERT_TRUE(image);
    const double t = 128 / 255.0;
    Expected want;
    if (std::string(mode) == "pass") {
      // The member multiplies with the backdrop; the group's opacity fades that back.
      const Expected full = Over({b, 1.0}, m, 1.0, multiply);
      for (int c = 0; c < 3; ++c) want.colour[c] = b[c] + t * (full.colour[c] - b[c]);
      want.alpha = 1.0;
    } else {
      // Isolated, the member multiplies with nothing and the group blends normally.
      want = Over({b, 1.0}, m, t);
    }
    ExpectPixel(image, 2, 2, want);
  }
}

TEST_F(RebuildTest, HiddenGroupsHideTheirMembersAndNestedGroupsCompose) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  const Colour red{1, 0, 0}, green{0, 1, 0}, blue{0, 0, 1};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, red));
  // An outer group at 50% holding an inner group at 50% holding a green layer.
  PsdSpec inner_spec = spec;
  inner_spec.layers.clear();
  AddGroup(inner_spec, {SolidLayer(spec, {0, 0, 4, 2}, green)}, "norm", 128);
  AddGroup(spec, inner_spec.layers, "norm", 128);
  // A hidden group whose blue member must not show.
  PsdSpec hidden_spec = spec;
  hidden_spec.layers.clear();
  AddGroup(hidden_spec, {SolidLayer(spec, {0, 0, 4, 4}, blue)}, "norm", 255);
  hidden_spec.layers.back().hidden = true;
  for (PsdLayer& layer : hidden_spec.layers) spec.layers.push_back(layer);
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  const double t = 128 / 255.0;
  ExpectPixel(image, 0, 0, Over({red, 1.0}, green, t * t));
  ExpectPixel(image, 3, 0, {red, 1.0});
}

TEST_F(RebuildTest, LayersClippedToAGroupTakeItsShape) {
  const Colour base_colour{0.2, 0.2, 0.2}, clipped_colour{1, 0.5, 0}, blue{0, 0, 1};
  const double a = Stored(0.5, 8);
  const Expected base = Over({{0, 0, 0}, 0}, base_colour, a);
  for (const char* mode : {"norm", "pass"}) {
    SCOPED_TRACE(mode);
    // The group's member covers columns 0..3, half transparent; the clipped layer covers all.
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 2);
    AddGroup(spec, {SolidLayer(spec, {0, 0, 2, 4}, base_colour, 0.5)}, mode, 255);
    PsdLayer clipped = SolidLayer(spec, {0, 0, 2, 6}, clipped_colour);
    clipped.clipped = true;
    spec.layers.push_back(clipped);
    spec.layers.push_back(SolidLayer(spec, {0, 5, 1, 6}, blue));  // keeps something visible
    Bitmap image = Load(spec);
    ASSERT_TRUE(image);
    ExpectPixel(image, 1, 0, Over(base, clipped_colour, a));
    ExpectPixel(image, 4, 1, {{0, 0, 0}, 0.0});
    ExpectPixel(image, 5, 0, {blue, 1.0});

    // A hidden group hides what is clipped to it.
    spec.layers[spec.layers.size() - 3].hidden = true;
    image = Load(spec);
    ASSERT_TRUE(image);
    ExpectPixel(image, 1, 0, {{0, 0, 0}, 0.0});
    ExpectPixel(image, 5, 0, {blue, 1.0});
  }
}

TEST_F(RebuildTest, AGroupClippedToALayerTakesItsShape) {
  const Colour base_colour{0.2, 0.2, 0.2}, member_colour{1, 0.5, 0};
  const double a = Stored(0.5, 8);
  const Expected base = Over({{0, 0, 0}, 0}, base_colour, a);
  for (const char* mode : {"norm", "pass"}) {
    SCOPED_TRACE(mode);
    // The base covers columns 0..3, half transparent; the clipped group's member covers all.
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 2);
    spec.layers.push_back(SolidLayer(spec, {0, 0, 2, 4}, base_colour, 0.5));
    AddGroup(spec, {SolidLayer(spec, {0, 0, 2, 6}, member_colour)}, mode, 255);
    spec.layers.back().clipped = true;
    const Bitmap image = Load(spec);
    ASSERT_TRUE(image);
    ExpectPixel(image, 1, 0, Over(base, member_colour, a));
    ExpectPixel(image, 5, 1, {{0, 0, 0}, 0.0});
  }
}

TEST_F(RebuildTest, DamagedLayerDataNeverCrashes) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 16, 16);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 16, 16}, {0.3, 0.6, 0.9}, 0.7));
  spec.layers.push_back(SolidLayer(spec, {-4, 3, 9, 30}, {0.8, 0.1, 0.5}));
  spec.layers[0].compression = PsdChannelCompression::Rle;
  spec.layers[1].compression = PsdChannelCompression::ZipPrediction;
  spec.layers[1].has_mask = true;
  spec.layers[1].mask = {2,
                         2,
                         12,
                         12,
                         0,
                         false,
                         PsdLayerPlane(10, 10, 8, [](uint32_t x, uint32_t) {
                           return x * 25; })};
  spec.layers[1].channels.push_back({-2, ""});
  spec.layers[1].blocks.push_back(
      {"vmsk",
       PsdVectorMaskBlock(
           {{true, {PsdCornerKnot(0.1, 0.1), PsdCornerKnot(0.9, 0.2), PsdCornerKnot(0.5, 0.9)}}})});
  PsdOffsets offsets;
  const std::string good = WritePsd(spec, &offsets);
  ASSERT_TRUE(Rebuild(good));
  // Every byte of the layer section, flipped two ways: a picture of the document's size or a
  // clean failure, and never a read outside the file.
  for (size_t at = offsets.layers; at < offsets.image_data; ++at) {
    for (const char flip : {'\xA5', '\x7F'}) {
      std::string bytes = good;
      bytes[at] = static_cast<char>(bytes[at] ^ flip);
      const Bitmap image = Rebuild(bytes);
      if (image) {
        EXPECT_EQ(FreeImage_GetWidth(image.get()), 16u) << at;
        EXPECT_EQ(FreeImage_GetHeight(image.get()), 16u) << at;
      }
    }
  }
}

// The share of pixel `x`, `y` where `inside` holds, sampled on a fine grid: the model a drawn
// vector mask is checked against.
double Coverage(int x, int y, const std::function<bool(double, double)>& inside) {
  constexpr int Steps = 32;
  int count = 0;
  for (int j = 0; j < Steps; ++j) {
    for (int i = 0; i < Steps; ++i) count += inside(x + (i + 0.5) / Steps, y + (j + 0.5) / Steps);
  }
  return count / double(Steps * Steps);
}

// A white layer over a black background, shaped by the vector mask block `vector_mask`: each
// pixel's grey is then the layer's coverage.
PsdSpec WhiteOverBlack(uint32_t width, uint32_t height, const std::string& vector_mask) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, width, height);
  const std::array<int32_t, 4> canvas{0, 0, static_cast<int32_t>(height),
                                      static_cast<int32_t>(width)};
  spec.layers.push_back(SolidLayer(spec, canvas, {0, 0, 0}));
  PsdLayer white = SolidLayer(spec, canvas, {1, 1, 1});
  white.blocks.push_back({"vmsk", vector_mask});
  spec.layers.push_back(white);
  return spec;
}

// Every pixel's grey against `want(x, y)`, within antialiasing's error; counts of the pixels
// fully in, fully out and on an edge, so a test can tell that all three were seen.
struct CoverageCounts {
  int inside = 0, outside = 0, edge = 0;
};
CoverageCounts ExpectGrey(const Bitmap& image, const std::function<double(int, int)>& want,
                          double tolerance = 0.04) {
  CoverageCounts counts;
  const auto width = static_cast<int>(FreeImage_GetWidth(image.get()));
  const auto height = static_cast<int>(FreeImage_GetHeight(image.get()));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double expected = want(x, y);
      const Rgba16 pixel = ReadPixel(image, x, y);
      EXPECT_NEAR(pixel.red / 65535.0, expected, tolerance) << x << "," << y;
      EXPECT_EQ(pixel.red, pixel.blue) << x << "," << y;
      (expected >= 1 ? counts.inside : expected <= 0 ? counts.outside : counts.edge)++;
    }
  }
  return counts;
}

PsdPathPoint Fraction(double x, double y, uint32_t width, uint32_t height) {
  return {x / width, y / height};
}

PsdSubpath Polygon(const std::vector<std::array<double, 2>>& corners, uint32_t width,
                   uint32_t height) {
  PsdSubpath subpath;
  for (const auto& [x, y] : corners) {
    const PsdPathPoint point = Fraction(x, y, width, height);
    subpath.knots.push_back(PsdCornerKnot(point.x, point.y));
  }
  return subpath;
}

// A circle of four cubic curves; a swapped pair of control points would bend it out of shape.
PsdSubpath Circle(double cx, double cy, double r, uint32_t width, uint32_t height) {
  constexpr double Kappa = 0.5522847498;
  PsdSubpath subpath;
  for (int quarter = 0; quarter < 4; ++quarter) {
    const double angle = quarter * M_PI / 2;
    const double x = cx + r * std::cos(angle), y = cy + r * std::sin(angle);
    const double tx = -std::sin(angle) * Kappa * r, ty = std::cos(angle) * Kappa * r;
    subpath.knots.push_back({Fraction(x - tx, y - ty, width, height), Fraction(x, y, width, height),
                             Fraction(x + tx, y + ty, width, height)});
  }
  return subpath;
}

constexpr uint32_t MaskWidth = 24, MaskHeight = 16;

// Points are stored vertical first: an oblong canvas and shapes off the diagonal catch a swap.
bool InRectangle(double x, double y) { return x >= 3.5 && x <= 12.25 && y >= 2 && y <= 9.5; }
PsdSubpath Rectangle() {
  return Polygon({{3.5, 2}, {12.25, 2}, {12.25, 9.5}, {3.5, 9.5}}, MaskWidth, MaskHeight);
}

TEST_F(RebuildTest, VectorMasksAreDrawnWithSmoothEdges) {
  struct Shape {
    const char* name;
    PsdSubpath path;
    std::function<bool(double, double)> inside;
  };
  const Shape shapes[] = {
      {"rectangle", Rectangle(), InRectangle},
      {"triangle", Polygon({{13, 1}, {23, 1}, {13, 15}}, MaskWidth, MaskHeight),
       [](double x, double y) { return x >= 13 && y >= 1 && (x - 13) / 10 + (y - 1) / 14 <= 1; }},
      {"circle", Circle(9, 8, 6.5, MaskWidth, MaskHeight),
       [](double x, double y) { return std::hypot(x - 9, y - 8) <= 6.5; }},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const Bitmap image =
        Load(WhiteOverBlack(MaskWidth, MaskHeight, PsdVectorMaskBlock({shape.path})));
    ASSERT_TRUE(image);
    const CoverageCounts counts =
        ExpectGrey(image, [&](int x, int y) { return Coverage(x, y, shape.inside); });
    EXPECT_GT(counts.inside, 0);
    EXPECT_GT(counts.outside, 0);
    EXPECT_GT(counts.edge, 0);
  }
}

TEST_F(RebuildTest, AShapeStrokeShowsTheStoredPixelsItCoversBeyondThePath) {
  // A shape's pixels hold its fill and its stroke, antialiased: where the stroke reaches, beyond
  // the path or over its edge, they show as stored (here, white in full); elsewhere the path cuts
  // them as before. Miter joins keep the corners square, so the stroke's outer edge is the
  // rectangle grown by its outer width.
  struct Case {
    const char* alignment;
    double width;
    double outer;  // how far the stroke reaches beyond the path
  };
  const std::vector<Case> cases = {{"strokeStyleAlignCenter", 2, 1},
                                   {"strokeStyleAlignOutside", 1.5, 1.5},
                                   {"strokeStyleAlignInside", 2, 0}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.alignment);
    PsdSpec spec = WhiteOverBlack(MaskWidth, MaskHeight, PsdVectorMaskBlock({Rectangle()}));
    PsdDescriptorWriter stroke("strokeStyle");
    stroke.Long("strokeStyleVersion", 2)
        .Bool("strokeEnabled", true)
        .UnitFloat("strokeStyleLineWidth", "#Pxl", test.width)
        .Enum("strokeStyleLineAlignment", "strokeStyleLineAlignment", test.alignment)
        .Enum("strokeStyleLineJoinType", "strokeStyleLineJoinType", "strokeStyleMiterJoin");
    spec.layers.back().blocks.push_back({"vstk", stroke.Versioned()});
    const Bitmap image = Load(spec);
    ASSERT_TRUE(image);
    const double left = 3.5 - test.outer, right = 12.25 + test.outer;
    const double top = 2 - test.outer, bottom = 9.5 + test.outer;
    const CoverageCounts counts = ExpectGrey(image, [&](int x, int y) {
      const bool touched = x + 1 > left && x < right && y + 1 > top && y < bottom;
      return touched ? 1.0 : 0.0;
    });
    EXPECT_EQ(counts.edge, 0);
    EXPECT_GT(counts.outside, 0);
  }
}

TEST_F(RebuildTest, AShapeDrawnFromItsSettingsIsStrokedAlongItsPath) {
  // A colour fill shaped by the rectangle, over black, with a white stroke: each pixel's grey is
  // the stroke's coverage (the ring between the rectangle grown and shrunk by the stroke's outer
  // and inner widths, miter joins keeping its corners square) at its opacity, over the fill's
  // own grey where the fill shows.
  struct Case {
    const char* alignment;
    double width, outer;  // the stroke's width, and how much of it lies beyond the path
    double opacity;       // percent
    bool fill;            // the fill (grey 0.5) shows
  };
  const std::vector<Case> cases = {{"strokeStyleAlignCenter", 2, 1, 100, false},
                                   {"strokeStyleAlignOutside", 1.5, 1.5, 100, true},
                                   {"strokeStyleAlignInside", 2, 0, 50, true}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.alignment);
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, MaskWidth, MaskHeight);
    spec.layers.push_back(
        SolidLayer(spec, {0, 0, static_cast<int32_t>(MaskHeight), static_cast<int32_t>(MaskWidth)},
                   {0, 0, 0}));
    const auto rgb = [](double level) {
      PsdDescriptorWriter colour("RGBC");
      colour.Double("Rd  ", level).Double("Grn ", level).Double("Bl  ", level);
      return colour;
    };
    PsdDescriptorWriter fill("null");
    fill.Object("Clr ", rgb(127.5));
    PsdDescriptorWriter paint("solidColorLayer");
    paint.Object("Clr ", rgb(255));
    PsdDescriptorWriter stroke("strokeStyle");
    stroke.Long("strokeStyleVersion", 2)
        .Bool("strokeEnabled", true)
        .Bool("fillEnabled", test.fill)
        .UnitFloat("strokeStyleLineWidth", "#Pxl", test.width)
        .Enum("strokeStyleLineAlignment", "strokeStyleLineAlignment", test.alignment)
        .Enum("strokeStyleLineJoinType", "strokeStyleLineJoinType", "strokeStyleMiterJoin")
        .UnitFloat("strokeStyleOpacity", "#Prc", test.opacity)
        .Enum("strokeStyleBlendMode", "BlnM", "Nrml")
        .Object("strokeStyleContent", paint);
    PsdLayer shape;
    shape.blocks = {{"SoCo", fill.Versioned()},
                    {"vmsk", PsdVectorMaskBlock({Rectangle()})},
                    {"vstk", stroke.Versioned()}};
    spec.layers.push_back(shape);
    const double inner = test.width - test.outer;
    const auto within = [](double grow) {
      return [grow](double x, double y) {
        return x >= 3.5 - grow && x <= 12.25 + grow && y >= 2 - grow && y <= 9.5 + grow;
      };
    };
    const auto want = [&](int x, int y) {
      const double line = (Coverage(x, y, within(test.outer)) - Coverage(x, y, within(-inner))) *
                          test.opacity / 100;
      const double shown = test.fill ? Coverage(x, y, InRectangle) * (1 - line) : 0.0;
      return line + shown * 0.5;
    };
    const std::string file = WritePsd(spec);
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    for (const int64_t rows : {int64_t{0}, int64_t{3}}) {
      SCOPED_TRACE(rows);
      uint64_t left_out = ~uint64_t{0};
      const Bitmap image =
          RebuildFromLayers(bytes, rows, nothing_to_build_, [&](const CompositePlan& plan) {
            left_out = plan.left_out;
            return true;
          });
      ASSERT_TRUE(image);
      EXPECT_EQ(left_out, 0u);
      const CoverageCounts counts = ExpectGrey(image, want, 0.05);
      EXPECT_GT(counts.edge, 0);
    }
  }
}

TEST_F(RebuildTest, VectorMasksWiderThanOneDrawingTile) {
  // The path is drawn in tiles 2048 pixels wide: this slanted edge crosses from one to the next.
  constexpr uint32_t Width = 2100, Height = 6;
  const auto inside = [](double x, double y) {
    return x >= 1000 && y >= 0.5 && y <= 5.5 - (x - 1000) / 220;
  };
  const PsdSubpath path = Polygon({{1000, 0.5}, {2100, 0.5}, {1000, 5.5}}, Width, Height);
  const Bitmap image = Load(WhiteOverBlack(Width, Height, PsdVectorMaskBlock({path})));
  ASSERT_TRUE(image);
  // Cairo samples a pixel in 15 rows: a nearly level edge is off by up to a fifteenth.
  const CoverageCounts counts = ExpectGrey(
      image, [&](int x, int y) { return Coverage(x, y, inside); }, 1 / 15.0 + 0.01);
  EXPECT_GT(counts.inside, 0);
  EXPECT_GT(counts.edge, 0);
}

TEST_F(RebuildTest, UserMasksAndVectorMasksMultiply) {
  const auto plane = [](uint8_t value) {
    return PsdLayerPlane(MaskWidth, MaskHeight, 8, [value](uint32_t, uint32_t) { return value; });
  };
  const auto half = [](int x, int y) { return Coverage(x, y, InRectangle) * 128 / 255.0; };
  const auto whole = [](int x, int y) { return Coverage(x, y, InRectangle); };
  // The plain mask channel (-2), either the user's own or a rendering of the path, which gives
  // way to the path; and the real user mask (-3) stored beside such a rendering.
  struct Case {
    const char* name;
    uint8_t mask;  // the plain mask's value
    bool rendered;
    int real_mask;  // the real user mask's value; -1 when there is none
    std::function<double(int, int)> want;
  };
  const Case cases[] = {
      {"the user's mask beside the vector mask", 128, false, -1, half},
      {"a rendering of the path beside the real user mask", 0, true, 128, half},
      {"a rendering of the path alone", 0, true, -1, whole},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    PsdSpec spec = WhiteOverBlack(MaskWidth, MaskHeight, PsdVectorMaskBlock({Rectangle()}));
    PsdLayer& layer = spec.layers.back();
    layer.has_mask = true;
    layer.mask = {0, 0, MaskHeight, MaskWidth, 0, false, plane(test.mask)};
    layer.mask.rendered = test.rendered;
    layer.channels.push_back({-2, ""});
    if (test.real_mask >= 0) {
      layer.has_real_mask = true;
      layer.real_mask = {0, 0, MaskHeight, MaskWidth, 0, false, plane(128)};
      layer.channels.push_back({-3, ""});
    }
    const Bitmap image = Load(spec);
    ASSERT_TRUE(image);
    ExpectGrey(image, test.want);
  }
}

TEST_F(RebuildTest, VectorMaskFlagsAndInitialFill) {
  const auto covered = [](int x, int y) { return Coverage(x, y, InRectangle); };
  const auto uncovered = [](int x, int y) { return 1 - Coverage(x, y, InRectangle); };
  struct Case {
    const char* name;
    uint32_t flags;
    bool initial_fill;
    std::function<double(int, int)> want;
  };
  const Case cases[] = {
      {"inverted", 1, false, uncovered},
      {"starting filled", 0, true, uncovered},
      {"inverted and starting filled", 1, true, covered},
      {"disabled", 4, false, [](int, int) { return 1.0; }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const Bitmap image = Load(WhiteOverBlack(
        MaskWidth, MaskHeight, PsdVectorMaskBlock({Rectangle()}, test.flags, test.initial_fill)));
    ASSERT_TRUE(image);
    ExpectGrey(image, test.want);
  }
}

TEST_F(RebuildTest, UnreadableVectorMasksAreLeftOut) {
  // Far beyond any canvas, far too many knots or subpaths, a knot without its subpath: the layer
  // is drawn as without a vector mask, and quickly.
  PsdSubpath far = Rectangle();
  far.knots[1].anchor.x = 40;
  PsdSubpath crowded;
  for (int i = 0; i < 70000; ++i) crowded.knots.push_back(PsdCornerKnot(i % 2, (i / 2) % 2));
  std::string orphan = PsdVectorMaskBlock({Rectangle()});
  orphan.erase(8 + 2 * 26, 26);  // the subpath's length record
  const std::vector<PsdSubpath> empties(70000);
  for (const std::string& block : {PsdVectorMaskBlock({far}), PsdVectorMaskBlock({crowded}),
                                   PsdVectorMaskBlock(empties), orphan}) {
    const Bitmap image = Load(WhiteOverBlack(MaskWidth, MaskHeight, block));
    ASSERT_TRUE(image);
    ExpectGrey(image, [](int, int) { return 1.0; });
  }
}

}  // namespace

TEST_F(RebuildTest, VectorMaskShapesCombineByTheirOperations) {
  // Two pixel-aligned rectangles that overlap, the second combined with the first; the grey of
  // four pixels tells which parts the mask shows: only the first, both, only the second, none.
  const auto rectangle = [](double left, double top, double right, double bottom,
                            uint16_t operation) {
    PsdSubpath path = Polygon({{left, top}, {right, top}, {right, bottom}, {left, bottom}},
                              MaskWidth, MaskHeight);
    path.operation = operation;
    return path;
  };
  struct Case {
    uint16_t operation;
    double first_only, both, second_only;
  };
  const Case cases[] = {{1, 1, 1, 1}, {2, 1, 0, 0}, {3, 0, 1, 0}, {0, 1, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    const std::string mask =
        PsdVectorMaskBlock({rectangle(2, 2, 14, 10, 1), rectangle(8, 6, 20, 14, c.operation)});
    const Bitmap image = Load(WhiteOverBlack(MaskWidth, MaskHeight, mask));
    ASSERT_TRUE(image);
    ExpectPixel(image, 4, 4, {{c.first_only, c.first_only, c.first_only}, 1.0});
    ExpectPixel(image, 10, 8, {{c.both, c.both, c.both}, 1.0});
    ExpectPixel(image, 18, 12, {{c.second_only, c.second_only, c.second_only}, 1.0});
    ExpectPixel(image, 22, 2, {{0, 0, 0}, 1.0});
  }
  // Inverted, the mask shows the complement of the combined shape.
  const std::string inverted =
      PsdVectorMaskBlock({rectangle(2, 2, 14, 10, 1), rectangle(8, 6, 20, 14, 2)}, 1);
  const Bitmap image = Load(WhiteOverBlack(MaskWidth, MaskHeight, inverted));
  ASSERT_TRUE(image);
  ExpectPixel(image, 4, 4, {{0, 0, 0}, 1.0});
  ExpectPixel(image, 10, 8, {{1, 1, 1}, 1.0});
}
