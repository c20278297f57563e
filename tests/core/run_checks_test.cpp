#include "core/run_checks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/output/formats.h"
#include "tests/core/documents.h"

using RunChecksTest = JobTest;

namespace {

// A job the checks accept: a document, an existing output folder, the offered output key.
void FillValidJob(TempDir& dir) {
  g_job.input_path = WriteDocument(dir.file("in.psd"), PsdMode::Rgb, 8, 3);
  g_job.output_folder = dir.folder();
  g_settings.output.format = "png";
}

}  // namespace

TEST_F(RunChecksTest, AValidJobPassesAndIsPreparedForTheWorker) {
  FillValidJob(dir);
  g_settings.output.png_bpp = 24;
  RunResources resources;
  ASSERT_EQ(CheckJob(g_job, g_settings, resources), RunFault::None);
  EXPECT_EQ(g_job.output_format, "png");
  EXPECT_EQ(g_job.target_bpp, 24);
  EXPECT_EQ(g_job.auto_bpp, 0);
  EXPECT_EQ(g_job.output_folder.back(), '/');
  EXPECT_FALSE(resources.watermark_font);  // no text watermark, no font
}

TEST_F(RunChecksTest, TheFirstFailedCheckNamesTheFault) {
  struct Case {
    const char* what;
    void (*spoil)(TempDir&);
    RunFault fault;
  };
  const std::vector<Case> cases = {
      {"no extension", [](TempDir& d) { g_job.input_path = d.file("in"); },
       RunFault::InvalidInputFile},
      {"empty input",
       [](TempDir& d) {
         WriteFileBytes(d.file("empty.psd"), "");
         g_job.input_path = d.file("empty.psd");
       },
       RunFault::InvalidInputFile},
      {"input is a folder", [](TempDir& d) { g_job.input_path = d.file("sub.psd/"); },
       RunFault::InvalidInputFile},
      {"empty folder", [](TempDir&) { g_job.output_folder.clear(); }, RunFault::EmptyOutputFolder},
      {"parent folder", [](TempDir&) { g_job.output_folder = "../x"; },
       RunFault::IncorrectOutputFolder},
      {"file as folder", [](TempDir& d) { g_job.output_folder = d.file("in.psd"); },
       RunFault::InvalidOutputFolder},
      {"unknown key", [](TempDir&) { g_settings.output.format = "bmp"; },
       RunFault::InvalidConversionType},
      {"depth", [](TempDir&) { g_settings.output.png_bpp = 16; }, RunFault::InvalidBitDepth},
      {"width",
       [](TempDir&) {
         g_settings.transform.do_image_resize = 1;
         g_settings.transform.image_height = 100;
         g_settings.transform.keep_aspect_ratio = 1;
       },
       RunFault::InvalidWidth},
      {"height",
       [](TempDir&) {
         g_settings.transform.do_image_resize = 1;
         g_settings.transform.image_width = 100;
       },
       RunFault::InvalidHeight},
      {"brightness",
       [](TempDir&) {
         g_settings.adjustment.do_image_color_correction = 1;
         g_settings.adjustment.image_brightness = 101;
       },
       RunFault::InvalidBrightness},
      {"contrast",
       [](TempDir&) {
         g_settings.adjustment.do_image_color_correction = 1;
         g_settings.adjustment.image_contrast = -101;
       },
       RunFault::InvalidContrast},
      {"gamma",
       [](TempDir&) {
         g_settings.adjustment.do_image_color_correction = 1;
         g_settings.adjustment.image_gamma = 0.0f;
       },
       RunFault::InvalidGamma},
      {"font",
       [](TempDir&) {
         g_settings.watermark.do_watermark = ToValue(WatermarkType::Text);
         g_settings.watermark.font = "No Such Face Qx";
       },
       RunFault::InvalidWatermarkFont},
      {"no image",
       [](TempDir&) { g_settings.watermark.do_watermark = ToValue(WatermarkType::Image); },
       RunFault::EmptyWatermarkImage},
      {"image is a folder",
       [](TempDir& d) {
         g_settings.watermark.do_watermark = ToValue(WatermarkType::Image);
         g_settings.watermark.image = d.folder();
       },
       RunFault::InvalidWatermarkImage},
  };
  for (const Case& c : cases) {
    ResetSettings(g_settings, true);
    FillValidJob(dir);
    c.spoil(dir);
    RunResources resources;
    EXPECT_EQ(CheckJob(g_job, g_settings, resources), c.fault) << c.what;
    EXPECT_FALSE(resources.watermark_font) << c.what;
  }
}

TEST_F(RunChecksTest, ColourValuesOutsideTheirRangesPassWhileCorrectionIsOff) {
  AdjustmentSettings adjustment;
  adjustment.image_brightness = 500;
  adjustment.image_gamma = -1.0f;
  EXPECT_EQ(CheckColourCorrection(adjustment), RunFault::None);
  adjustment.do_image_color_correction = 1;
  adjustment.image_brightness = 100;
  adjustment.image_contrast = -100;
  adjustment.image_gamma = 9.99f;
  EXPECT_EQ(CheckColourCorrection(adjustment), RunFault::None);
  adjustment.image_gamma = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(CheckColourCorrection(adjustment), RunFault::InvalidGamma);
}

TEST_F(RunChecksTest, ARelativeFolderIsTakenFromTheWorkingFolder) {
  const std::string previous = std::filesystem::current_path().string();
  std::filesystem::create_directory(dir.file("out"));
  ASSERT_EQ(chdir(dir.folder().c_str()), 0);
  std::string folder = "./out";
  EXPECT_EQ(CheckOutputFolder(folder), RunFault::None);
  EXPECT_EQ(folder, std::filesystem::current_path().string() + "/out/");
  folder = "missing";
  EXPECT_EQ(CheckOutputFolder(folder), RunFault::InvalidOutputFolder);
  ASSERT_EQ(chdir(previous.c_str()), 0);
}

TEST_F(RunChecksTest, ATextWatermarkRunKeepsItsFontUntilTheWorkerEnds) {
  FillValidJob(dir);
  g_settings.watermark.do_watermark = ToValue(WatermarkType::Text);
  g_settings.watermark.text = "Hi";
  RunResources resources;
  ASSERT_EQ(CheckJob(g_job, g_settings, resources), RunFault::None);
  ASSERT_TRUE(resources.watermark_font);
  const std::weak_ptr<const Font> font = resources.watermark_font;

  ASSERT_TRUE(AddInputFile(g_job.input_path));
  std::vector<std::string> trace;
  ASSERT_TRUE(StartConversion(std::move(resources),
                              [&trace](std::string_view line) { trace.emplace_back(line); }));
  EXPECT_EQ(WaitForConversion(), 1);
  EXPECT_TRUE(font.expired());  // released with the run
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0], "Processing: " + g_job.input_path);
  EXPECT_EQ(trace[1], "Saving As: " + dir.file("in.png"));
  EXPECT_EQ(trace[2], "OK");
}
