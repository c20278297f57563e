// Rebuilding from the layers end to end: --from-layers and --hide-layer choose the picture the
// real binary writes, -d shows them, and a file whose rebuild leaves something out says so on
// standard error unless the run is quiet.

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/image/bitmap.h"
#include "tests/cli/run_quorvix.h"
#include "tests/support/psd_writer.h"
#include "tests/support/rgb.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t Side = 4;

constexpr Rgb White{255, 255, 255};
constexpr Rgb Red{255, 0, 0};
constexpr Rgb Blue{0, 0, 255};

// An opaque 8-bit layer over columns [left, right) of the whole height.
PsdLayer ColourLayer(const char* name, std::u16string unicode_name, int32_t left, int32_t right,
                     Rgb colour) {
  PsdLayer layer;
  layer.left = left;
  layer.right = right;
  layer.bottom = Side;
  layer.name = name;
  layer.unicode_name = std::move(unicode_name);
  const auto width = static_cast<uint32_t>(right - left);
  for (const int value : {colour.red, colour.green, colour.blue}) {
    layer.channels.push_back(
        {static_cast<int16_t>(layer.channels.size()),
         PsdLayerPlane(width, Side, 8, [value](uint32_t, uint32_t) -> uint32_t { return value; })});
  }
  return layer;
}

class LayersRun : public ::testing::Test {
 protected:
  // A white stored composite, flagged genuine, over a red layer named "Base" and a blue one on
  // the left half named "Notiz ü" in Unicode (its Pascal name is plain ASCII).
  void SetUp() override {
    spec = MakePsdSpec(PsdMode::Rgb, 8, Side, Side, 3);
    FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t) -> uint32_t { return 255; });
    spec.resources.push_back(PsdVersionInfoResource(true));
    spec.layers.push_back(ColourLayer("Base", u"", 0, Side, Red));
    spec.layers.push_back(ColourLayer("Notiz u", u"Notiz \u00fc", 0, Side / 2, Blue));
    std::filesystem::create_directory(dir.file("out"));
  }

  QuorvixRun Run(const Lines& extra) {
    EXPECT_TRUE(WritePsdFile(dir.file("in.psd"), spec));
    std::filesystem::remove(dir.file("out/in.png"));
    Lines arguments = {"-i", dir.file("in.psd"), "-o", dir.file("out")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const QuorvixRun run = RunQuorvix(arguments, {dir.path().string(), {}, {}});
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    return run;
  }

  // The written picture's left and right columns.
  std::pair<Rgb, Rgb> Converted(const Lines& extra) {
    Lines quiet = {"-q"};
    quiet.insert(quiet.end(), extra.begin(), extra.end());
    Run(quiet);
    const Bitmap image(FreeImage_Load(FIF_PNG, dir.file("out/in.png").c_str(), 0));
    EXPECT_TRUE(image) << "no output for the run";
    if (!image) return {};
    const auto at = [&image](unsigned x) {
      RGBQUAD pixel{};
      FreeImage_GetPixelColor(image.get(), x, 0, &pixel);
      return Rgb{pixel.rgbRed, pixel.rgbGreen, pixel.rgbBlue};
    };
    return {at(0), at(Side - 1)};
  }

  static bool HasLine(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  PsdSpec spec;
  TempDir dir;
};

}  // namespace

TEST_F(LayersRun, TheStoredPictureUnlessTheLayersAreAskedFor) {
  EXPECT_EQ(Converted({}), std::pair(White, White));
  EXPECT_EQ(Converted({"--from-layers"}), std::pair(Blue, Red));
  // A hidden layer asks for the rebuild by itself; its Unicode name is the one matched.
  EXPECT_EQ(Converted({"--hide-layer=Notiz \u00fc"}), std::pair(Red, Red));
  EXPECT_EQ(Converted({"--hide-layer=*\u00fc"}), std::pair(Red, Red));
  EXPECT_EQ(Converted({"--hide-layer=Notiz u"}), std::pair(Blue, Red));
  // Every pattern counts: hiding both leaves the canvas empty, not the stored picture.
  Converted({"--hide-layer=Base", "--hide-layer=N?tiz*"});
  const Bitmap empty(FreeImage_Load(FIF_PNG, dir.file("out/in.png").c_str(), 0));
  ASSERT_TRUE(empty);
  ASSERT_EQ(FreeImage_GetBPP(empty.get()), 32u);
  RGBQUAD pixel{};
  FreeImage_GetPixelColor(empty.get(), 0, 0, &pixel);
  EXPECT_EQ(pixel.rgbReserved, 0);
}

TEST_F(LayersRun, TheDebugReportShowsTheLayerOptions) {
  const QuorvixRun run = Run({"-q", "-d", "--from-layers", "--hide-layer=a*", "--hide-layer=b"});
  const Lines lines = run.Lines();
  const auto rebuild = std::find(lines.begin(), lines.end(), "Rebuild From Layers: 1");
  ASSERT_NE(rebuild, lines.end());
  ASSERT_LT(rebuild + 2, lines.end());
  EXPECT_EQ(rebuild[1], "Hide Layer: a*");
  EXPECT_EQ(rebuild[2], "Hide Layer: b");
}

TEST_F(LayersRun, WhatARebuildLeavesOutIsToldPerFileUnlessQuiet) {
  PsdLayer levels;
  levels.name = "Levels";
  levels.blocks.push_back({"levl", std::string(40, '\0')});
  spec.layers.push_back(levels);
  const std::string told = "Not drawn in " + dir.file("in.psd") + ": adjustment layers";

  const QuorvixRun rebuilt = Run({"--from-layers"});
  EXPECT_TRUE(HasLine(rebuilt.ErrorLines(), told)) << rebuilt.err;
  EXPECT_FALSE(HasLine(rebuilt.Lines(), told));
  EXPECT_FALSE(HasLine(Run({"-q", "--from-layers"}).ErrorLines(), told));
  // The stored picture leaves nothing out.
  EXPECT_FALSE(HasLine(Run({}).ErrorLines(), told));
  // A batch tells it the same, and its report (asked for one file too) holds it.
  const QuorvixRun batch = Run({"--from-layers", "--report=" + dir.file("report.jsonl")});
  EXPECT_TRUE(HasLine(batch.ErrorLines(), told)) << batch.err;
  const std::string report = ReadFileBytes(dir.file("report.jsonl"));
  EXPECT_NE(report.find(",\"left_out\":\"adjustment layers\"}"), std::string::npos) << report;
}
