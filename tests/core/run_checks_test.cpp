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

// A request the checks accept: a document, an existing output folder, the offered output key.
RunRequest ValidRequest(TempDir& dir) {
  RunRequest request;
  ResetSettings(request.settings, true);
  request.job.input_path = WriteDocument(dir.file("in.psd"), PsdMode::Rgb, 8, 3);
  request.job.output_folder = dir.folder();
  request.settings.output.format = "png";
  return request;
}

}  // namespace

TEST_F(RunChecksTest, AValidJobPassesAndIsPreparedForTheWorker) {
  RunRequest request = ValidRequest(dir);
  request.settings.output.png_bpp = 24;
  request.job.output_folder.pop_back();
  const PreparedRun prepared = PrepareRun(request);
  ASSERT_EQ(prepared.fault, RunFault::None);
  EXPECT_EQ(prepared.request.job.output_format, "png");
  EXPECT_EQ(prepared.request.job.target_bpp, 24);
  EXPECT_EQ(prepared.request.job.auto_bpp, 0);
  EXPECT_EQ(prepared.request.job.output_folder, dir.folder());
  EXPECT_FALSE(prepared.resources.watermark_font);  // no text watermark, no font
}

TEST_F(RunChecksTest, TheFirstFailedCheckNamesTheFault) {
  struct Case {
    const char* what;
    void (*spoil)(RunRequest&, TempDir&);
    RunFault fault;
  };
  const std::vector<Case> cases = {
      {"no extension", [](RunRequest& r, TempDir& d) { r.job.input_path = d.file("in"); },
       RunFault::InvalidInputFile},
      {"empty input",
       [](RunRequest& r, TempDir& d) {
         WriteFileBytes(d.file("empty.psd"), "");
         r.job.input_path = d.file("empty.psd");
       },
       RunFault::InvalidInputFile},
      {"input is a folder",
       [](RunRequest& r, TempDir& d) { r.job.input_path = d.file("sub.psd/"); },
       RunFault::InvalidInputFile},
      {"empty folder", [](RunRequest& r, TempDir&) { r.job.output_folder.clear(); },
       RunFault::EmptyOutputFolder},
      {"parent folder", [](RunRequest& r, TempDir&) { r.job.output_folder = "../x"; },
       RunFault::IncorrectOutputFolder},
      {"file as folder", [](RunRequest& r, TempDir& d) { r.job.output_folder = d.file("in.psd"); },
       RunFault::InvalidOutputFolder},
      {"unknown key", [](RunRequest& r, TempDir&) { r.settings.output.format = "bmp"; },
       RunFault::InvalidConversionType},
      {"depth", [](RunRequest& r, TempDir&) { r.settings.output.png_bpp = 16; },
       RunFault::InvalidBitDepth},
      {"width",
       [](RunRequest& r, TempDir&) {
         r.settings.transform.do_image_resize = 1;
         r.settings.transform.image_height = 100;
         r.settings.transform.keep_aspect_ratio = 1;
       },
       RunFault::InvalidWidth},
      {"height",
       [](RunRequest& r, TempDir&) {
         r.settings.transform.do_image_resize = 1;
         r.settings.transform.image_width = 100;
       },
       RunFault::InvalidHeight},
      {"brightness",
       [](RunRequest& r, TempDir&) {
         r.settings.adjustment.do_image_color_correction = 1;
         r.settings.adjustment.image_brightness = 101;
       },
       RunFault::InvalidBrightness},
      {"contrast",
       [](RunRequest& r, TempDir&) {
         r.settings.adjustment.do_image_color_correction = 1;
         r.settings.adjustment.image_contrast = -101;
       },
       RunFault::InvalidContrast},
      {"gamma",
       [](RunRequest& r, TempDir&) {
         r.settings.adjustment.do_image_color_correction = 1;
         r.settings.adjustment.image_gamma = 0.0f;
       },
       RunFault::InvalidGamma},
      {"font",
       [](RunRequest& r, TempDir&) {
         r.settings.watermark.do_watermark = ToValue(WatermarkType::Text);
         r.settings.watermark.font = "No Such Face Qx";
       },
       RunFault::InvalidWatermarkFont},
      {"no image",
       [](RunRequest& r, TempDir&) {
         r.settings.watermark.do_watermark = ToValue(WatermarkType::Image);
       },
       RunFault::EmptyWatermarkImage},
      {"image is a folder",
       [](RunRequest& r, TempDir& d) {
         r.settings.watermark.do_watermark = ToValue(WatermarkType::Image);
         r.settings.watermark.image = d.folder();
       },
       RunFault::InvalidWatermarkImage},
  };
  for (const Case& c : cases) {
    RunRequest request = ValidRequest(dir);
    c.spoil(request, dir);
    const PreparedRun prepared = PrepareRun(request);
    EXPECT_EQ(prepared.fault, c.fault) << c.what;
    EXPECT_FALSE(prepared.resources.watermark_font) << c.what;
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
  RunRequest request = ValidRequest(dir);
  request.settings.watermark.do_watermark = ToValue(WatermarkType::Text);
  request.settings.watermark.text = "Hi";
  const std::string input = request.job.input_path;
  ASSERT_TRUE(AddInputFile(request.inputs, input, ""));
  PreparedRun prepared = PrepareRun(std::move(request));
  ASSERT_EQ(prepared.fault, RunFault::None);
  ASSERT_TRUE(prepared.resources.watermark_font);
  const std::weak_ptr<const Font> font = prepared.resources.watermark_font;

  std::vector<std::string> trace;
  const std::unique_ptr<ConversionRun> run =
      StartConversion(std::move(prepared.request), std::move(prepared.resources),
                      [&trace](std::string_view line) { trace.emplace_back(line); });
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->Wait(), 1);
  EXPECT_TRUE(font.expired());  // released with the run's last file, not with the run object
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0], "Processing: " + input);
  EXPECT_EQ(trace[1], "Saving As: " + dir.file("in.png"));
  EXPECT_EQ(trace[2], "OK");
}
