#include "cli/report.h"

#include <gtest/gtest.h>

#include "settings/program_settings.h"

namespace {

std::string Shown(const ProgramSettings& settings, std::string_view group, std::string_view key) {
  return ReportValue(SettingOf(group, key), settings);
}

}  // namespace

TEST(ReportValue, ShowsEachKindOfSettingAsTheDebugReportPrintsIt) {
  ProgramSettings settings;
  ResetSettings(settings, true);
  settings.watermark.text_position = ToValue(Position::MiddleCenter);
  settings.watermark.font_style = ToValue(FontStyle::BoldItalic);
  settings.watermark.font = "Liberation Sans";
  settings.watermark.text_x_offset = -3;
  settings.watermark.text_antialiasing = 1;
  settings.adjustment.image_gamma = 1.5f;
  settings.frame.solid_left_color = "C03020";

  EXPECT_EQ(Shown(settings, "Watermark", "Text Position"), "middlecenter");
  EXPECT_EQ(Shown(settings, "Watermark", "Font Style"), "bolditalic");
  EXPECT_EQ(Shown(settings, "Watermark", "Font"), "Liberation Sans");
  EXPECT_EQ(Shown(settings, "Watermark", "Text X Offset"), "-3");
  EXPECT_EQ(Shown(settings, "Watermark", "Text Antialiasing"), "1");
  EXPECT_EQ(Shown(settings, "Adjustment", "Image Gamma"), "1.50");
  EXPECT_EQ(Shown(settings, "Frame", "Solid Left Color"), "C03020");
}

TEST(ReportValue, AnEnumerationValueOutsideItsEntriesShowsNothing) {
  ProgramSettings settings;
  ResetSettings(settings, true);
  settings.watermark.image_position = 12;
  EXPECT_EQ(Shown(settings, "Watermark", "Image Position"), "");
  settings.watermark.image_position = -1;
  EXPECT_EQ(Shown(settings, "Watermark", "Image Position"), "");
}

TEST(ReportRows, PrintsOnlyInDebugMode) {
  ProgramSettings settings;
  ResetSettings(settings, true);
  const ReportRow rows[] = {{"Frame left", "Frame", "Solid Left"}};
  testing::internal::CaptureStdout();
  ReportRows(rows, settings, ConsoleReport(false, false));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  settings.frame.solid_left = 7;
  testing::internal::CaptureStdout();
  ReportRows(rows, settings, ConsoleReport(true, true));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frame left: 7\n");
}
