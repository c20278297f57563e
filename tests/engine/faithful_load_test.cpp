// What a loaded document looks like when its extra channels, CMYK colours or floating-point
// samples need the file's own word: saved selections, transparency, colour profiles, linear light.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/image/sample_depth.h"
#include "engine/isolation/isolated_decode.h"
#include "engine/loading/loading.h"
#include "engine/psd/psd_check.h"
#include "engine/psd/psd_transparency.h"
#include "tests/support/icc_profiles.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

Bitmap LoadSpec(const TempDir& dir, const PsdSpec& spec) {
  const std::string path = dir.file("in.psd");
  EXPECT_TRUE(WritePsdFile(path, spec));
  return LoadInputImage(path);
}

bool Transparent(const PsdSpec& spec) {
  const std::string bytes = WritePsd(spec);
  const std::span<const uint8_t> file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const std::optional<PsdLayout> layout = CheckPsdStructure(file, 0);
  EXPECT_TRUE(layout);
  return layout && HasMergedTransparency(file, *layout);
}

// The stored value of a true colour `c` under alpha `a`, matted against white as Photoshop does.
uint32_t MatteAgainstWhite(uint32_t c, uint32_t a, uint32_t full) {
  const double alpha = static_cast<double>(a) / full;
  return static_cast<uint32_t>(std::lround(c * alpha + full * (1.0 - alpha)));
}

// A 3 x 1 CMYK document whose cyan ink is 0, 50% and 100% across, no other ink. Photoshop stores
// CMYK samples inverted: full means no ink.
PsdSpec CyanRamp(uint16_t depth) {
  PsdSpec spec = MakePsdSpec(PsdMode::Cmyk, depth, 3, 1, 4);
  const uint32_t full = depth == 8 ? 255 : 65535;
  FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t c) -> uint32_t {
    if (c != 0) return full;
    return full - (x == 0 ? 0 : x == 1 ? (full + 1) / 2 : full);
  });
  return spec;
}

}  // namespace

TEST(HasMergedTransparency, ReadsTheDocumentsOwnRecords) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 2, 2, 4);
  EXPECT_TRUE(Transparent(spec)) << "negative layer count";
  spec.layer_count = 0;
  EXPECT_FALSE(Transparent(spec)) << "a bare extra channel is a saved selection";
  spec.layer_count = 3;
  EXPECT_FALSE(Transparent(spec)) << "layers alone say nothing";

  spec.resources = {PsdAlphaNamesResource({"Alpha 1"}), PsdAlphaIdentifiersResource({6})};
  EXPECT_FALSE(Transparent(spec)) << "a named selection";
  spec.resources = {PsdAlphaNamesResource({"Transparency", "Alpha 1"})};
  EXPECT_TRUE(Transparent(spec)) << "other writers name it";
  spec.resources = {PsdAlphaIdentifiersResource({0, 7})};
  EXPECT_TRUE(Transparent(spec)) << "identifier 0, whatever its localised name";
  spec.resources = {PsdAlphaNamesResource({"Alpha 1", "Transparency"})};
  EXPECT_FALSE(Transparent(spec)) << "only the first extra channel can be transparency";

  // Deep documents keep their layers in a tagged block, with a wider length in a PSB.
  for (uint16_t version : {1, 2}) {
    PsdSpec deep = MakePsdSpec(PsdMode::Rgb, 16, 2, 2, 4);
    deep.version = version;
    deep.layers_in_tagged_block = true;
    EXPECT_TRUE(Transparent(deep)) << "version " << version;
    deep.layer_count = 2;
    EXPECT_FALSE(Transparent(deep)) << "version " << version;
  }

  // Without an extra channel there is nothing to be transparent, whatever the records say.
  PsdSpec opaque = MakePsdSpec(PsdMode::Rgb, 8, 2, 2, 3);
  opaque.layer_count = -1;
  EXPECT_FALSE(Transparent(opaque));
  PsdSpec grey = MakePsdSpec(PsdMode::Greyscale, 8, 2, 2, 2);
  EXPECT_TRUE(Transparent(grey));
  PsdSpec cmyk = MakePsdSpec(PsdMode::Cmyk, 8, 2, 2, 5);
  EXPECT_TRUE(Transparent(cmyk));
  cmyk.layer_count = 0;
  EXPECT_FALSE(Transparent(cmyk));
}

TEST(LoadInputImage, ASavedSelectionIsNotTransparency) {
  TempDir dir;
  for (int16_t layer_count : {0, -1}) {
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 4, 2, 4);
    spec.layer_count = layer_count;
    spec.compression = PsdCompression::Rle;
    if (layer_count == 0) spec.resources = {PsdAlphaNamesResource({"Alpha 1"})};
    // An empty selection: read as alpha it would hide the whole picture.
    FillPsdPlanes(spec,
                  [](uint32_t x, uint32_t y, uint32_t c) { return c == 3 ? 0 : 40 * x + y + c; });
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image);
    if (layer_count == 0) {
      EXPECT_EQ(FreeImage_GetBPP(image.get()), 24u);
      const Rgba16 pixel = ReadPixel(image, 3, 1);
      EXPECT_EQ(pixel.red >> 8, 121);
      EXPECT_EQ(pixel.blue >> 8, 123);
      EXPECT_EQ(pixel.alpha, 0xFFFF);
    } else {
      EXPECT_EQ(FreeImage_GetBPP(image.get()), 32u);
      EXPECT_EQ(ReadPixel(image, 3, 1).alpha, 0);
    }
  }
  // A 16-bit document keeps its 16 bits when the selection goes.
  PsdSpec deep = MakePsdSpec(PsdMode::Rgb, 16, 2, 2, 4);
  deep.layer_count = 0;
  FillPsdPlanes(deep, [](uint32_t, uint32_t, uint32_t c) { return c == 3 ? 0 : 1000 * (c + 1); });
  const Bitmap image = LoadSpec(dir, deep);
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetImageType(image.get()), FIT_RGB16);
  EXPECT_EQ(ReadPixel(image, 1, 1).green, 2000);
}

TEST(LoadInputImage, CmykKeepsItsTransparencyWithoutTheWhiteMatte) {
  TempDir dir;
  const uint32_t grey = 62;
  const uint32_t alphas[] = {255, 206, 0};
  for (int16_t layer_count : {-1, 0}) {
    PsdSpec spec = MakePsdSpec(PsdMode::Cmyk, 8, 3, 1, 5);
    spec.layer_count = layer_count;
    spec.compression = PsdCompression::Rle;
    // Grey by black ink alone, stored inverted and matted against white.
    FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t c) -> uint32_t {
      if (c == 4) return alphas[x];
      if (c < 3) return 255;
      return MatteAgainstWhite(grey, alphas[x], 255);
    });
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image);
    if (layer_count == 0) {
      EXPECT_EQ(FreeImage_GetBPP(image.get()), 24u) << "a saved selection of a CMYK document";
      continue;
    }
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 32u);
    for (unsigned x = 0; x < 2; ++x) {
      const Rgba16 pixel = ReadPixel(image, static_cast<int>(x), 0);
      EXPECT_EQ(pixel.alpha >> 8, alphas[x]);
      EXPECT_NEAR(pixel.red >> 8, grey, 1) << "alpha " << alphas[x];
      EXPECT_NEAR(pixel.blue >> 8, grey, 1) << "alpha " << alphas[x];
    }
    EXPECT_EQ(ReadPixel(image, 2, 0).alpha, 0);
  }
}

TEST(LoadInputImage, CmykColoursGoThroughTheDocumentsProfile) {
  TempDir dir;
  const std::string profile = CyanLightnessProfile();
  for (uint16_t depth : {8, 16}) {
    PsdSpec spec = CyanRamp(depth);
    spec.resources = {PsdIccProfileResource(profile)};
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image) << depth;
    EXPECT_EQ(FreeImage_GetBPP(image.get()), depth == 8 ? 24u : 48u);
    EXPECT_EQ(FreeImage_GetICCProfile(image.get())->size, 0) << "no CMYK profile on RGB pixels";
    const double expected[] = {0, LightnessToSrgbLevel(50), 255};
    for (int x = 0; x < 3; ++x) {
      const Rgba16 pixel = ReadPixel(image, x, 0);
      for (uint16_t sample : {pixel.red, pixel.green, pixel.blue}) {
        EXPECT_NEAR(sample / 257.0, expected[x], 2.5) << depth << "-bit, cyan " << x * 50 << "%";
      }
    }
  }
}

// A transparent CMYK document's inks are scaled by alpha against white paper; they come back
// before the profile converts them. Unmatted after it, half-transparent half cyan came out black.
TEST(LoadInputImage, TransparentCmykThroughItsProfileKeepsItsTrueColour) {
  TempDir dir;
  const uint32_t alphas[] = {255, 128, 0};
  for (uint16_t depth : {8, 16}) {
    const uint32_t full = depth == 8 ? 255 : 65535;
    const uint32_t scale = depth == 8 ? 1 : 257;
    PsdSpec spec = MakePsdSpec(PsdMode::Cmyk, depth, 3, 1, 5);
    spec.resources = {PsdIccProfileResource(CyanLightnessProfile())};
    // Half cyan, no other ink; stored inverted, then matted against white.
    FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t c) -> uint32_t {
      if (c == 4) return alphas[x] * scale;
      const uint32_t stored = c == 0 ? full - 128 * scale : full;
      return MatteAgainstWhite(stored, alphas[x] * scale, full);
    });
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image) << depth;
    for (int x = 0; x < 2; ++x) {
      const Rgba16 pixel = ReadPixel(image, x, 0);
      EXPECT_EQ(pixel.alpha >> 8, alphas[x]);
      for (uint16_t sample : {pixel.red, pixel.green, pixel.blue}) {
        EXPECT_NEAR(sample / 257.0, LightnessToSrgbLevel(100 * 128 / 255.0), 2.5)
            << depth << "-bit, alpha " << alphas[x];
      }
    }
    EXPECT_EQ(ReadPixel(image, 2, 0).alpha, 0);
  }
}

TEST(LoadInputImage, ADamagedCmykProfileFallsBackToThePlainConversion) {
  TempDir dir;
  const Bitmap plain = LoadSpec(dir, CyanRamp(8));
  ASSERT_TRUE(plain);
  std::string truncated = CyanLightnessProfile();
  truncated.resize(truncated.size() / 2);
  std::string not_cmyk = CyanLightnessProfile();
  not_cmyk.replace(16, 4, "RGB ");
  for (const std::string& profile : {truncated, not_cmyk, std::string(300, '\x5A')}) {
    PsdSpec spec = CyanRamp(8);
    spec.resources = {PsdIccProfileResource(profile)};
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 24u);
    for (int x = 0; x < 3; ++x) {
      const Rgba16 got = ReadPixel(image, x, 0), want = ReadPixel(plain, x, 0);
      EXPECT_EQ(got.red, want.red) << x;
      EXPECT_EQ(got.green, want.green) << x;
    }
  }
  // The plain conversion makes full cyan cyan.
  EXPECT_EQ(ReadPixel(plain, 2, 0).red >> 8, 0);
  EXPECT_EQ(ReadPixel(plain, 2, 0).green >> 8, 255);
}

TEST(LoadInputImage, FloatSamplesAreLinearLightEncodedAsSrgb) {
  TempDir dir;
  const std::vector<float> linear = {0.0f, 0.0031308f, 0.214f, 0.5f, 1.0f, 2.0f};
  const auto width = static_cast<uint32_t>(linear.size());
  for (PsdMode mode : {PsdMode::Greyscale, PsdMode::Rgb}) {
    const uint16_t channels = mode == PsdMode::Rgb ? 3 : 1;
    PsdSpec spec = MakePsdSpec(mode, 32, width, 1, channels);
    // Blue runs the other way, so channels cannot be mixed up unnoticed.
    FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t c) {
      return PsdFloatBits(c == 2 ? linear[width - 1 - x] : linear[x]);
    });
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetImageType(image.get()), mode == PsdMode::Rgb ? FIT_RGB16 : FIT_UINT16);
    for (uint32_t x = 0; x < width; ++x) {
      const Rgba16 pixel = ReadPixel(image, static_cast<int>(x), 0);
      EXPECT_NEAR(pixel.red, SrgbLevel(linear[x]) * 257, 1.0) << linear[x];
      if (mode == PsdMode::Rgb) {
        EXPECT_NEAR(pixel.blue, SrgbLevel(linear[width - 1 - x]) * 257, 1.0) << linear[x];
      }
      EXPECT_EQ(pixel.alpha, 0xFFFF);
    }
    EXPECT_EQ(ReadPixel(image, 4, 0).red, 65535) << "1.0 is full white";
  }
}

TEST(LoadInputImage, FloatTransparencyStaysLinear) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 32, 2, 1, 4);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t, uint32_t c) {
    return PsdFloatBits(c == 3 ? (x == 0 ? 1.0f : 0.25f) : 1.0f);
  });
  const Bitmap image = LoadSpec(dir, spec);
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_RGBA16);
  EXPECT_EQ(ReadPixel(image, 0, 0).alpha, 65535);
  EXPECT_NEAR(ReadPixel(image, 1, 0).alpha, 16384, 1);
  EXPECT_EQ(ReadPixel(image, 0, 0).green, 65535);
}

TEST(EncodeLinearSample, ClipsAndKeepsTheCurvesEnds) {
  EXPECT_EQ(EncodeLinearSample(-1.0f), 0);
  EXPECT_EQ(EncodeLinearSample(std::nanf("")), 0);
  EXPECT_EQ(EncodeLinearSample(INFINITY), 65535);
  EXPECT_EQ(EncodeLinearSample(0.0031308f), 2651);  // the end of the linear segment
  // Monotonic over the whole range: no step of the curve goes back.
  uint16_t last = 0;
  for (int i = 0; i <= 4096; ++i) {
    const uint16_t value = EncodeLinearSample(static_cast<float>(i) / 4096);
    ASSERT_GE(value, last) << i;
    last = value;
  }
  EXPECT_EQ(last, 65535);
}

TEST(DecodeTimeLimit, ConvertingThroughAProfileGetsTimeForIt) {
  PsdSpec spec = MakePsdSpec(PsdMode::Cmyk, 8, 2048, 1024, 4);
  const auto limit = [&] {
    const std::string bytes = WritePsd(spec);
    const std::span<const uint8_t> file(reinterpret_cast<const uint8_t*>(bytes.data()),
                                        bytes.size());
    const std::optional<PsdLayout> layout = CheckPsdStructure(file, 0);
    EXPECT_TRUE(layout);
    return layout ? DecodeTimeLimit(*layout) : std::chrono::milliseconds(0);
  };
  const std::chrono::milliseconds plain = limit();
  spec.resources = {PsdIccProfileResource(CyanLightnessProfile())};
  EXPECT_GE(limit() - plain, std::chrono::milliseconds(1900));  // two megapixels
}

TEST(HasMergedTransparency, DamagedRecordsAreNoTransparency) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 2, 2, 4);
  spec.layer_count = 0;
  // Names and identifiers that claim more than they hold.
  spec.resources = {PsdResource{1006, std::string(1, '\x40') + "Trans"},
                    PsdResource{1045, std::string("\0\0\0\x30\0T", 6)},
                    PsdResource{1053, std::string("\0\0", 2)}};
  EXPECT_FALSE(Transparent(spec));

  // A layer info that claims more than its section holds says nothing.
  spec.resources.clear();
  spec.layer_count = -1;
  PsdOffsets offsets;
  std::string bytes = WritePsd(spec, &offsets);
  PutBigEndian(bytes, offsets.layers + 4, 0xFFFFFFF0u, 4);
  const std::span<const uint8_t> file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const std::optional<PsdLayout> layout = CheckPsdStructure(file, 0);
  ASSERT_TRUE(layout);
  EXPECT_FALSE(HasMergedTransparency(file, *layout));
}

// The matte of a transparent grey document is undone once, in its own colours: converted from a
// gamma-1.8 grey to sRGB, a half-transparent dark grey keeps its true colour (undone again on the
// sRGB samples it came out 16 levels lighter).
TEST(LoadInputImage, TransparentGreyThroughItsProfileKeepsItsTrueColour) {
  TempDir dir;
  constexpr double Gamma = 1.8;
  const uint32_t grey = 60;
  const uint32_t alphas[] = {255, 128, 0};
  for (const uint16_t depth : {8, 16}) {
    const uint32_t full = depth == 8 ? 255 : 65535;
    const uint32_t scale = depth == 8 ? 1 : 257;
    PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, depth, 3, 1, 2);
    spec.resources.push_back(PsdIccProfileResource(GammaGreyProfile(Gamma)));
    FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t c) -> uint32_t {
      return c == 1 ? alphas[x] * scale : MatteAgainstWhite(grey * scale, alphas[x] * scale, full);
    });
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image);
    const double want = SrgbLevel(std::pow(grey / 255.0, Gamma));
    for (unsigned x = 0; x < 2; ++x) {
      const Rgba16 pixel = ReadPixel(image, static_cast<int>(x), 0);
      EXPECT_EQ(pixel.alpha >> 8, alphas[x]);
      EXPECT_NEAR(pixel.red / 257.0, want, 1.0) << depth << "-bit, alpha " << alphas[x];
      EXPECT_EQ(pixel.red, pixel.blue);
    }
    EXPECT_EQ(ReadPixel(image, 2, 0).alpha, 0);
  }
}
