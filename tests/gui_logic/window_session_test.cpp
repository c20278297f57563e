// The window's state without its widgets: what a drop, the folder chooser, "New" and the end of a
// run do to the job and the history.

#include "gui/window_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "gui/file_choosers.h"
#include "gui/output_history.h"
#include "settings/program_settings.h"
#include "tests/support/temp_dir.h"

namespace {

class WindowSessionTest : public ::testing::Test {
 protected:
  WindowSession session;
  ProgramSettings& settings = session.Settings();
  TempDir dir;
};

// Answers each chooser with `answer` and records where it started; nothing else is asked.
class ChooserServices : public WindowServices {
 public:
  std::optional<std::string> answer;
  std::vector<std::string> starts;

  bool Message(MessageKind, const std::string&, const std::string&) override {
    ADD_FAILURE() << "no box expected";
    return false;
  }
  bool MessageShown() const override { return false; }
  std::optional<std::string> ChooseFile(const std::string& start) override {
    starts.push_back(start);
    return answer;
  }
  std::optional<std::string> ChooseFolder(const std::string& start) override {
    starts.push_back(start);
    return answer;
  }
  bool ChooseColour(uint32_t&) override { return false; }
  bool ChooseFont(std::string&, int&, int&) override { return false; }
  bool ChooseImage(const std::string&, const std::string&, std::string&) override { return false; }
  void Open(const std::string&) override {}
  std::string VersionFileAddress() const override { return {}; }
};

}  // namespace

TEST_F(WindowSessionTest, AnOfferedFileGivesItsFolderOnlyWhileNoneIsShown) {
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

TEST_F(WindowSessionTest, ChoosersStartWhereTheJobOrTheBoxLeftOffAndOnlyReturnTheAnswer) {
  auto owned = std::make_unique<ChooserServices>();
  ChooserServices& services = *owned;
  session.SetServices(std::move(owned));

  // The input chooser starts at the last file, forgets it, and leaves the job's folder alone.
  session.Job().input_path = "/earlier/run.psd";
  session.Job().output_folder = "/out/";
  services.answer = "/in/picture.psd";
  EXPECT_EQ(AskForInputFile(session), "/in/picture.psd");
  services.answer.reset();
  EXPECT_EQ(AskForInputFile(session), std::nullopt);
  EXPECT_EQ(session.Job().input_path, "");
  EXPECT_EQ(session.Job().output_folder, "/out/");

  // The folder chooser starts at the folder part of the shown entry, else at the job's folder;
  // its answer is not applied.
  services.answer = "/chosen";
  EXPECT_EQ(AskForOutputFolder(session, "/shown/folder/entry"), "/chosen");
  EXPECT_EQ(AskForOutputFolder(session, ""), "/chosen");
  EXPECT_EQ(session.Job().output_folder, "/out/");
  EXPECT_EQ(settings.file.recent_out_folders, "");
  EXPECT_EQ(services.starts,
            (std::vector<std::string>{"/earlier/run.psd", "", "/shown/folder/", "/out/"}));
}

TEST_F(WindowSessionTest, SettingsGoToItsOwnFileAndComeBackFromIt) {
  // No file named: nothing is written, and nothing read.
  EXPECT_FALSE(session.SaveSettings());
  EXPECT_FALSE(session.LoadSettings());
  session.SetConfigPath(dir.file("config.ini"));
  settings.advanced.filename_mask = "%filename%-kept";
  settings.interface.ui_size = 0;
  ASSERT_TRUE(session.SaveSettings());
  WindowSession other;
  other.SetConfigPath(dir.file("config.ini"));
  EXPECT_NE(other.Settings().advanced.filename_mask, "%filename%-kept");
  ASSERT_TRUE(other.LoadSettings());
  EXPECT_EQ(other.Settings().advanced.filename_mask, "%filename%-kept");
  EXPECT_EQ(other.Settings().interface.ui_size, 0);
  // The process-wide record of the console is not the session's.
  EXPECT_NE(g_settings.advanced.filename_mask, "%filename%-kept");
}
