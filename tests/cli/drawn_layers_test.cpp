// The frame and the watermarks end to end: the real binary converts a document and the pixels of
// the written PNG show the drawn layers where the options put them.

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/image/bitmap.h"
#include "tests/cli/run_quorvix.h"
#include "tests/support/psd_writer.h"
#include "tests/support/rgb.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

constexpr int Width = 120;
constexpr int Height = 80;
constexpr int Level = 100;  // the document's grey

constexpr Rgb Grey{Level, Level, Level};

class DrawnLayers : public ::testing::Test {
 protected:
  void SetUp() override {
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, Width, Height, 3);
    FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t) -> uint32_t { return Level; });
    ASSERT_TRUE(WritePsdFile(dir.file("in.psd"), spec));
    std::filesystem::create_directory(dir.file("out"));
  }

  // Converts with `extra` options and loads the written PNG; empty when the run failed.
  Bitmap Convert(const Lines& extra) {
    std::filesystem::remove(dir.file("out/in.png"));
    Lines arguments = {"-q", "-i", dir.file("in.psd"), "-o", dir.file("out")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const QuorvixRun run = RunQuorvix(arguments, {dir.path().string(), {}, {}});
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    Bitmap image(FreeImage_Load(FIF_PNG, dir.file("out/in.png").c_str(), 0));
    if (image && FreeImage_GetBPP(image.get()) != 24) {
      image = Bitmap(FreeImage_ConvertTo24Bits(image.get()));
    }
    EXPECT_TRUE(image) << "no output for the run";
    return image;
  }

  static Rgb At(const Bitmap& image, int x, int y) {
    const BYTE* pixel = FreeImage_GetScanLine(image.get(), Height - 1 - y) + x * 3;
    return {pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE]};
  }

  // Counts the pixels that differ from the document, and whether all of them lie in the box.
  static int Changed(const Bitmap& image, int left, int top, int right, int bottom,
                     bool& all_inside) {
    int changed = 0;
    all_inside = true;
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        if (At(image, x, y) == Grey) continue;
        ++changed;
        if (x < left || x > right || y < top || y > bottom) all_inside = false;
      }
    return changed;
  }

  TempDir dir;
};

}  // namespace

TEST_F(DrawnLayers, SolidFrameBandsAndOpacity) {
  const Bitmap framed = Convert({"--fr-solid-left=10", "--fr-solid-right=10", "--fr-solid-top=10",
                                 "--fr-solid-bottom=10", "--fr-solid-left-color=FF0000",
                                 "--fr-solid-right-color=00FF00", "--fr-solid-top-color=0000FF",
                                 "--fr-solid-bottom-color=FFFF00"});
  ASSERT_TRUE(framed);
  EXPECT_EQ(FreeImage_GetWidth(framed.get()), static_cast<unsigned>(Width));
  EXPECT_EQ(At(framed, 3, 40), (Rgb{255, 0, 0}));
  EXPECT_EQ(At(framed, 116, 40), (Rgb{0, 255, 0}));
  EXPECT_EQ(At(framed, 60, 3), (Rgb{0, 0, 255}));
  EXPECT_EQ(At(framed, 60, 76), (Rgb{255, 255, 0}));
  EXPECT_EQ(At(framed, 7, 2), (Rgb{0, 0, 255}));  // a corner, split along its diagonal
  EXPECT_EQ(At(framed, 2, 7), (Rgb{255, 0, 0}));
  EXPECT_EQ(At(framed, 60, 40), Grey);

  const Bitmap invisible =
      Convert({"--fr-solid-left=10", "--fr-solid-left-color=FF0000", "--fr-solid-opacity=0"});
  ASSERT_TRUE(invisible);
  bool inside = true;
  EXPECT_EQ(Changed(invisible, 0, 0, 0, 0, inside), 0);
}

TEST_F(DrawnLayers, PlainTextWatermarkAtItsAnchor) {
  const Bitmap marked = Convert({"--wm-text=QUORVIX", "--wm-font-size=16", "--wm-font-color=FF0000",
                                 "--wm-back-opacity=0", "--wm-text-position=topleft",
                                 "--wm-text-x-offset=6", "--wm-text-y-offset=4"});
  ASSERT_TRUE(marked);
  bool inside = false;
  EXPECT_GT(Changed(marked, 6, 4, Width - 1, 40, inside), 30);
  EXPECT_TRUE(inside);
  // Without antialiasing a pixel is either the document or the text colour.
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const Rgb p = At(marked, x, y);
      ASSERT_TRUE(p == Grey || p == (Rgb{255, 0, 0})) << x << "," << y << p;
    }
}

TEST_F(DrawnLayers, SmoothTextOnABoxWithPadding) {
  const Bitmap marked =
      Convert({"--wm-text=Quorvix", "--wm-text-antialiasing", "--wm-font=Arial",
               "--wm-font-style=bold", "--wm-back-color=0000FF", "--wm-back-opacity=255",
               "--wm-text-padding=4", "--wm-text-position=bottomright"});
  ASSERT_TRUE(marked);
  // The box's bottom-right corner sits 10 pixels from the image's corner.
  EXPECT_EQ(At(marked, Width - 11, Height - 11), (Rgb{0, 0, 255}));
  EXPECT_EQ(At(marked, Width - 10, Height - 10), Grey);
  EXPECT_EQ(At(marked, Width - 10, Height - 11), Grey);
  bool blended = false;
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const Rgb p = At(marked, x, y);
      blended = blended || (p.blue == 255 && p.red > 0 && p.red < 255);
    }
  EXPECT_TRUE(blended);  // antialiased white edges over the blue box
}

TEST_F(DrawnLayers, SizeAndDepthTokensShowTheCurrentFile) {
  const Lines common = {"--wm-back-opacity=0", "--wm-text-position=topleft"};
  Lines tokens = common;
  tokens.push_back("--wm-text=%width%x%height% %bpp%");
  Lines literal = common;
  literal.push_back("--wm-text=" + std::to_string(Width) + "x" + std::to_string(Height) + " 24");
  const Bitmap from_tokens = Convert(tokens);
  const Bitmap from_literal = Convert(literal);
  ASSERT_TRUE(from_tokens);
  ASSERT_TRUE(from_literal);
  bool inside = false;
  EXPECT_GT(Changed(from_tokens, 0, 0, Width - 1, Height - 1, inside), 20);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      ASSERT_EQ(At(from_tokens, x, y), At(from_literal, x, y)) << x << "," << y;
}

TEST_F(DrawnLayers, ImageWatermarkCroppedAndPlaced) {
  const Bitmap mark(FreeImage_Allocate(200, 20, 24));
  for (unsigned y = 0; y < 20; ++y) {
    BYTE* row = FreeImage_GetScanLine(mark.get(), y);
    for (unsigned x = 0; x < 200; ++x) {
      row[x * 3 + FI_RGBA_RED] = 255;
      row[x * 3 + FI_RGBA_GREEN] = 0;
      row[x * 3 + FI_RGBA_BLUE] = 0;
    }
  }
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, mark.get(), dir.file("mark.png").c_str(), 0));
  const Bitmap marked =
      Convert({"--wm-image=" + dir.file("mark.png"), "--wm-image-position=bottomright",
               "--wm-image-x-offset=10", "--wm-image-y-offset=5"});
  ASSERT_TRUE(marked);
  // 200 wide on 120: cropped to 110 and placed at x 0; 20 high ends 5 above the bottom.
  bool inside = false;
  EXPECT_EQ(Changed(marked, 0, Height - 25, Width - 11, Height - 6, inside), 110 * 20);
  EXPECT_TRUE(inside);
  EXPECT_EQ(At(marked, 0, Height - 25), (Rgb{255, 0, 0}));

  const Bitmap grey = Convert({"--wm-image=" + dir.file("mark.png"), "--wm-image-greyscale",
                               "--wm-image-opacity=255", "--wm-image-position=topleft"});
  ASSERT_TRUE(grey);
  const int g = (77 * 255) >> 8;
  EXPECT_EQ(At(grey, 10, 10), (Rgb{g, g, g}));
}

TEST_F(DrawnLayers, FontAndImageErrorsStopTheRun) {
  const Lines base = {"-i", dir.file("in.psd"), "-o", dir.file("out")};
  Lines font = base;
  font.push_back("--wm-font=NoSuchFace");
  font.push_back("--wm-text=Hi");
  const QuorvixRun bad_font = RunQuorvix(font, {dir.path().string(), {}, {}});
  ASSERT_FALSE(bad_font.Lines().empty());
  EXPECT_EQ(bad_font.Lines().back(), "Error: Invalid watermark font");
  EXPECT_EQ(bad_font.exit_status, 1);

  Lines image = base;
  image.push_back("--wm-image=" + dir.file("none.png"));
  const QuorvixRun bad_image = RunQuorvix(image, {dir.path().string(), {}, {}});
  ASSERT_FALSE(bad_image.Lines().empty());
  EXPECT_EQ(bad_image.Lines().back(), "Error: Invalid watermark image");
  EXPECT_EQ(bad_image.exit_status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out/in.png")));
}
