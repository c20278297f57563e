// The window's state without its widgets: what a drop, the folder chooser, "New" and the end of a
// run do to the job and the history.

#include "gui/window_session.h"

#include <gtest/gtest.h>

#include "gui/output_history.h"
#include "settings/program_settings.h"
#include "tests/support/temp_dir.h"

namespace {

class WindowSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettings(settings, false); }

  ProgramSettings settings;
  TempDir dir;
};

}  // namespace

TEST_F(WindowSessionTest, AnOfferedFileGivesItsFolderOnlyWhileNoneIsShown) {
  WindowSession session(settings);
  const std::string document = dir.file("a.psd");
  ASSERT_TRUE(WriteFileBytes(document, "8BPS"));
  EXPECT_TRUE(session.OfferInputFile(document, ""));
  EXPECT_EQ(session.Job().output_folder, dir.folder());
  EXPECT_EQ(HistoryEntry(settings.file.recent_out_folders, 0), dir.folder());

  // With a folder on show, the file is taken and the folder stays.
  TempDir other;
  const std::string elsewhere = other.file("b.psd");
  ASSERT_TRUE(WriteFileBytes(elsewhere, "8BPS"));
  EXPECT_TRUE(session.OfferInputFile(elsewhere, dir.folder()));
  EXPECT_EQ(session.Job().output_folder, dir.folder());

  // Another type, or an empty document, is not taken and changes nothing.
  ASSERT_TRUE(WriteFileBytes(other.file("notes.txt"), "text"));
  ASSERT_TRUE(WriteFileBytes(other.file("empty.psd"), ""));
  EXPECT_FALSE(session.OfferInputFile(other.file("notes.txt"), ""));
  EXPECT_FALSE(session.OfferInputFile(other.file("empty.psd"), ""));
  EXPECT_EQ(session.Job().output_folder, dir.folder());
  EXPECT_EQ(HistoryEntry(settings.file.recent_out_folders, 1), "");
}

TEST_F(WindowSessionTest, OnlyAnExistingFolderBecomesTheOutputFolder) {
  WindowSession session(settings);
  EXPECT_FALSE(session.ChooseOutputFolder(""));
  EXPECT_FALSE(session.ChooseOutputFolder(dir.file("missing")));
  EXPECT_EQ(settings.file.recent_out_folders, "");
  ASSERT_TRUE(WriteFileBytes(dir.file("file"), "x"));
  EXPECT_FALSE(session.ChooseOutputFolder(dir.file("file")));

  std::string folder = dir.folder();
  folder.pop_back();
  EXPECT_TRUE(session.ChooseOutputFolder(folder));
  EXPECT_EQ(session.Job().output_folder, dir.folder());
  EXPECT_EQ(HistoryEntry(settings.file.recent_out_folders, 0), dir.folder());
}

TEST_F(WindowSessionTest, NumbersCountOnAcrossRunsUntilNew) {
  WindowSession session(settings);
  EXPECT_EQ(session.Job().sequence_number, 1);
  ConversionJob after_run = session.Job();
  after_run.sequence_number = 4;
  after_run.input_path = "/in/last.psd";
  session.TakeJob(after_run);
  EXPECT_EQ(session.Job().sequence_number, 4);
  EXPECT_EQ(session.Job().input_path, "/in/last.psd");
  session.NewJob();
  EXPECT_EQ(session.Job().sequence_number, 1);
  EXPECT_EQ(session.Job().input_path, "");
  EXPECT_GE(session.Job().random_number, 1);
  EXPECT_LE(session.Job().random_number, 99999);
}
