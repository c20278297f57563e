// Colour management end to end: the real binary converts documents with and without a profile,
// and the written PNG holds sRGB samples tagged sRGB, or with "Keep ICC Profile" the document's
// own samples and profile.

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/image/bitmap.h"
#include "tests/cli/run_quorvix.h"
#include "tests/support/icc_profiles.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t Width = 32;

uint32_t GreySample(uint32_t x) { return x * 2114; }

class ColourRun : public ::testing::Test {
 protected:
  // Converts `spec` with `extra` options; the PNG's bytes, empty when the run failed.
  std::string Convert(const PsdSpec& spec, const std::vector<std::string>& extra = {}) {
    std::filesystem::create_directories(dir.file("out"));
    std::filesystem::remove(dir.file("out/in.png"));
    EXPECT_TRUE(WritePsdFile(dir.file("in.psd"), spec));
    std::vector<std::string> arguments = {"-q", "-i", dir.file("in.psd"), "-o", dir.file("out")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const QuorvixRun run = RunQuorvix(arguments, {dir.path().string(), {}, {}});
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    return ReadFileBytes(dir.file("out/in.png"));
  }
  Bitmap Load() const { return Bitmap(FreeImage_Load(FIF_PNG, dir.file("out/in.png").c_str(), 0)); }

  static bool HasChunk(const std::string& png, const char* type) {
    return png.find(type) != std::string::npos;
  }

  // The profile in the iCCP chunk, inflated: its name, a zero, the compression method, then zlib.
  static std::string ProfileInPng(const std::string& png) {
    const size_t type = png.find("iCCP");
    if (type == std::string::npos || type < 4) return {};
    const auto* length_bytes = reinterpret_cast<const unsigned char*>(png.data() + type - 4);
    const size_t length = size_t{length_bytes[0]} << 24 | size_t{length_bytes[1]} << 16 |
                          size_t{length_bytes[2]} << 8 | length_bytes[3];
    const std::string data = png.substr(type + 4, length);
    const size_t name_end = data.find('\0');
    if (name_end == std::string::npos || name_end + 2 > data.size()) return {};
    std::string out(1 << 16, '\0');
    uLongf out_size = out.size();
    const std::string packed = data.substr(name_end + 2);
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &out_size,
                   reinterpret_cast<const Bytef*>(packed.data()), packed.size()) != Z_OK) {
      return {};
    }
    out.resize(out_size);
    return out;
  }
  TempDir dir;
};

// Grey with transparency: the top row opaque, the bottom row fading out from the left.
uint32_t GreyAlphaSample(uint32_t x, uint32_t y, uint32_t channel, uint16_t depth) {
  const uint32_t grey = depth == 16 ? GreySample(x) : x * 8;
  const uint32_t opaque = depth == 16 ? 65535 : 255;
  if (channel == 0) return grey;
  return y == 0 ? opaque : opaque - grey;
}

// 32-bit documents hold linear light 0..1: the 8-bit samples scaled.
PsdSpec GreyAlphaDocument(uint16_t depth, const std::string& profile) {
  PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, depth, Width, 2, 2);
  FillPsdPlanes(spec, [depth](uint32_t x, uint32_t y, uint32_t c) {
    if (depth == 32) return PsdFloatBits(static_cast<float>(GreyAlphaSample(x, y, c, 8)) / 255);
    return GreyAlphaSample(x, y, c, depth);
  });
  spec.resources.push_back(PsdIccProfileResource(profile));
  return spec;
}

// The bit depth and colour type the PNG's header (IHDR, the first chunk) gives.
std::pair<int, int> DepthAndColourType(const std::string& png) {
  if (png.size() < 26 || png.compare(12, 4, "IHDR") != 0) return {0, -1};
  return {static_cast<unsigned char>(png[24]), static_cast<unsigned char>(png[25])};
}

struct Rgba16 {
  uint32_t red = 0, green = 0, blue = 0, alpha = 0;
};

// Pixel (x, y), top row 0, of a loaded RGBA PNG in 16-bit levels; all zero for other kinds.
Rgba16 ReadPixel(const Bitmap& image, int x, int y) {
  const int row = static_cast<int>(FreeImage_GetHeight(image.get())) - 1 - y;
  const BYTE* line = FreeImage_GetScanLine(image.get(), row);
  if (FreeImage_GetImageType(image.get()) == FIT_RGBA16) {
    const FIRGBA16& pixel = reinterpret_cast<const FIRGBA16*>(line)[x];
    return {pixel.red, pixel.green, pixel.blue, pixel.alpha};
  }
  if (FreeImage_GetBPP(image.get()) != 32) return {};
  const BYTE* pixel = line + 4 * x;
  return {pixel[FI_RGBA_RED] * 257u, pixel[FI_RGBA_GREEN] * 257u, pixel[FI_RGBA_BLUE] * 257u,
          pixel[FI_RGBA_ALPHA] * 257u};
}

PsdSpec GreyDocument(const std::string& profile) {
  PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, 16, Width, 1, 1);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t, uint32_t) { return GreySample(x); });
  if (!profile.empty()) spec.resources.push_back(PsdIccProfileResource(profile));
  return spec;
}

}  // namespace

TEST_F(ColourRun, SixteenBitGreyThroughItsProfileStaysSixteenBitGreyTaggedSrgb) {
  const std::string png = Convert(GreyDocument(GammaGreyProfile(1.8)));
  EXPECT_TRUE(HasChunk(png, "sRGB"));
  EXPECT_FALSE(HasChunk(png, "iCCP"));
  const Bitmap image = Load();
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_UINT16) << "a grey PNG of 16 bits";
  const auto* row = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(image.get(), 0));
  for (uint32_t x = 0; x < Width; ++x) {
    const double want = SrgbLevel(std::pow(GreySample(x) / 65535.0, 1.8));
    EXPECT_NEAR(row[x] / 257.0, want, 0.25) << x;
  }
}

TEST_F(ColourRun, KeepIccProfileKeepsTheSamplesAndWritesTheProfileBytes) {
  const std::string profile = GammaGreyProfile(1.8);
  const std::string png = Convert(GreyDocument(profile), {"--keep-icc-profile"});
  EXPECT_TRUE(HasChunk(png, "iCCP"));
  EXPECT_FALSE(HasChunk(png, "sRGB"));
  const Bitmap image = Load();
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_UINT16);
  const auto* row = reinterpret_cast<const uint16_t*>(FreeImage_GetScanLine(image.get(), 0));
  for (uint32_t x = 0; x < Width; ++x) EXPECT_EQ(row[x], GreySample(x)) << x;
  EXPECT_EQ(ProfileInPng(png), profile);
}

TEST_F(ColourRun, AKeptProfileGoesOutWithThePictureTheStepsLeave) {
  // Steps make new bitmaps: resizing, rotating and framing must not leave the samples untagged.
  const std::vector<std::string> steps = {"--keep-icc-profile", "--width=50",      "--height=50",
                                          "--width-unit=1",     "--height-unit=1", "--rotation=90",
                                          "--fr-solid-left=2"};
  const std::string rgb_profile = GammaRgbProfile(2.2);
  PsdSpec rgb = MakePsdSpec(PsdMode::Rgb, 8, Width, 4, 3);
  FillPsdPlanes(rgb, [](uint32_t x, uint32_t, uint32_t c) { return (x * 8 + c * 50) % 256; });
  rgb.resources.push_back(PsdIccProfileResource(rgb_profile));
  std::string png = Convert(rgb, steps);
  EXPECT_FALSE(HasChunk(png, "sRGB"));
  EXPECT_EQ(ProfileInPng(png), rgb_profile);

  // A grey picture that stays grey keeps its grey profile through a resize.
  const std::string grey_profile = GammaGreyProfile(1.8);
  png = Convert(GreyDocument(grey_profile), {"--keep-icc-profile", "--width=50", "--height=100",
                                             "--width-unit=1", "--height-unit=1"});
  Bitmap image = Load();
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetImageType(image.get()), FIT_UINT16);
  EXPECT_EQ(ProfileInPng(png), grey_profile);

  // A colour PNG cannot hold a grey profile, nor a grey PNG an RGB one: when the steps make one
  // of another kind, the file goes as by default, through its profile to sRGB and tagged so.
  const std::string grey_by_default = Convert(GreyDocument(grey_profile), {"--png-bpp=24"});
  png = Convert(GreyDocument(grey_profile), {"--keep-icc-profile", "--png-bpp=24"});
  EXPECT_TRUE(HasChunk(png, "sRGB"));
  EXPECT_FALSE(HasChunk(png, "iCCP"));
  EXPECT_EQ(png, grey_by_default);

  const std::string rgb_by_default = Convert(rgb, {"--greyscale=1", "--png-bpp=8"});
  png = Convert(rgb, {"--keep-icc-profile", "--greyscale=1", "--png-bpp=8"});
  image = Load();
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetColorType(image.get()), FIC_MINISBLACK);
  EXPECT_FALSE(HasChunk(png, "iCCP"));
  EXPECT_EQ(png, rgb_by_default);
}

TEST_F(ColourRun, UntaggedAndDamagedProfilesKeepTheirSamples) {
  std::string damaged = GammaGreyProfile(1.8);
  damaged.resize(damaged.size() - 6);
  for (const std::string& profile : {std::string(), damaged}) {
    SCOPED_TRACE(profile.size());
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, Width, 1, 3);
    FillPsdPlanes(spec, [](uint32_t x, uint32_t, uint32_t c) { return (x * 8 + c * 50) % 256; });
    if (!profile.empty()) spec.resources.push_back(PsdIccProfileResource(profile));
    const std::string png = Convert(spec);
    EXPECT_TRUE(HasChunk(png, "sRGB"));
    const Bitmap image = Load();
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 24u);
    const BYTE* row = FreeImage_GetScanLine(image.get(), 0);
    for (uint32_t x = 0; x < Width; ++x) {
      EXPECT_EQ(row[3 * x + FI_RGBA_RED], (x * 8) % 256);
      EXPECT_EQ(row[3 * x + FI_RGBA_GREEN], (x * 8 + 50) % 256);
      EXPECT_EQ(row[3 * x + FI_RGBA_BLUE], (x * 8 + 100) % 256);
    }
  }
}

// Transparency widens a grey document's picture to RGBA in work; at an automatic depth it goes out
// as grey with alpha all the same, unless the steps made it colour. An explicit depth is kept.
TEST_F(ColourRun, GreyWithTransparencyStaysGreyWithAlpha) {
  const std::string profile = GammaGreyProfile(1.8);
  for (const uint16_t depth : {8, 16, 32}) {
    SCOPED_TRACE(depth);
    const PsdSpec spec = GreyAlphaDocument(depth, profile);
    // 32-bit samples come out sRGB-encoded in 16 bits.
    const int png_depth = depth == 8 ? 8 : 16;
    const std::string rgba = Convert(spec, {png_depth == 16 ? "--png-bpp=64" : "--png-bpp=32"});
    EXPECT_EQ(DepthAndColourType(rgba), std::pair(png_depth, 6));
    const Bitmap colour = Load();

    const std::string grey = Convert(spec);
    EXPECT_EQ(DepthAndColourType(grey), std::pair(png_depth, 4));
    EXPECT_TRUE(HasChunk(grey, "sRGB"));
    EXPECT_FALSE(HasChunk(grey, "iCCP"));
    const Bitmap image = Load();
    ASSERT_TRUE(colour && image);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < static_cast<int>(Width); ++x) {
        const Rgba16 want = ReadPixel(colour, x, y);
        const Rgba16 got = ReadPixel(image, x, y);
        ASSERT_EQ(want.red, want.green);
        EXPECT_EQ(got.red, want.red) << x << "," << y;
        EXPECT_EQ(got.green, want.green) << x << "," << y;
        EXPECT_EQ(got.blue, want.blue) << x << "," << y;
        EXPECT_EQ(got.alpha, want.alpha) << x << "," << y;
      }
    }

    // A grey frame leaves the picture grey; a red one makes it colour (PNG colour types with
    // bit 2 set).
    const auto colour_type = [](const std::string& png) { return DepthAndColourType(png).second; };
    EXPECT_EQ(colour_type(Convert(spec, {"--fr-solid-left=2", "--fr-solid-left-color=808080"})) & 2,
              0);
    const std::vector<std::string> red_frame = {"--fr-solid-left=2",
                                                "--fr-solid-left-color=FF0000"};
    const std::string framed = Convert(spec, red_frame);
    EXPECT_EQ(colour_type(framed) & 2, 2);

    // Kept, the samples and the grey profile go into the grey PNG; coloured by a step, the file
    // goes as by default. (Linear light has no samples to keep in 16 bits.)
    if (depth == 32) continue;
    const std::string kept = Convert(spec, {"--keep-icc-profile"});
    EXPECT_EQ(DepthAndColourType(kept), std::pair(static_cast<int>(depth), 4));
    EXPECT_EQ(ProfileInPng(kept), profile);
    EXPECT_FALSE(HasChunk(kept, "sRGB"));
    const Bitmap samples = Load();
    ASSERT_TRUE(samples);
    const auto level = [depth](uint32_t sample) { return depth == 16 ? sample : sample * 257; };
    for (uint32_t x = 0; x < Width; ++x) {
      // The opaque row's grey, which no white matte touches, and every alpha.
      EXPECT_EQ(ReadPixel(samples, static_cast<int>(x), 0).red,
                level(GreyAlphaSample(x, 0, 0, depth)))
          << x;
      for (uint32_t y = 0; y < 2; ++y) {
        EXPECT_EQ(ReadPixel(samples, static_cast<int>(x), static_cast<int>(y)).alpha,
                  level(GreyAlphaSample(x, y, 1, depth)))
            << x << "," << y;
      }
    }
    std::vector<std::string> kept_framed = red_frame;
    kept_framed.push_back("--keep-icc-profile");
    EXPECT_EQ(Convert(spec, kept_framed), framed);
  }
}
