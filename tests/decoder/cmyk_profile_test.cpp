// CMYK colours through the document's own ICC profile, in this process: the profile is untrusted
// input, parsed by LittleCMS.

#include "decoder/cmyk_profile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "tests/support/icc_profiles.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

constexpr double CyanInk[3] = {0.0, 0.5, 1.0};

// Three pixels of cyan ink as FreeImage loads CMYK samples (ink, 0 = none), no other ink, with
// `profile` attached when there is one.
Bitmap CyanRamp(uint16_t depth, const std::string& profile) {
  Bitmap image = depth == 8 ? Bitmap(FreeImage_Allocate(3, 1, 32))
                            : Bitmap(FreeImage_AllocateT(FIT_RGBA16, 3, 1));
  BYTE* row = FreeImage_GetScanLine(image.get(), 0);
  for (int x = 0; x < 3; ++x) {
    for (int c = 0; c < 4; ++c) {
      const double ink = c == 0 ? CyanInk[x] : 0.0;
      if (depth == 8) {
        row[4 * x + c] = static_cast<BYTE>(std::lround(ink * 255));
      } else {
        reinterpret_cast<uint16_t*>(row)[4 * x + c] =
            static_cast<uint16_t>(std::lround(ink * 65535));
      }
    }
  }
  FreeImage_SetDotsPerMeterX(image.get(), 3937);
  if (!profile.empty()) {
    std::vector<BYTE> bytes(profile.begin(), profile.end());
    FreeImage_CreateICCProfile(image.get(), bytes.data(), static_cast<long>(bytes.size()));
  }
  return image;
}

void ExpectCyanLightness(const Bitmap& image, double tolerance) {
  for (int x = 0; x < 3; ++x) {
    const Rgba16 pixel = ReadPixel(image, x, 0);
    const double want = LightnessToSrgbLevel(100 * CyanInk[x]);
    for (const uint16_t sample : {pixel.red, pixel.green, pixel.blue}) {
      EXPECT_NEAR(sample / 257.0, want, tolerance) << "cyan " << CyanInk[x];
    }
  }
}

}  // namespace

TEST(ConvertCmykThroughProfile, ColoursFollowTheProfileAtEitherDepth) {
  for (const uint16_t depth : {8, 16}) {
    SCOPED_TRACE(depth);
    const Bitmap rgb = ConvertCmykThroughProfile(CyanRamp(depth, CyanLightnessProfile()).get());
    ASSERT_TRUE(rgb);
    EXPECT_EQ(FreeImage_GetBPP(rgb.get()), depth == 8 ? 24u : 48u);
    ExpectCyanLightness(rgb, 2.5);
    EXPECT_EQ(FreeImage_GetICCProfile(rgb.get())->size, 0) << "no CMYK profile on RGB pixels";
  }
}

TEST(ConvertCmykThroughProfile, GivesNothingForWhatItCannotConvert) {
  std::string truncated = CyanLightnessProfile();
  truncated.resize(truncated.size() / 2);
  std::string not_cmyk = CyanLightnessProfile();
  not_cmyk.replace(16, 4, "RGB ");
  for (const std::string& profile : {std::string(), truncated, not_cmyk, std::string(300, 'Z')}) {
    EXPECT_FALSE(ConvertCmykThroughProfile(CyanRamp(8, profile).get()));
  }
  // Pixels of another kind, and none at all.
  Bitmap rgb(FreeImage_Allocate(2, 2, 24));
  const std::string profile = CyanLightnessProfile();
  std::vector<BYTE> bytes(profile.begin(), profile.end());
  FreeImage_CreateICCProfile(rgb.get(), bytes.data(), static_cast<long>(bytes.size()));
  EXPECT_FALSE(ConvertCmykThroughProfile(rgb.get()));
  EXPECT_FALSE(ConvertCmykThroughProfile(nullptr));
}

TEST(RebuildFromLayers, CmykLayersGoThroughTheDocumentsProfileOrThePlainConversion) {
  for (const bool with_profile : {true, false}) {
    SCOPED_TRACE(with_profile);
    PsdSpec spec = MakePsdSpec(PsdMode::Cmyk, 8, 3, 1, 4);
    FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t) { return 255; });
    spec.resources.push_back(PsdVersionInfoResource(false));
    if (with_profile) spec.resources.push_back(PsdIccProfileResource(CyanLightnessProfile()));
    PsdLayer layer;
    layer.bottom = 1;
    layer.right = 3;
    // Stored values, full for no ink.
    for (int16_t c = 0; c < 4; ++c) {
      layer.channels.push_back({c, PsdLayerPlane(3, 1, 8, [c](uint32_t x, uint32_t) {
                                  return c == 0 ? PsdSampleOf(1 - CyanInk[x], 8) : 255;
                                })});
    }
    spec.layers.push_back(layer);
    const std::string file = WritePsd(spec);
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    bool nothing_to_build = false;
    const Bitmap image = RebuildFromLayers(bytes, 0, nothing_to_build);
    ASSERT_TRUE(image);
    EXPECT_EQ(FreeImage_GetBPP(image.get()), 24u);
    if (with_profile) {
      ExpectCyanLightness(image, 2.5);
    } else {
      // Each colour is its ink's stored complement times black's: cyan takes red away.
      for (int x = 0; x < 3; ++x) {
        ExpectPixel(image, x, 0, {{1 - CyanInk[x], 1, 1}, 1.0});
      }
    }
  }
}
