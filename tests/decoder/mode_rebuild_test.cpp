// Lab and indexed documents rebuilt from their layers, in this process. Lab is blended in its
// stored values and converted here by LittleCMS from Lab D50 to sRGB; indexed layers are looked
// up in the palette the test wrote and blended by source-over in RGB, worked out here.

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "decoder/psd_layers.h"
#include "engine/isolation/decoder_protocol.h"
#include "tests/support/psd_writer.h"

namespace {

struct Lab {
  double l, a, b;
};

// A Lab colour as a Lab document stores it at `depth`: L over the range, a and b from 128 in
// 8 bits, from 32768 in 256ths of a unit in 16.
uint32_t StoredL(double l, uint16_t depth) { return PsdSampleOf(l / 100, depth); }
uint32_t StoredAb(double ab, uint16_t depth) {
  return depth == 8
             ? PsdSampleOf((ab + 128) / 255, 8)
             : static_cast<uint32_t>(std::lround(std::clamp(32768 + ab * 256, 0.0, 65535.0)));
}

// What a stored sample of `depth` means: L 0..100, a and b -128..127.
Lab MeaningOf(std::array<double, 3> stored, uint16_t depth) {
  if (depth == 8) return {stored[0] / 255 * 100, stored[1] - 128, stored[2] - 128};
  return {stored[0] / 65535 * 100, (stored[1] - 32768) / 256, (stored[2] - 32768) / 256};
}

// sRGB 0..1 of a Lab D50 colour, by LittleCMS's exact transform.
std::array<double, 3> LabToSrgb(const Lab& lab) {
  cmsHPROFILE source = cmsCreateLab4Profile(nullptr);
  cmsHPROFILE target = cmsCreate_sRGBProfile();
  cmsHTRANSFORM transform =
      cmsCreateTransform(source, TYPE_Lab_DBL, target, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC,
                         cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE);
  const cmsCIELab in{lab.l, lab.a, lab.b};
  std::array<double, 3> out{};
  cmsDoTransform(transform, &in, out.data(), 1);
  cmsDeleteTransform(transform);
  cmsCloseProfile(source);
  cmsCloseProfile(target);
  for (double& v : out) v = std::clamp(v, 0.0, 1.0);
  return out;
}

// Red, green, blue (0..1) and alpha of the pixel at `x` of the top row.
std::array<double, 4> PixelAt(const Bitmap& image, unsigned x) {
  const unsigned height = FreeImage_GetHeight(image.get());
  const BYTE* row = FreeImage_GetScanLine(image.get(), static_cast<int>(height - 1));
  switch (FreeImage_GetImageType(image.get())) {
    case FIT_RGB16:
    case FIT_RGBA16: {
      const bool alpha = FreeImage_GetImageType(image.get()) == FIT_RGBA16;
      const auto* pixel = reinterpret_cast<const uint16_t*>(row) + x * (alpha ? 4 : 3);
      return {pixel[0] / 65535.0, pixel[1] / 65535.0, pixel[2] / 65535.0,
              alpha ? pixel[3] / 65535.0 : 1.0};
    }
    default: {
      const unsigned step = FreeImage_GetBPP(image.get()) / 8;
      const BYTE* pixel = row + x * step;
      return {pixel[FI_RGBA_RED] / 255.0, pixel[FI_RGBA_GREEN] / 255.0, pixel[FI_RGBA_BLUE] / 255.0,
              step == 4 ? pixel[FI_RGBA_ALPHA] / 255.0 : 1.0};
    }
  }
}

void ExpectColour(const Bitmap& image, unsigned x, std::array<double, 3> want, double tolerance,
                  double alpha = 1.0) {
  SCOPED_TRACE(x);
  const std::array<double, 4> got = PixelAt(image, x);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], tolerance) << "channel " << c;
  EXPECT_NEAR(got[3], alpha, 1.0 / 255);
}

// The picture rebuilt from `spec`, with what its plan says it leaves out.
Bitmap Rebuild(const PsdSpec& spec, uint64_t* left_out = nullptr) {
  const std::string file = WritePsd(spec);
  const std::vector<uint8_t> bytes(file.begin(), file.end());
  bool nothing_to_build = false;
  return RebuildFromLayers(bytes, 0, nothing_to_build, [left_out](const CompositePlan& plan) {
    if (left_out) *left_out = plan.left_out;
    return true;
  });
}

// A layer over the top row, `width` wide, with one plane per channel id from `sample(id, x)`.
template <typename Sample>
PsdLayer RowLayer(uint32_t width, uint16_t depth, std::vector<int16_t> ids, Sample sample) {
  PsdLayer layer;
  layer.bottom = 1;
  layer.right = static_cast<int32_t>(width);
  for (const int16_t id : ids) {
    layer.channels.push_back(
        {id, PsdLayerPlane(width, 1, depth, [&](uint32_t x, uint32_t) { return sample(id, x); })});
  }
  return layer;
}

// A solid colour fill layer of `colour`, over the whole canvas.
PsdLayer SolidFill(const PsdDescriptorWriter& colour) {
  PsdDescriptorWriter fill("null");
  fill.Object("Clr ", colour);
  PsdLayer layer;
  layer.blocks.push_back({"SoCo", fill.Versioned()});
  return layer;
}

TEST(RebuildFromLayers, LabBlendsInStoredValuesThenGoesThroughLabD50) {
  const std::array<Lab, 3> below = {{{70, 40, -20}, {30, -50, 60}, {90, 0, 0}}};
  const Lab above{20, 60, 70};
  for (const uint16_t depth : {8, 16}) {
    SCOPED_TRACE(depth);
    PsdSpec spec = MakePsdSpec(PsdMode::Lab, depth, 3, 1, 3);
    spec.layers_in_tagged_block = depth == 16;
    const auto stored = [depth](const Lab& lab, int16_t id) {
      return id == 0 ? StoredL(lab.l, depth) : StoredAb(id == 1 ? lab.a : lab.b, depth);
    };
    spec.layers.push_back(RowLayer(3, depth, {0, 1, 2},
                                   [&](int16_t id, uint32_t x) { return stored(below[x], id); }));
    // Half opacity over the first two pixels, nothing over the third.
    PsdLayer top = RowLayer(3, depth, {-1, 0, 1, 2}, [&](int16_t id, uint32_t x) {
      return id == -1 ? (x < 2 ? PsdSampleOf(1, depth) : 0) : stored(above, id);
    });
    top.opacity = 128;
    spec.layers.push_back(top);

    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetImageType(image.get()), depth == 8 ? FIT_BITMAP : FIT_RGB16);
    const double t = 128.0 / 255;
    for (unsigned x = 0; x < 3; ++x) {
      std::array<double, 3> mixed{};
      for (int16_t id = 0; id < 3; ++id) {
        const double b = stored(below[x], id), s = stored(above, id);
        mixed[id] = std::round(x < 2 ? b + t * (s - b) : b);
      }
      ExpectColour(image, x, LabToSrgb(MeaningOf(mixed, depth)), 1.5 / 255);
    }
  }
}

TEST(RebuildFromLayers, LabBlendModesWorkOnStoredValuesOrWhatTheyMean) {
  const Lab below{70, 40, -20};
  const Lab above{30, -15, 45};
  struct Case {
    const char* key;
    Lab want;  // in stored levels of 8 bits: L 0..255, a and b from 128
  };
  const double lb = std::round(70 * 2.55), ls = std::round(30 * 2.55);
  const double ab = 40 + 128, bb = -20 + 128, as = -15 + 128, bs = 45 + 128;
  const double chroma_b = std::hypot(ab - 128, bb - 128), chroma_s = std::hypot(as - 128, bs - 128);
  const std::vector<Case> cases = {
      {"mul ", {std::round(lb * ls / 255), std::round(ab * as / 255), std::round(bb * bs / 255)}},
      {"lum ", {ls, ab, bb}},
      {"colr", {lb, as, bs}},
      {"dkCl", {ls, as, bs}},
      {"lgCl", {lb, ab, bb}},
      {"hue ",
       {lb, 128 + chroma_b * (as - 128) / chroma_s, 128 + chroma_b * (bs - 128) / chroma_s}},
      {"sat ",
       {lb, 128 + chroma_s * (ab - 128) / chroma_b, 128 + chroma_s * (bb - 128) / chroma_b}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.key);
    PsdSpec spec = MakePsdSpec(PsdMode::Lab, 8, 1, 1, 3);
    for (const Lab& colour : {below, above}) {
      spec.layers.push_back(RowLayer(1, 8, {0, 1, 2}, [&](int16_t id, uint32_t) {
        return id == 0 ? StoredL(colour.l, 8) : StoredAb(id == 1 ? colour.a : colour.b, 8);
      }));
    }
    std::copy(test.key, test.key + 5, spec.layers.back().blend_key);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    const std::array<double, 3> stored = {test.want.l, std::round(test.want.a),
                                          std::round(test.want.b)};
    ExpectColour(image, 0, LabToSrgb(MeaningOf(stored, 8)), 1.5 / 255);
  }
}

TEST(RebuildFromLayers, LabFillsTakeLabColoursAsTheyAreAndOtherColoursAsSrgb) {
  PsdDescriptorWriter lab("LbCl");
  lab.Double("Lmnc", 62).Double("A   ", -35).Double("B   ", 48);
  PsdDescriptorWriter red("RGBC");
  red.Double("Rd  ", 255).Double("Grn ", 0).Double("Bl  ", 0);
  const std::array<double, 3> lab_in_srgb = LabToSrgb({62, -35, 48});
  for (const bool given_in_lab : {true, false}) {
    SCOPED_TRACE(given_in_lab);
    PsdSpec spec = MakePsdSpec(PsdMode::Lab, 8, 2, 1, 3);
    spec.layers.push_back(RowLayer(2, 8, {0, 1, 2}, [](int16_t id, uint32_t) {
      return id == 0 ? StoredL(50, 8) : StoredAb(0, 8);
    }));
    spec.layers.push_back(SolidFill(given_in_lab ? lab : red));
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    // Lab is kept to a level of each 8-bit channel, so sRGB red comes back within a few levels.
    for (unsigned x = 0; x < 2; ++x) {
      ExpectColour(image, x, given_in_lab ? lab_in_srgb : std::array<double, 3>{1, 0, 0},
                   (given_in_lab ? 1.5 : 4.0) / 255);
    }
  }
}

TEST(RebuildFromLayers, SixteenBitLabFillsAndPixelsShowTheirTrueColour) {
  // 16 bits store a and b about 32768 in 256ths of a unit. A pixel layer holding a colour so and
  // a fill of that colour both come out as the colour itself (read on ICC's scale of 257ths, or
  // the fill put on the 8-bit one, they would lean by up to a unit of a and b).
  const Lab colour{40, -35, 60};
  const std::array<double, 3> want = LabToSrgb(colour);
  PsdDescriptorWriter lab("LbCl");
  lab.Double("Lmnc", colour.l).Double("A   ", colour.a).Double("B   ", colour.b);
  for (const bool fill : {false, true}) {
    SCOPED_TRACE(fill);
    PsdSpec spec = MakePsdSpec(PsdMode::Lab, 16, 1, 1, 3);
    spec.layers_in_tagged_block = true;
    spec.layers.push_back(RowLayer(1, 16, {0, 1, 2}, [](int16_t id, uint32_t) {
      return id == 0 ? StoredL(90, 16) : StoredAb(0, 16);
    }));
    if (fill) {
      spec.layers.push_back(SolidFill(lab));
    } else {
      spec.layers.push_back(RowLayer(1, 16, {0, 1, 2}, [&](int16_t id, uint32_t) {
        return id == 0 ? StoredL(colour.l, 16) : StoredAb(id == 1 ? colour.a : colour.b, 16);
      }));
    }
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    ExpectColour(image, 0, want, 0.4 / 255);
  }
}

TEST(RebuildFromLayers, LabLeavesOutAdjustmentsDefinedOnRgbAndInvertsItsValues) {
  const Lab colour{40, 30, -60};
  for (const char* key : {"thrs", "nvrt"}) {
    SCOPED_TRACE(key);
    PsdSpec spec = MakePsdSpec(PsdMode::Lab, 8, 1, 1, 3);
    spec.layers.push_back(RowLayer(1, 8, {0, 1, 2}, [&](int16_t id, uint32_t) {
      return id == 0 ? StoredL(colour.l, 8) : StoredAb(id == 1 ? colour.a : colour.b, 8);
    }));
    PsdLayer adjustment;
    adjustment.blocks.push_back({key, std::string(key) == "thrs" ? std::string{0, 64, 0, 0} : ""});
    spec.layers.push_back(adjustment);
    uint64_t left_out = 0;
    const Bitmap image = Rebuild(spec, &left_out);
    ASSERT_TRUE(image);
    const std::array<double, 3> stored = {static_cast<double>(StoredL(colour.l, 8)),
                                          static_cast<double>(StoredAb(colour.a, 8)),
                                          static_cast<double>(StoredAb(colour.b, 8))};
    if (std::string(key) == "thrs") {
      EXPECT_EQ(left_out & LeftOutAdjustments, LeftOutAdjustments);
      ExpectColour(image, 0, LabToSrgb(MeaningOf(stored, 8)), 1.5 / 255);
    } else {
      EXPECT_EQ(left_out, 0u);
      const std::array<double, 3> inverted = {255 - stored[0], 255 - stored[1], 255 - stored[2]};
      ExpectColour(image, 0, LabToSrgb(MeaningOf(inverted, 8)), 1.5 / 255);
    }
  }
}

// A palette whose entries all differ: entry i is (i, 255 - i, 37 i mod 256).
std::array<double, 3> PaletteColour(uint32_t index) {
  return {index / 255.0, (255 - index) / 255.0, ((index * 37) & 255) / 255.0};
}

PsdSpec IndexedDocument(uint32_t width, std::optional<uint16_t> transparent_index) {
  PsdSpec spec = MakePsdSpec(PsdMode::Indexed, 8, width, 1, 1);
  spec.colour_mode_data.assign(768, '\0');
  for (uint32_t i = 0; i < 256; ++i) {
    const std::array<double, 3> colour = PaletteColour(i);
    for (uint32_t c = 0; c < 3; ++c) {
      spec.colour_mode_data[c * 256 + i] = static_cast<char>(std::lround(colour[c] * 255));
    }
  }
  if (transparent_index) {
    spec.resources.push_back({1047,
                              {static_cast<char>(*transparent_index >> 8),
                               static_cast<char>(*transparent_index & 0xFF)}});
  }
  return spec;
}

TEST(RebuildFromLayers, IndexedLayersAreLookedUpInThePaletteAndBlendedInRgb) {
  constexpr uint32_t Hole = 9;
  const std::array<uint32_t, 4> below = {10, 20, 30, Hole};
  const std::array<uint32_t, 4> above = {40, Hole, 50, 60};
  const std::array<uint32_t, 4> above_alpha = {255, 255, 0, 255};
  for (const bool transparent : {true, false}) {
    SCOPED_TRACE(transparent);
    PsdSpec spec = IndexedDocument(4, transparent ? std::optional<uint16_t>(Hole) : std::nullopt);
    // The bottom layer has no transparency channel: only the transparent index makes holes.
    spec.layers.push_back(RowLayer(4, 8, {0}, [&](int16_t, uint32_t x) { return below[x]; }));
    PsdLayer top = RowLayer(4, 8, {-1, 0}, [&](int16_t id, uint32_t x) {
      return id == -1 ? above_alpha[x] : above[x];
    });
    top.opacity = 128;
    spec.layers.push_back(top);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetBPP(image.get()), transparent ? 32u : 24u);

    // Source-over of straight colour, each layer's alpha from its transparency, the transparent
    // index and its opacity.
    const double opacity = 128.0 / 255;
    for (unsigned x = 0; x < 4; ++x) {
      const double ab = transparent && below[x] == Hole ? 0 : 1;
      const double as = (transparent && above[x] == Hole ? 0 : above_alpha[x] / 255.0) * opacity;
      const double ao = as + ab * (1 - as);
      std::array<double, 3> want{};
      const std::array<double, 3> b = PaletteColour(below[x]), s = PaletteColour(above[x]);
      for (int c = 0; c < 3; ++c) want[c] = (as * s[c] + (1 - as) * ab * b[c]) / ao;
      ExpectColour(image, x, want, 1.0 / 255, ao);
    }
  }
}

TEST(RebuildFromLayers, IndexedFillsAndEffectsTakeTheirColoursAsRgb) {
  PsdSpec spec = IndexedDocument(2, std::nullopt);
  spec.layers.push_back(RowLayer(2, 8, {0}, [](int16_t, uint32_t) { return 77; }));
  PsdDescriptorWriter colour("RGBC");
  colour.Double("Rd  ", 51).Double("Grn ", 102).Double("Bl  ", 204);
  PsdLayer fill = SolidFill(colour);
  fill.opacity = 128;
  spec.layers.push_back(fill);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  const std::array<double, 3> b = PaletteColour(77);
  const std::array<double, 3> s = {0.2, 0.4, 0.8};
  const double t = 128.0 / 255;
  for (unsigned x = 0; x < 2; ++x) {
    ExpectColour(image, x,
                 {b[0] + t * (s[0] - b[0]), b[1] + t * (s[1] - b[1]), b[2] + t * (s[2] - b[2])},
                 1.0 / 255);
  }
}

TEST(ReadLayeredDocument, TakesLabAndIndexedOnlyWhereTheyCanBeRebuilt) {
  const auto read = [](const PsdSpec& spec) {
    const std::string file = WritePsd(spec);
    return ReadLayeredDocument(std::vector<uint8_t>(file.begin(), file.end()));
  };
  PsdSpec indexed = IndexedDocument(2, 5);
  indexed.layers.push_back(RowLayer(2, 8, {0}, [](int16_t, uint32_t) { return 1; }));
  const std::optional<LayeredDocument> document = read(indexed);
  ASSERT_TRUE(document);
  EXPECT_EQ(document->colour_channels, 3);
  ASSERT_EQ(document->palette.size(), 256u);
  EXPECT_EQ(document->palette[200][1], 55);
  EXPECT_EQ(document->transparent_index, 5);

  PsdSpec no_palette = indexed;
  no_palette.colour_mode_data.clear();
  EXPECT_FALSE(read(no_palette));
  PsdSpec deep_lab = MakePsdSpec(PsdMode::Lab, 32, 2, 1, 3);
  deep_lab.layers_in_tagged_block = true;
  deep_lab.layers.push_back(RowLayer(2, 32, {0, 1, 2}, [](int16_t, uint32_t) { return 0; }));
  EXPECT_FALSE(read(deep_lab));
  PsdSpec lab = MakePsdSpec(PsdMode::Lab, 16, 2, 1, 3);
  lab.layers_in_tagged_block = true;
  lab.layers.push_back(RowLayer(2, 16, {0, 1, 2}, [](int16_t, uint32_t) { return 0; }));
  EXPECT_TRUE(read(lab));
}

}  // namespace
