// Grey, RGB and Lab colours through a document's ICC profile to sRGB, in this process. The
// profiles are made here with LittleCMS; the expected colours come from the colour science (the
// profiles' own curves and primaries, the sRGB definition), not from LittleCMS.

#include "decoder/colour_profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "decoder/stored_decode.h"
#include "engine/isolation/decoder_protocol.h"
#include "tests/support/icc_profiles.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

std::string SavedProfile(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::string bytes(size, '\0');
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// A grey working space like the press ones: a plain gamma curve, far from sRGB's
// (GammaGreyProfile, written byte by byte).
constexpr double GreyGamma = 1.8;

// A wide-gamut RGB space with Adobe RGB (1998)'s primaries, white and gamma.
constexpr double WideGamma = 563.0 / 256;

std::string WideRgbProfile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* curve = cmsBuildGamma(nullptr, WideGamma);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  std::string bytes = SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  return bytes;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::array<double, 3> Times(const Matrix& m, const std::array<double, 3>& v) {
  std::array<double, 3> out{};
  for (int i = 0; i < 3; ++i) out[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
  return out;
}

// Both spaces have the D65 white, so a relative conversion is the two matrices alone.
constexpr Matrix WideToXyz = {{{0.5767309, 0.1855540, 0.1881852},
                               {0.2973769, 0.6273491, 0.0752741},
                               {0.0270343, 0.0706872, 0.9911085}}};
constexpr Matrix XyzToSrgb = {{{3.2404542, -1.5371385, -0.4985314},
                               {-0.9692660, 1.8760108, 0.0415560},
                               {0.0556434, -0.2040259, 1.0572252}}};
// Bradford, from the D50 of Lab to the D65 of sRGB.
constexpr Matrix D50ToD65 = {{{0.9555766, -0.0230393, 0.0631636},
                              {-0.0282895, 1.0099416, 0.0210077},
                              {0.0122982, -0.0204830, 1.3299098}}};

std::array<double, 3> SrgbLevels(const std::array<double, 3>& xyz) {
  const std::array<double, 3> linear = Times(XyzToSrgb, xyz);
  return {SrgbLevel(linear[0]), SrgbLevel(linear[1]), SrgbLevel(linear[2])};
}

std::array<double, 3> WideToSrgbLevels(const std::array<int, 3>& wide) {
  std::array<double, 3> linear{};
  for (int i = 0; i < 3; ++i) linear[i] = std::pow(wide[i] / 255.0, WideGamma);
  return SrgbLevels(Times(WideToXyz, linear));
}

std::array<double, 3> LabToSrgbLevels(double l, double a, double b) {
  const auto inverse = [](double t) {
    return t > 6.0 / 29 ? t * t * t : 3 * 36.0 / 841 * (t - 4.0 / 29);
  };
  const double fy = (l + 16) / 116;
  const std::array<double, 3> d50 = {0.9642 * inverse(fy + a / 500), inverse(fy),
                                     0.8249 * inverse(fy - b / 200)};
  return SrgbLevels(Times(D50ToD65, d50));
}

std::vector<uint8_t> ProfileOf(const Bitmap& image) {
  const FIICCPROFILE* icc = FreeImage_GetICCProfile(image.get());
  if (!icc || !icc->data) return {};
  const auto* data = static_cast<const uint8_t*>(icc->data);
  return {data, data + icc->size};
}

}  // namespace

TEST(ConvertToSrgb, GreyGoesThroughItsCurveAndStaysGreyAtItsDepth) {
  const std::string profile = GammaGreyProfile(GreyGamma);
  // 8-bit grey, 16-bit grey, and grey widened to carry transparency.
  Bitmap grey8(FreeImage_Allocate(256, 1, 8));
  Bitmap grey16(FreeImage_AllocateT(FIT_UINT16, 256, 1));
  Bitmap widened(FreeImage_Allocate(256, 1, 32));
  BYTE* row8 = FreeImage_GetScanLine(grey8.get(), 0);
  auto* row16 = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(grey16.get(), 0));
  BYTE* row32 = FreeImage_GetScanLine(widened.get(), 0);
  RGBQUAD* palette = FreeImage_GetPalette(grey8.get());
  for (int i = 0; i < 256; ++i) {
    palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    row8[i] = static_cast<BYTE>(i);
    row16[i] = static_cast<uint16_t>(i * 257);
    row32[4 * i + FI_RGBA_RED] = row32[4 * i + FI_RGBA_GREEN] = row32[4 * i + FI_RGBA_BLUE] =
        static_cast<BYTE>(i);
    row32[4 * i + FI_RGBA_ALPHA] = static_cast<BYTE>(255 - i);
  }
  std::vector<BYTE> attached(profile.begin(), profile.end());
  FreeImage_CreateICCProfile(grey16.get(), attached.data(), static_cast<long>(attached.size()));

  grey8 = ConvertToSrgb(std::move(grey8), Bytes(profile), DocumentColours::Grey);
  grey16 = ConvertToSrgb(std::move(grey16), Bytes(profile), DocumentColours::Grey);
  widened = ConvertToSrgb(std::move(widened), Bytes(profile), DocumentColours::Grey);
  ASSERT_TRUE(grey8 && grey16 && widened);
  EXPECT_EQ(FreeImage_GetBPP(grey8.get()), 8u);
  EXPECT_EQ(FreeImage_GetColorType(grey8.get()), FIC_MINISBLACK);
  EXPECT_EQ(FreeImage_GetImageType(grey16.get()), FIT_UINT16);
  EXPECT_TRUE(ProfileOf(grey16).empty()) << "the grey profile no longer describes the samples";
  row8 = FreeImage_GetScanLine(grey8.get(), 0);
  row16 = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(grey16.get(), 0));
  row32 = FreeImage_GetScanLine(widened.get(), 0);
  for (int i = 0; i < 256; ++i) {
    const double want = SrgbLevel(std::pow(i / 255.0, GreyGamma));
    EXPECT_NEAR(row8[i], want, 1.0) << i;
    EXPECT_NEAR(row16[i] / 257.0, want, 0.1) << i;
    for (const int channel : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE}) {
      EXPECT_NEAR(row32[4 * i + channel], want, 1.0) << i;
    }
    EXPECT_EQ(row32[4 * i + FI_RGBA_ALPHA], 255 - i) << "alpha untouched";
  }
  // Mid-grey of a gamma-1.8 space is lighter than sRGB's: the samples did change.
  EXPECT_GT(row8[128], 140);
}

TEST(ConvertToSrgb, WideGamutColoursLandOnTheirSrgbValuesClippedAtTheEdge) {
  const std::string profile = WideRgbProfile();
  const std::vector<std::array<int, 3>> patches = {{255, 0, 0},     {0, 255, 0},    {0, 0, 255},
                                                   {128, 128, 128}, {200, 100, 50}, {30, 160, 220}};
  for (const bool deep : {false, true}) {
    SCOPED_TRACE(deep);
    const int count = static_cast<int>(patches.size());
    Bitmap image = deep ? Bitmap(FreeImage_AllocateT(FIT_RGBA16, count, 1))
                        : Bitmap(FreeImage_Allocate(count, 1, 24));
    BYTE* row = FreeImage_GetScanLine(image.get(), 0);
    for (int x = 0; x < count; ++x) {
      const std::array<int, 3>& p = patches[x];
      if (deep) {
        reinterpret_cast<FIRGBA16*>(row)[x] = {static_cast<WORD>(p[0] * 257),
                                               static_cast<WORD>(p[1] * 257),
                                               static_cast<WORD>(p[2] * 257), 1234};
      } else {
        row[3 * x + FI_RGBA_RED] = static_cast<BYTE>(p[0]);
        row[3 * x + FI_RGBA_GREEN] = static_cast<BYTE>(p[1]);
        row[3 * x + FI_RGBA_BLUE] = static_cast<BYTE>(p[2]);
      }
    }
    image = ConvertToSrgb(std::move(image), Bytes(profile), DocumentColours::Rgb);
    ASSERT_TRUE(image);
    for (int x = 0; x < count; ++x) {
      const std::array<double, 3> want = WideToSrgbLevels(patches[x]);
      const Rgba16 got = ReadPixel(image, x, 0);
      EXPECT_NEAR(got.red / 257.0, want[0], 1.0) << x;
      EXPECT_NEAR(got.green / 257.0, want[1], 1.0) << x;
      EXPECT_NEAR(got.blue / 257.0, want[2], 1.0) << x;
      if (deep) {
        EXPECT_EQ(got.alpha, 1234);
      }
    }
  }
  // The samples do move, far: shown as they are, they would be far off.
  double largest = 0;
  for (const std::array<int, 3>& patch : patches) {
    const std::array<double, 3> want = WideToSrgbLevels(patch);
    for (int i = 0; i < 3; ++i) largest = std::max(largest, std::fabs(want[i] - patch[i]));
  }
  EXPECT_GT(largest, 20);
}

TEST(ConvertToSrgb, LabGoesThroughLabD50AtEitherDepth) {
  struct Patch {
    double l, a, b;
  };
  // A green, a saturated blue beyond sRGB, a red, white, a neutral.
  const std::vector<Patch> patches = {
      {46.23, -51.7, 49.9}, {20, 50, -85}, {54, 80, 67}, {100, 0, 0}, {50, 0, 0}};
  for (const bool deep : {false, true}) {
    SCOPED_TRACE(deep);
    const int count = static_cast<int>(patches.size());
    Bitmap image = deep ? Bitmap(FreeImage_AllocateT(FIT_RGB16, count, 1))
                        : Bitmap(FreeImage_Allocate(count, 1, 24));
    BYTE* row = FreeImage_GetScanLine(image.get(), 0);
    std::vector<Patch> stored;
    for (int x = 0; x < count; ++x) {
      // Photoshop's encoding: L over the full range; a and b from 128 in 8 bits and, in 16, from
      // 32768 in 256ths of a unit (a gradient stop of its documents with a = 52.29 is stored as
      // 46153), not ICC's 257ths from -128.
      const Patch& p = patches[x];
      if (deep) {
        const auto l = static_cast<WORD>(std::lround(p.l / 100 * 65535));
        const auto a = static_cast<WORD>(std::lround(32768 + p.a * 256));
        const auto b = static_cast<WORD>(std::lround(32768 + p.b * 256));
        reinterpret_cast<FIRGB16*>(row)[x] = {l, a, b};
        stored.push_back({l * 100.0 / 65535, (a - 32768) / 256.0, (b - 32768) / 256.0});
      } else {
        row[3 * x] = static_cast<BYTE>(std::lround(p.l / 100 * 255));
        row[3 * x + 1] = static_cast<BYTE>(std::lround(p.a + 128));
        row[3 * x + 2] = static_cast<BYTE>(std::lround(p.b + 128));
        stored.push_back(
            {row[3 * x] * 100.0 / 255, row[3 * x + 1] - 128.0, row[3 * x + 2] - 128.0});
      }
    }
    image = ConvertToSrgb(std::move(image), {}, DocumentColours::Lab);
    ASSERT_TRUE(image);
    for (int x = 0; x < count; ++x) {
      const std::array<double, 3> want = LabToSrgbLevels(stored[x].l, stored[x].a, stored[x].b);
      const Rgba16 got = ReadPixel(image, x, 0);
      EXPECT_NEAR(got.red / 257.0, want[0], 1.5) << x;
      EXPECT_NEAR(got.green / 257.0, want[1], 1.5) << x;
      EXPECT_NEAR(got.blue / 257.0, want[2], 1.5) << x;
    }
  }
}

TEST(ConvertToSrgb, KeepsTheSamplesOfSrgbAndOfProfilesThatCannotServe) {
  const std::string srgb = SavedProfile(cmsCreate_sRGBProfile());
  std::string truncated = WideRgbProfile();
  truncated.resize(truncated.size() / 2);
  const std::string grey = GammaGreyProfile(GreyGamma);
  for (const std::string& profile : {std::string(), srgb, truncated, grey, std::string(300, 'Z')}) {
    Bitmap image = MakeTestBitmap(7, 3, 24);
    std::vector<BYTE> attached(profile.begin(), profile.end());
    if (!attached.empty()) {
      FreeImage_CreateICCProfile(image.get(), attached.data(), static_cast<long>(attached.size()));
    }
    image = ConvertToSrgb(std::move(image), Bytes(profile), DocumentColours::Rgb);
    ASSERT_TRUE(image);
    EXPECT_TRUE(ProfileOf(image).empty()) << "taken as sRGB";
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 7; ++x) {
        const Rgba16 want = TestBitmapColour(7, 3, 24, x, y);
        const Rgba16 got = ReadPixel(image, x, y);
        EXPECT_EQ(got.red, want.red);
        EXPECT_EQ(got.green, want.green);
        EXPECT_EQ(got.blue, want.blue);
      }
    }
  }
  EXPECT_FALSE(ConvertToSrgb(Bitmap(), Bytes(srgb), DocumentColours::Rgb));
}

TEST(IsSrgbEquivalent, KnowsSrgbByItsPrimariesAndCurvesNotItsName) {
  EXPECT_TRUE(IsSrgbEquivalent(Bytes(SavedProfile(cmsCreate_sRGBProfile()))));
  // The sRGB curve sampled at 1024 points, as most sRGB profiles in documents carry it.
  const std::array<double, 5> parameters = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* exact = cmsBuildParametricToneCurve(nullptr, 4, parameters.data());
  std::vector<cmsUInt16Number> table(1024);
  for (size_t i = 0; i < table.size(); ++i) {
    table[i] = static_cast<cmsUInt16Number>(
        std::lround(65535 * cmsEvalToneCurveFloat(exact, static_cast<float>(i) / 1023)));
  }
  cmsToneCurve* sampled = cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data());
  cmsToneCurve* curves[3] = {sampled, sampled, sampled};
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  EXPECT_TRUE(
      IsSrgbEquivalent(Bytes(SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves)))));
  EXPECT_TRUE(IsSrgbEquivalent(Bytes(SavedProfile(cmsCreateGrayProfile(cmsD50_xyY(), exact)))));
  cmsFreeToneCurve(sampled);
  cmsFreeToneCurve(exact);

  EXPECT_FALSE(IsSrgbEquivalent(Bytes(WideRgbProfile())));
  EXPECT_FALSE(IsSrgbEquivalent(Bytes(GammaGreyProfile(GreyGamma))));
  EXPECT_FALSE(IsSrgbEquivalent(Bytes(GammaGreyProfile(2.2))));
  EXPECT_FALSE(IsSrgbEquivalent(Bytes(CyanLightnessProfile())));
  EXPECT_FALSE(IsSrgbEquivalent({}));
}

namespace {

class StoredColours : public ::testing::Test {
 protected:
  Bitmap Decode(const PsdSpec& spec, bool to_srgb) {
    const std::string path = dir_.file("doc.psd");
    EXPECT_TRUE(WriteFileBytes(path, WritePsd(spec)));
    FileStream input(open(path.c_str(), O_RDONLY | O_CLOEXEC), "rb");
    return DecodeStoredComposite(path.c_str(), input, false, to_srgb);
  }
  TempDir dir_;
};

}  // namespace

TEST_F(StoredColours, GreyDocumentsGoToSrgbGreyOrKeepSamplesAndProfileExactly) {
  const std::string profile = GammaGreyProfile(GreyGamma);
  PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, 16, 64, 2, 1);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t) { return x * 1024 + y * 7; });
  spec.resources.push_back(PsdIccProfileResource(profile));

  const Bitmap kept = Decode(spec, false);
  ASSERT_TRUE(kept);
  EXPECT_EQ(FreeImage_GetImageType(kept.get()), FIT_UINT16);
  const std::vector<uint8_t> kept_profile = ProfileOf(kept);
  EXPECT_EQ(std::string(kept_profile.begin(), kept_profile.end()), profile);
  const Bitmap converted = Decode(spec, true);
  ASSERT_TRUE(converted);
  EXPECT_EQ(FreeImage_GetImageType(converted.get()), FIT_UINT16) << "16 bits, still grey";
  EXPECT_TRUE(ProfileOf(converted).empty());
  for (uint32_t y = 0; y < 2; ++y) {
    // FreeImage keeps the bottom row first.
    const auto* kept_row =
        reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(kept.get(), 1 - y));
    const auto* row =
        reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(converted.get(), 1 - y));
    for (uint32_t x = 0; x < 64; ++x) {
      const uint32_t sample = x * 1024 + y * 7;
      EXPECT_EQ(kept_row[x], sample) << "kept samples round-trip";
      EXPECT_NEAR(row[x] / 257.0, SrgbLevel(std::pow(sample / 65535.0, GreyGamma)), 0.1) << x;
    }
  }
}

TEST_F(StoredColours, LabDocumentsComeThroughLittleCmsWhateverIsAsked) {
  PsdSpec spec = MakePsdSpec(PsdMode::Lab, 8, 1, 1, 3);
  // The green patch: FreeImage's own formulas make it 31,127,7.
  const std::array<uint32_t, 3> lab = {118, 76, 178};
  FillPsdPlanes(spec, [&lab](uint32_t, uint32_t, uint32_t channel) { return lab[channel]; });
  const std::array<double, 3> want =
      LabToSrgbLevels(lab[0] * 100.0 / 255, lab[1] - 128.0, lab[2] - 128.0);
  for (const bool to_srgb : {false, true}) {
    const Bitmap image = Decode(spec, to_srgb);
    ASSERT_TRUE(image);
    const Rgba16 got = ReadPixel(image, 0, 0);
    EXPECT_NEAR(got.red / 257.0, want[0], 1.5);
    EXPECT_NEAR(got.green / 257.0, want[1], 1.5);
    EXPECT_NEAR(got.blue / 257.0, want[2], 1.5);
  }
}

namespace {

// What the editor stores for a true colour `c` under alpha `a`: matted against white.
uint32_t MatteAgainstWhite(uint32_t c, uint32_t a, uint32_t full) {
  const double alpha = static_cast<double>(a) / full;
  return static_cast<uint32_t>(std::lround(c * alpha + full * (1.0 - alpha)));
}

// `samples` (grey or RGB, 8 or 16 bits) through `profile` to sRGB by LittleCMS, relative
// colorimetric with black-point compensation: grey to a grey with sRGB's curve.
std::vector<uint16_t> LittleCmsToSrgb(const std::string& profile, std::vector<uint16_t> samples,
                                      bool grey) {
  cmsHPROFILE source = cmsOpenProfileFromMem(profile.data(), profile.size());
  const cmsFloat64Number srgb_curve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb_curve);
  cmsHPROFILE target = grey ? cmsCreateGrayProfile(cmsD50_xyY(), curve) : cmsCreate_sRGBProfile();
  const cmsUInt32Number format = grey ? TYPE_GRAY_16 : TYPE_RGB_16;
  cmsHTRANSFORM transform =
      cmsCreateTransform(source, format, target, format, INTENT_RELATIVE_COLORIMETRIC,
                         cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE);
  EXPECT_TRUE(transform);
  if (transform) {
    cmsDoTransform(transform, samples.data(), samples.data(),
                   static_cast<cmsUInt32Number>(samples.size() / (grey ? 1 : 3)));
    cmsDeleteTransform(transform);
  }
  cmsFreeToneCurve(curve);
  cmsCloseProfile(target);
  cmsCloseProfile(source);
  return samples;
}

bool MatteRemovedMark(const Bitmap& image) {
  return (FreeImage_GetICCProfile(image.get())->flags & DecodedMatteRemoved) != 0;
}

}  // namespace

// A transparent document's composite is matted against white in the document's colours: its true
// colour comes back before the conversion, and the picture says so. Unmatting sRGB samples after
// it put a half-transparent grey 16 levels off.
TEST_F(StoredColours, TheWhiteMatteIsUndoneInTheDocumentsColoursBeforeTheyAreConverted) {
  const std::string profile = GammaGreyProfile(GreyGamma);
  for (const uint16_t depth : {8, 16}) {
    const uint32_t full = depth == 8 ? 255 : 65535;
    const uint32_t level = depth == 8 ? 1 : 257;
    // Opaque, half and nearly fully transparent, then invisible.
    const std::array<uint32_t, 4> alphas = {full, full / 2 + 1, full / 16, 0};
    const uint32_t grey = 60 * level;
    PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, depth, 4, 1, 2);
    spec.resources.push_back(PsdIccProfileResource(profile));
    FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t channel) {
      return channel == 1 ? alphas[x] : MatteAgainstWhite(grey, alphas[x], full);
    });
    const Bitmap image = Decode(spec, true);
    ASSERT_TRUE(image);
    EXPECT_TRUE(MatteRemovedMark(image));
    std::vector<uint16_t> straight(4);
    for (uint32_t x = 0; x < 4; ++x) {
      const uint32_t stored = MatteAgainstWhite(grey, alphas[x], full);
      const double alpha = static_cast<double>(alphas[x]) / full;
      const double unmatted = alphas[x] == 0 ? stored : (stored - full * (1 - alpha)) / alpha;
      straight[x] = static_cast<uint16_t>(std::lround(unmatted / full * 65535));
    }
    const std::vector<uint16_t> want = LittleCmsToSrgb(profile, straight, true);
    const BYTE* row = FreeImage_GetScanLine(image.get(), 0);
    for (uint32_t x = 0; x < 3; ++x) {
      const double got = depth == 8 ? row[x] : reinterpret_cast<const uint16_t*>(row)[x] / 257.0;
      // 1/16 alpha magnifies the stored sample's rounding sixteen times.
      EXPECT_NEAR(got, want[x] / 257.0, x == 2 && depth == 8 ? 8.0 : 0.5)
          << depth << "-bit, alpha " << alphas[x];
    }
    EXPECT_NEAR(depth == 8 ? row[3] : reinterpret_cast<const uint16_t*>(row)[3] / 257.0,
                want[3] / 257.0, 0.5)
        << "invisible pixels keep their stored colour";
  }

  // Colour: a wide-gamut red at half alpha.
  const std::string wide = WideRgbProfile();
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 1, 1, 4);
  spec.resources.push_back(PsdIccProfileResource(wide));
  const std::array<uint32_t, 3> colour = {200, 40, 90};
  FillPsdPlanes(spec, [&](uint32_t, uint32_t, uint32_t channel) {
    return channel == 3 ? 128 : MatteAgainstWhite(colour[channel], 128, 255);
  });
  const Bitmap image = Decode(spec, true);
  ASSERT_TRUE(image);
  EXPECT_TRUE(MatteRemovedMark(image));
  std::vector<uint16_t> straight(3);
  for (int c = 0; c < 3; ++c) {
    const double stored = MatteAgainstWhite(colour[c], 128, 255);
    straight[c] = static_cast<uint16_t>(std::lround((stored - 127) * 255 / 128 * 257));
  }
  const std::vector<uint16_t> want = LittleCmsToSrgb(wide, straight, false);
  const Rgba16 got = ReadPixel(image, 0, 0);
  EXPECT_NEAR(got.red / 257.0, want[0] / 257.0, 1.0);
  EXPECT_NEAR(got.green / 257.0, want[1] / 257.0, 1.0);
  EXPECT_NEAR(got.blue / 257.0, want[2] / 257.0, 1.0);
  EXPECT_EQ(got.alpha >> 8, 128);
}

// Where no conversion changes the colours, the matte is left to the program, which undoes it in
// the same colours: the samples come as stored and unmarked.
TEST_F(StoredColours, WithoutAConversionTheMatteStaysForTheProgram) {
  const uint32_t stored = MatteAgainstWhite(60, 128, 255);
  for (const std::string& profile :
       {std::string(), SavedProfile(cmsCreate_sRGBProfile()), WideRgbProfile()}) {
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 1, 1, 4);
    if (!profile.empty()) spec.resources.push_back(PsdIccProfileResource(profile));
    FillPsdPlanes(
        spec, [&](uint32_t, uint32_t, uint32_t channel) { return channel == 3 ? 128 : stored; });
    // A wide-gamut document is kept only when asked to keep its profile.
    const Bitmap image = Decode(spec, profile != WideRgbProfile());
    ASSERT_TRUE(image);
    EXPECT_FALSE(MatteRemovedMark(image));
    EXPECT_EQ(ReadPixel(image, 0, 0).red >> 8, stored);
  }
  // A saved selection is no transparency: nothing was matted.
  PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, 8, 1, 1, 2);
  spec.layer_count = 0;
  spec.resources.push_back(PsdIccProfileResource(GammaGreyProfile(GreyGamma)));
  FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t channel) { return channel == 1 ? 128 : 60; });
  const Bitmap image = Decode(spec, true);
  ASSERT_TRUE(image);
  EXPECT_FALSE(MatteRemovedMark(image));
  EXPECT_NEAR(*FreeImage_GetScanLine(image.get(), 0), SrgbLevel(std::pow(60 / 255.0, GreyGamma)),
              1.0);
}
