// Our own 8-bit matrix-shaper conversion to sRGB against LittleCMS's exact transform (unoptimised,
// in doubles), over a sweep of colours, for the kinds of curves and whites working spaces have and
// for the profiles of the corpus.

#include "decoder/matrix_shaper.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "decoder/lcms_handles.h"
#include "engine/psd/psd_header.h"

namespace {

Profile RgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
  cmsToneCurve* curves[3] = {curve, curve, curve};
  Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  return profile;
}

constexpr cmsCIExyYTRIPLE WidePrimaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
constexpr cmsCIExyY D65{0.3127, 0.3290, 1.0};

// The largest distance, in levels, between our conversion and LittleCMS's exact one over every
// `step`-th level of each channel, with and without alpha beside the colour.
double WorstDistance(cmsHPROFILE source, const MatrixShaperToSrgb& fast, int step) {
  const Profile srgb(cmsCreate_sRGBProfile());
  const Transform exact(cmsCreateTransform(source, TYPE_RGB_DBL, srgb.get(), TYPE_RGB_DBL,
                                           INTENT_RELATIVE_COLORIMETRIC,
                                           cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE));
  EXPECT_TRUE(exact);
  if (!exact) return 1e9;
  std::vector<double> colours;
  std::vector<BYTE> pixels;
  for (int r = 0; r < 256; r += step) {
    for (int g = 0; g < 256; g += step) {
      for (int b = 0; b < 256; b += step) {
        colours.insert(colours.end(), {r / 255.0, g / 255.0, b / 255.0});
        BYTE pixel[4] = {};
        pixel[FI_RGBA_RED] = static_cast<BYTE>(r);
        pixel[FI_RGBA_GREEN] = static_cast<BYTE>(g);
        pixel[FI_RGBA_BLUE] = static_cast<BYTE>(b);
        pixel[FI_RGBA_ALPHA] = static_cast<BYTE>(r ^ b);
        pixels.insert(pixels.end(), pixel, pixel + 4);
      }
    }
  }
  const auto count = static_cast<unsigned>(colours.size() / 3);
  cmsDoTransform(exact.get(), colours.data(), colours.data(), count);
  std::vector<BYTE> packed(3 * count);
  for (unsigned i = 0; i < count; ++i) std::copy_n(&pixels[4 * i], 3, &packed[3 * i]);
  const std::vector<BYTE> before = pixels;
  fast.ConvertPixels(pixels.data(), count, 4);
  fast.ConvertPixels(packed.data(), count, 3);
  double worst = 0;
  for (unsigned i = 0; i < count; ++i) {
    EXPECT_EQ(pixels[4 * i + FI_RGBA_ALPHA], before[4 * i + FI_RGBA_ALPHA]) << "alpha untouched";
    const int channels[3] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
    for (int c = 0; c < 3; ++c) {
      const double want = std::clamp(colours[3 * i + c], 0.0, 1.0) * 255;
      worst = std::max(worst, std::fabs(pixels[4 * i + channels[c]] - want));
      EXPECT_EQ(packed[3 * i + channels[c]], pixels[4 * i + channels[c]]) << "same without alpha";
    }
  }
  return worst;
}

}  // namespace

TEST(MatrixShaperToSrgb, StaysWithinALevelOfLittleCmsExactTransform) {
  const Profile srgb(cmsCreate_sRGBProfile());
  const cmsFloat64Number srgb_curve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  std::vector<float> sampled(1024);
  for (size_t i = 0; i < sampled.size(); ++i) {
    sampled[i] = static_cast<float>(std::pow(i / 1023.0, 2.2));
  }
  struct Case {
    const char* name;
    Profile profile;
  };
  Case cases[] = {
      // Adobe RGB (1998)'s primaries, white and gamma: saturated colours leave sRGB's gamut.
      {"wide gamut", RgbProfile(D65, WidePrimaries, cmsBuildGamma(nullptr, 563.0 / 256))},
      // ProPhoto's: a D50 white, gamma 1.8, primaries beyond the visible.
      {"D50 white",
       RgbProfile(*cmsD50_xyY(),
                  {{0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}},
                  cmsBuildGamma(nullptr, 1.8))},
      // Display P3's: sRGB's curve with its straight toe.
      {"parametric curve",
       RgbProfile(D65, {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}},
                  cmsBuildParametricToneCurve(nullptr, 4, srgb_curve))},
      // A curve written as a table, as many profiles in circulation have it.
      {"sampled curve",
       RgbProfile(D65, WidePrimaries,
                  cmsBuildTabulatedToneCurveFloat(
                      nullptr, static_cast<cmsUInt32Number>(sampled.size()), sampled.data()))},
  };
  for (const Case& one : cases) {
    ASSERT_TRUE(one.profile) << one.name;
    const std::unique_ptr<MatrixShaperToSrgb> fast =
        MatrixShaperToSrgb::Between(one.profile.get(), srgb.get());
    ASSERT_TRUE(fast) << one.name;
    const double worst = WorstDistance(one.profile.get(), *fast, 5);
    EXPECT_LE(worst, 0.75) << one.name;
    EXPECT_GE(worst, 0.5) << one.name << ": rounding alone makes half a level";
  }
}

TEST(MatrixShaperToSrgb, LeavesToLittleCmsWhatItCannotDoAlike) {
  const Profile srgb(cmsCreate_sRGBProfile());
  // A curve whose black is lifted: black-point compensation would move every colour.
  const cmsFloat64Number lifted[3] = {2.2, 0.95, 0.05};
  const Profile grey_black(
      RgbProfile(D65, WidePrimaries, cmsBuildParametricToneCurve(nullptr, 2, lifted)));
  ASSERT_TRUE(grey_black);
  EXPECT_FALSE(MatrixShaperToSrgb::Between(grey_black.get(), srgb.get()));
  // Grey, Lab and lookup-table profiles are no RGB matrix-shapers.
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  const Profile grey(cmsCreateGrayProfile(cmsD50_xyY(), gamma));
  cmsFreeToneCurve(gamma);
  const Profile lab(cmsCreateLab4Profile(nullptr));
  for (const Profile* other : {&grey, &lab}) {
    ASSERT_TRUE(*other);
    EXPECT_FALSE(MatrixShaperToSrgb::Between(other->get(), srgb.get()));
  }
  // An RGB profile carrying a lookup table as well, which LittleCMS would prefer.
  const Profile wide(RgbProfile(D65, WidePrimaries, cmsBuildGamma(nullptr, 2.2)));
  cmsPipeline* table = cmsPipelineAlloc(nullptr, 3, 3);
  ASSERT_TRUE(table);
  ASSERT_TRUE(cmsWriteTag(wide.get(), cmsSigAToB0Tag, table));
  cmsPipelineFree(table);
  EXPECT_FALSE(MatrixShaperToSrgb::Between(wide.get(), srgb.get()));
}

// Every RGB profile the corpus documents carry that the tables take on, against the same exact
// transform.
TEST(MatrixShaperToSrgb, StaysWithinALevelForTheCorpusProfiles) {
  const std::filesystem::path corpus = QUORVIX_CORPUS_DIR;
  if (corpus.empty() || !std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus";
  const Profile srgb(cmsCreate_sRGBProfile());
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string extension = entry.path().extension().string();
    if (extension != ".psd" && extension != ".psb") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    const std::optional<PsdHeader> header = ReadPsdHeader(file);
    if (!header || header->mode != PsdModeRgb) continue;
    const std::span<const uint8_t> bytes = FindPsdResource(file, *header, PsdIccProfileResourceId);
    if (bytes.empty()) continue;
    const Profile profile(
        cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
    const std::unique_ptr<MatrixShaperToSrgb> fast =
        profile ? MatrixShaperToSrgb::Between(profile.get(), srgb.get()) : nullptr;
    if (!fast) continue;
    EXPECT_LE(WorstDistance(profile.get(), *fast, 15), 0.75) << entry.path().filename();
    ++checked;
  }
  EXPECT_GT(checked, 0) << "the corpus has matrix-shaper RGB profiles";
}
