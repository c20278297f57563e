// Rotation, resizing, flipping and the colour steps through the real program: the options reach
// the pipeline, and the written PNG has the size, depth and pixels they ask for.

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "tests/cli/run_quorvix.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t DocumentWidth = 40;
constexpr uint32_t DocumentHeight = 30;

// The document's samples: a ramp that differs in every channel and in both directions.
uint32_t Sample(uint32_t x, uint32_t y, uint32_t channel) {
  return (x * 6 + y * 3 + channel * 60) & 0xFF;
}

struct Rgb {
  int red = 0;
  int green = 0;
  int blue = 0;
};

Rgb DocumentPixel(uint32_t x, uint32_t y) {
  return {static_cast<int>(Sample(x, y, 0)), static_cast<int>(Sample(x, y, 1)),
          static_cast<int>(Sample(x, y, 2))};
}

struct Unload {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Png = std::unique_ptr<FIBITMAP, Unload>;

// The pixel at `x`, `y` (top row 0) of a loaded 1-, 8-, 24- or 32-bit image.
Rgb PixelAt(const Png& image, int x, int y) {
  FIBITMAP* dib = image.get();
  const unsigned row = FreeImage_GetHeight(dib) - 1 - static_cast<unsigned>(y);
  if (FreeImage_GetBPP(dib) <= 8) {
    BYTE index = 0;
    FreeImage_GetPixelIndex(dib, x, row, &index);
    const RGBQUAD entry = FreeImage_GetPalette(dib)[index];
    return {entry.rgbRed, entry.rgbGreen, entry.rgbBlue};
  }
  RGBQUAD colour{};
  FreeImage_GetPixelColor(dib, x, row, &colour);
  return {colour.rgbRed, colour.rgbGreen, colour.rgbBlue};
}

void ExpectColour(Rgb actual, Rgb expected, const std::string& where) {
  EXPECT_EQ(actual.red, expected.red) << where;
  EXPECT_EQ(actual.green, expected.green) << where;
  EXPECT_EQ(actual.blue, expected.blue) << where;
}

class TransformOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, DocumentWidth, DocumentHeight, 3);
    FillPsdPlanes(spec, Sample);
    input = dir.file("in.psd");
    ASSERT_TRUE(WritePsdFile(input, spec));
    std::filesystem::create_directory(dir.file("out"));
  }

  // Converts the document with `options`; the PNG named `name` in the output folder, or none.
  Png Convert(const Lines& options, const std::string& name = "in.png") {
    Lines arguments = {"-q", "-i", input, "-o", dir.file("out")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const QuorvixRun run = RunQuorvix(arguments, {dir.path().string(), {}, {}});
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    return Png(FreeImage_Load(FIF_PNG, dir.file("out/" + name).c_str(), 0));
  }

  TempDir dir;
  std::string input;
};

int Width(const Png& image) { return static_cast<int>(FreeImage_GetWidth(image.get())); }
int Height(const Png& image) { return static_cast<int>(FreeImage_GetHeight(image.get())); }
int Depth(const Png& image) { return static_cast<int>(FreeImage_GetBPP(image.get())); }

}  // namespace

TEST_F(TransformOptions, QuarterTurnSwapsTheCanvasAndTurnsLeft) {
  const Png image = Convert({"--rotation=90"});
  ASSERT_TRUE(image);
  EXPECT_EQ(Width(image), 30);
  EXPECT_EQ(Height(image), 40);
  EXPECT_EQ(Depth(image), 24);
  // The document's top row becomes the left column, read upwards.
  ExpectColour(PixelAt(image, 0, 39), DocumentPixel(0, 0), "bottom left");
  ExpectColour(PixelAt(image, 0, 0), DocumentPixel(39, 0), "top left");
  ExpectColour(PixelAt(image, 29, 0), DocumentPixel(39, 29), "top right");
}

TEST_F(TransformOptions, SimpleRotationPaintsTheBackgroundColour) {
  const Png image = Convert({"--rotation=45", "--rotation-back-color=00FF80"});
  ASSERT_TRUE(image);
  EXPECT_GT(Width(image), 40);
  ExpectColour(PixelAt(image, 0, 0), {0x00, 0xFF, 0x80}, "corner");

  const Png advanced = Convert({"--rotation=45", "--rotation-type=advanced"});
  ASSERT_TRUE(advanced);
  EXPECT_EQ(Width(advanced), 40);
  EXPECT_EQ(Height(advanced), 30);
}

TEST_F(TransformOptions, ResizesInPixelsAndPercent) {
  const Png pixels = Convert({"--width=20", "--height=20", "--keep-aspect-ratio"});
  ASSERT_TRUE(pixels);
  EXPECT_EQ(Width(pixels), 20);
  EXPECT_EQ(Height(pixels), 15);

  const Png stretched = Convert({"--width=11", "--height=7"});
  ASSERT_TRUE(stretched);
  EXPECT_EQ(Width(stretched), 11);
  EXPECT_EQ(Height(stretched), 7);

  // 25% of 30 is 7.5, which rounds to the even 8.
  const Png percent = Convert({"--width=150", "--width-unit=percent", "--height=25",
                               "--height-unit=percent", "--resize-algorithm=lanczos"});
  ASSERT_TRUE(percent);
  EXPECT_EQ(Width(percent), 60);
  EXPECT_EQ(Height(percent), 8);
}

TEST_F(TransformOptions, LargeImagesLeavesASmallerDocumentAlone) {
  const Png image = Convert({"--width=400", "--height=300", "--resize-type=largeimages"});
  ASSERT_TRUE(image);
  EXPECT_EQ(Width(image), 40);
  EXPECT_EQ(Height(image), 30);
  ExpectColour(PixelAt(image, 5, 7), DocumentPixel(5, 7), "untouched");
}

TEST_F(TransformOptions, FilenameMaskNamesTheSizeAfterRotationAndResizing) {
  const Png image =
      Convert({"--rotation=90", "--width=50", "--width-unit=percent", "--height=50",
               "--height-unit=percent", "--filename-mask=%filename%_%width%x%height%.%ext%"},
              "in_15x20.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(Width(image), 15);
  EXPECT_EQ(Height(image), 20);
}

TEST_F(TransformOptions, FlipsMirrorThePixels) {
  const Png horizontal = Convert({"--flip-horizontal"});
  ASSERT_TRUE(horizontal);
  ExpectColour(PixelAt(horizontal, 0, 3), DocumentPixel(39, 3), "left-right");

  const Png both = Convert({"--flip-horizontal", "--flip-vertical"});
  ASSERT_TRUE(both);
  ExpectColour(PixelAt(both, 2, 0), DocumentPixel(37, 29), "half turn");
}

TEST_F(TransformOptions, InvertGivesTheComplement) {
  const Png image = Convert({"--invert"});
  ASSERT_TRUE(image);
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{17, 9}, std::pair{39, 29}}) {
    const Rgb original = DocumentPixel(x, y);
    ExpectColour(PixelAt(image, x, y),
                 {255 - original.red, 255 - original.green, 255 - original.blue},
                 std::to_string(x) + "," + std::to_string(y));
  }
}

TEST_F(TransformOptions, BrightnessAndGammaChangeTheTones) {
  // A pixel whose channels are all well inside the range: 20*6 + 10*3 = 150, 210, 14.
  const Rgb original = DocumentPixel(20, 10);
  const Png brighter = Convert({"--brightness=30"});
  ASSERT_TRUE(brighter);
  EXPECT_GT(PixelAt(brighter, 20, 10).red, original.red);
  EXPECT_GT(PixelAt(brighter, 20, 10).blue, original.blue);

  const Png darker = Convert({"--gamma=0.5"});
  ASSERT_TRUE(darker);
  EXPECT_LT(PixelAt(darker, 20, 10).red, original.red);
  EXPECT_LT(PixelAt(darker, 20, 10).green, original.green);
}

TEST_F(TransformOptions, GreyscaleAndThresholdKeepTheDocumentsDepthUnlessAsked) {
  // The automatic depth follows the document (24 bits), so the grey result is widened again.
  const Png grey = Convert({"--greyscale"});
  ASSERT_TRUE(grey);
  EXPECT_EQ(Depth(grey), 24);
  for (int x = 0; x < 40; x += 7) {
    const Rgb pixel = PixelAt(grey, x, 11);
    EXPECT_EQ(pixel.red, pixel.green) << x;
    EXPECT_EQ(pixel.green, pixel.blue) << x;
  }
  const Png eight = Convert({"--greyscale", "--png-bpp=8"});
  ASSERT_TRUE(eight);
  EXPECT_EQ(Depth(eight), 8);
  EXPECT_EQ(FreeImage_GetColorType(eight.get()), FIC_MINISBLACK);

  const Png one_bit = Convert({"--greyscale", "--threshold=128", "--png-bpp=1"});
  ASSERT_TRUE(one_bit);
  EXPECT_EQ(Depth(one_bit), 1);

  const Png widened = Convert({"--greyscale", "--threshold=128"});
  ASSERT_TRUE(widened);
  EXPECT_EQ(Depth(widened), 24);
  for (int x = 0; x < 40; x += 3) {
    const int level = PixelAt(widened, x, 15).red;
    EXPECT_TRUE(level == 0 || level == 255) << x;
    EXPECT_EQ(PixelAt(widened, x, 15).green, level) << x;
    EXPECT_EQ(PixelAt(one_bit, x, 15).red, level) << x;
  }
  // (0, 60, 120) is dark, (141, 201, 5) bright.
  EXPECT_EQ(PixelAt(widened, 0, 0).red, 0);
  EXPECT_EQ(PixelAt(widened, 20, 7).red, 255);
}

TEST_F(TransformOptions, RotatesSixteenBitDocumentsKeepingTransparency) {
  // 16-bit grey reaches rotation before any reduction; it must not make the file fail.
  PsdSpec grey = MakePsdSpec(PsdMode::Greyscale, 16, 8, 6, 1);
  FillPsdPlanes(grey, [](uint32_t x, uint32_t, uint32_t) { return x * 8000; });
  ASSERT_TRUE(WritePsdFile(dir.file("grey.psd"), grey));
  input = dir.file("grey.psd");
  const Png turned_grey = Convert({"--rotation=90"}, "grey.png");
  ASSERT_TRUE(turned_grey);
  EXPECT_EQ(Width(turned_grey), 6);
  EXPECT_EQ(Height(turned_grey), 8);
  // The document's right column (7 * 8000, high byte 218) is now the top row.
  EXPECT_EQ(PixelAt(turned_grey, 3, 0).red, 7 * 8000 >> 8);

  PsdSpec rgba = MakePsdSpec(PsdMode::Rgb, 16, 8, 6, 4);
  FillPsdPlanes(
      rgba, [](uint32_t, uint32_t, uint32_t channel) { return channel == 3 ? 0x4000u : 0xFFFFu; });
  ASSERT_TRUE(WritePsdFile(dir.file("rgba.psd"), rgba));
  input = dir.file("rgba.psd");
  const QuorvixRun run =
      RunQuorvix({"-q", "-i", input, "-o", dir.file("out"), "--rotation=90", "--png-bpp=32"},
                 {dir.path().string(), {}, {}});
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
  const Png turned(FreeImage_Load(FIF_PNG, dir.file("out/rgba.png").c_str(), 0));
  ASSERT_TRUE(turned);
  EXPECT_EQ(Depth(turned), 32);
  RGBQUAD pixel{};
  FreeImage_GetPixelColor(turned.get(), 2, 2, &pixel);
  EXPECT_EQ(pixel.rgbReserved, 0x40);
}
