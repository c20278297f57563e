// What the window decides about a run, a search and the folder history without a widget: these
// run without a display, so under the sanitizers too.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/conversion_job.h"
#include "gui/converter_terms.h"
#include "gui/output_history.h"
#include "gui/preferences_pages.h"
#include "gui/run_messages.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

TEST(OutputFolderHistory, NewestFirstWithoutCaseDuplicatesWithinTheLimit) {
  ProgramSettings settings;
  settings.advanced.out_folders_number = 3;
  settings.file.recent_out_folders = "a\tb\tc";
  EXPECT_TRUE(AddOutputFolderToHistory(settings, "B"));
  EXPECT_EQ(settings.file.recent_out_folders, "B\ta\tc");
  settings.file.recent_out_folders = "a\tb\tc";
  EXPECT_TRUE(AddOutputFolderToHistory(settings, "d"));
  EXPECT_EQ(settings.file.recent_out_folders, "d\ta\tb");
  EXPECT_FALSE(AddOutputFolderToHistory(settings, ""));
  EXPECT_EQ(settings.file.recent_out_folders, "d\ta\tb");
  EXPECT_EQ(HistoryEntry(" x \t y", 0), "x");
  EXPECT_EQ(HistoryEntry(" x \t y", 1), "y");
  EXPECT_EQ(HistoryEntry(" x \t y", 2), "");
  EXPECT_EQ(FolderChecksum("/Data/Out/"), FolderChecksum("/data/out/"));
  EXPECT_EQ(FolderChecksum("123456789"), 0xCBF43926u);  // the CRC-32 check value
}

TEST(ShortenPath, CutsTheFolderInItsMiddleAndKeepsTheFileName) {
  EXPECT_EQ(ShortenPath("/home/user/pictures/holiday/2024/summer.psd", 21),
            "/hom...024/summer.psd");
  EXPECT_EQ(ShortenPath("/home/user/pictures/holiday/2024/summer.psd", 30).size(), 30u);
  EXPECT_EQ(ShortenPath("short.psd", 50), "short.psd");
  EXPECT_EQ(ShortenPath("", 5), "");
  // A name longer than the room stays whole; only the folder goes.
  EXPECT_EQ(ShortenPath("/data/a-very-long-document-name.psd", 12),
            ".../a-very-long-document-name.psd");
  EXPECT_EQ(ShortenPath("a-very-long-document-name.psd", 12), "...a-very-long-document-name.psd");
  // Characters, not bytes: a two-byte letter is never cut in half.
  EXPECT_EQ(ShortenPath("/\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4/x.psd", 12),
            "/\xC3\xA4...\xC3\xA4/x.psd");
}

TEST(RunReport, ReadsAsSuccessOnlyWhenEveryFileConverted) {
  BuildLanguageTable();
  const std::vector<FileResult> good = {{"/in/a.psd", "/out/a.png", true, FileFailure::None}};
  const RunReport complete = BuildRunReport(good, false);
  EXPECT_FALSE(complete.failed);
  EXPECT_EQ(complete.headline, "Conversion complete");
  EXPECT_TRUE(complete.failures.empty());

  const std::vector<FileResult> mixed = {
      {"/in/a.psd", "/out/a.png", true, FileFailure::None},
      {"/in/damaged.psd", "", false, FileFailure::LoadFailed},
      {"/in/b.psd", "/out/b.png", false, FileFailure::SaveFailed},
      {"/in/c.psd", "", false, FileFailure::OutsideOutputFolder},
      // Not converted without a recorded reason: still listed, never read as success.
      {"/in/d.psd", "/out/d.png", false, FileFailure::None},
  };
  const RunReport report = BuildRunReport(mixed, false);
  EXPECT_TRUE(report.failed);
  EXPECT_EQ(report.headline, GetText("Msg", "Conversion ended with errors"));
  EXPECT_NE(report.headline, GetText("Msg", "Conversion complete"));
  ASSERT_EQ(report.failures.size(), 4u);
  EXPECT_EQ(report.failures[0], "/in/damaged.psd: " + GetText("Msg", "Failure damaged"));
  EXPECT_EQ(report.failures[1], "/in/b.psd: " + GetText("Msg", "Failure save"));
  EXPECT_EQ(report.failures[2], "/in/c.psd: " + GetText("Msg", "Failure outside output folder"));
  EXPECT_EQ(report.failures[3], "/in/d.psd: " + GetText("Msg", "Failure save"));

  // A stopped run says so, lists the files that failed before the stop and blames none it left
  // unfinished.
  std::vector<FileResult> interrupted = mixed;
  interrupted.push_back({"/in/e.psd", "", false, FileFailure::NotReached});
  const RunReport stopped = BuildRunReport(interrupted, true);
  EXPECT_TRUE(stopped.failed);
  EXPECT_EQ(stopped.headline, "Conversion stopped");
  EXPECT_EQ(stopped.failures, report.failures);
  const std::vector<FileResult> only_unfinished = {
      {"/in/a.psd", "/out/a.png", true, FileFailure::None},
      {"/in/e.psd", "", false, FileFailure::NotReached}};
  EXPECT_FALSE(BuildRunReport(only_unfinished, true).failed);
  EXPECT_TRUE(BuildRunReport(only_unfinished, true).failures.empty());
}

TEST(RunReport, ListsWhatConvertedPicturesLeaveOutWithoutCallingItAFailure) {
  BuildLanguageTable();
  FileResult drawn{"/in/a.psd", "/out/a.png", true, FileFailure::None};
  FileResult partly = drawn;
  partly.input = "/in/b.psd";
  partly.left_out = "layer effects, smart objects";
  // A failed file's list of what it would have left out means nothing: it has no picture.
  FileResult damaged{"/in/c.psd", "", false, FileFailure::LoadFailed};
  damaged.left_out = "layer effects";
  const RunReport report = BuildRunReport({drawn, partly}, false);
  EXPECT_FALSE(report.failed);
  EXPECT_EQ(report.headline, "Conversion complete");
  EXPECT_EQ(report.left_out, std::vector<std::string>{"/in/b.psd: layer effects, smart objects"});
  const RunReport mixed = BuildRunReport({partly, damaged}, false);
  EXPECT_TRUE(mixed.failed);
  EXPECT_EQ(mixed.left_out, report.left_out);
  EXPECT_EQ(mixed.failures.size(), 1u);
}

TEST(FileFailureText, EveryReasonIsAnEntryOfTheTextsTable) {
  BuildLanguageTable();
  EXPECT_EQ(FileFailureText(FileFailure::None), "");
  std::vector<std::string> seen;
  for (FileFailure failure :
       {FileFailure::LoadFailed, FileFailure::OutsideOutputFolder, FileFailure::SaveFailed,
        FileFailure::NotReached, FileFailure::NotDocument, FileFailure::TooLarge,
        FileFailure::OutputNotWritable, FileFailure::NameCollision}) {
    const std::string text = FileFailureText(failure);
    EXPECT_FALSE(text.empty());
    // The console's reason for the same failure.
    EXPECT_EQ(text, GetText("Msg", FailureTextKey(failure)));
    // One line each, and no two alike.
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << text;
    seen.push_back(text);
  }
}

TEST(ConverterSearchTerm, CutsToTwelveCharactersBeforeDroppingOthers) {
  EXPECT_EQ(ConverterSearchTerm("Photoshop PSD!"), "photoshopps");
  EXPECT_EQ(ConverterSearchTerm("PNG-8"), "png8");
  EXPECT_EQ(
      ConverterSearchPath(ConverterSearchTerm("Photoshop PSD!"), ConverterSearchTerm("PNG-8")),
      "/find/photoshopps-png8/");
  // Characters, not bytes, are counted: three two-byte letters still leave nine of the rest.
  EXPECT_EQ(ConverterSearchTerm("\u00c4\u00d6\u00dcabcdefghijklm"), "abcdefghi");
  EXPECT_EQ(ConverterSearchTerm("abcdefghijkl"), "abcdefghijkl");
  EXPECT_EQ(ConverterSearchTerm("  --  "), "");
}

TEST(RunFaultText, EachFaultHasTheWarningOfItsCheck) {
  BuildLanguageTable();
  ProgramSettings settings;
  ResetSettings(settings, true);
  settings.watermark.font = "No Such Face";
  settings.watermark.image = "/srv/mark.png";
  ConversionJob job;
  job.output_folder = "/missing/";
  EXPECT_EQ(RunFaultText(RunFault::None, job, settings), "");
  EXPECT_EQ(RunFaultText(RunFault::InvalidInputFile, job, settings),
            GetText("Msg", "Empty input files"));
  EXPECT_EQ(RunFaultText(RunFault::InvalidOutputFolder, job, settings),
            FormatText(GetText("Msg", "Invalid output folder"), "/missing/"));
  EXPECT_EQ(RunFaultText(RunFault::IncorrectOutputFolder, job, settings),
            RunFaultText(RunFault::InvalidOutputFolder, job, settings));
  EXPECT_EQ(RunFaultText(RunFault::InvalidWatermarkFont, job, settings),
            FormatText(GetText("Msg", "Invalid watermark font"), "No Such Face"));
  EXPECT_EQ(RunFaultText(RunFault::InvalidWatermarkImage, job, settings),
            FormatText(GetText("Msg", "Invalid watermark image"), "/srv/mark.png"));
  // The faults only a hand-edited settings file reaches share the general request to correct.
  for (RunFault fault :
       {RunFault::InvalidGamma, RunFault::InvalidBitDepth, RunFault::InvalidConversionType}) {
    EXPECT_EQ(RunFaultText(fault, job, settings), GetText("Msg", "Empty extensions"));
  }
}

TEST(PreferencesTexts, EveryPageRowAndChoiceHasItsText) {
  // A row added without its text shows the table's miss marker as its label.
  int rows = 0;
  const auto check_rows = [&rows](const std::vector<PreferencesRow>& page_rows) {
    for (const PreferencesRow& row : page_rows) {
      ++rows;
      EXPECT_NE(GetText("Preferences", row.label_key), TextMissMarker) << row.label_key;
      if (row.binding != RowBinding::Schema || row.key.empty()) continue;
      for (std::string_view entry : SchemaEntryKeys(row.group, row.key)) {
        EXPECT_NE(GetText("Preferences", entry), TextMissMarker) << row.key << ": " << entry;
      }
    }
  };
  for (const PageLayout& page : PreferencesPages()) {
    EXPECT_NE(GetText("Preferences", page.name_key), TextMissMarker) << page.name_key;
    check_rows(page.rows);
    for (const PanelLayout& panel : page.panels) check_rows(panel.rows);
  }
  EXPECT_GT(rows, 50);
}
