// The window's state without its widgets: what a drop, the folder chooser, "New" and the end of a
// run do to the job and the history.

#include "gui/window_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "gui/file_choosers.h"
#include "gui/output_history.h"
#include "settings/program_settings.h"
#include "tests/support/temp_dir.h"
#include "texts/language_table.h"

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
  std::vector<std::string> ChooseFiles(const std::string& start) override {
    starts.push_back(start);
    return answer ? std::vector<std::string>{*answer} : std::vector<std::string>{};
  }
  std::optional<std::string> ChooseInputFolder(const std::string& start) override {
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

TEST_F(WindowSessionTest, ChoosersStartInAnExistingFolderAndOnlyReturnTheAnswer) {
  auto owned = std::make_unique<ChooserServices>();
  ChooserServices& services = *owned;
  session.SetServices(std::move(owned));
  std::filesystem::create_directories(dir.file("earlier"));
  std::filesystem::create_directories(dir.file("out"));
  std::filesystem::create_directories(dir.file("shown"));

  // The input chooser starts in the last file's folder (the file itself may be gone), forgets
  // it, and leaves the job's folder alone.
  session.Job().input_path = dir.file("earlier/run.psd");
  session.Job().output_folder = dir.file("out/");
  services.answer = "/in/picture.psd";
  EXPECT_EQ(AskForInputFiles(session, "", ""), std::vector<std::string>{"/in/picture.psd"});
  services.answer.reset();
  // Then in the shown input's folder, else the output folder.
  EXPECT_TRUE(AskForInputFiles(session, dir.file("shown/typed.psd"), "").empty());
  EXPECT_EQ(AskForInputFolder(session, "", ""), std::nullopt);
  EXPECT_EQ(session.Job().input_path, "");
  EXPECT_EQ(session.Job().output_folder, dir.file("out/"));

  // The folder chooser starts in the shown entry, else the job's folder; its answer is not
  // applied.
  services.answer = "/chosen";
  EXPECT_EQ(AskForOutputFolder(session, dir.file("shown"), ""), "/chosen");
  EXPECT_EQ(AskForOutputFolder(session, "", ""), "/chosen");
  EXPECT_EQ(session.Job().output_folder, dir.file("out/"));
  EXPECT_EQ(settings.file.recent_out_folders, "");
  EXPECT_EQ(services.starts,
            (std::vector<std::string>{dir.file("earlier/"), dir.file("shown/"), dir.file("out/"),
                                      dir.file("shown/"), dir.file("out/")}));
}

TEST_F(WindowSessionTest, ChooserStartFolderIsNeverEmptyOrMissing) {
  std::filesystem::create_directories(dir.file("a/b"));
  const std::string home = dir.file("a");
  // Missing folders, relative paths and empty fields are passed over, down to home.
  EXPECT_EQ(ChooserStartFolder({"", "relative/x.psd", "/no/such/folder/x.psd"}, home),
            dir.file("a/"));
  EXPECT_EQ(ChooserStartFolder({}, home), dir.file("a/"));
  // A folder is taken as it is, a file by its folder, the first that exists winning.
  EXPECT_EQ(ChooserStartFolder({dir.file("a/b"), home}, "/"), dir.file("a/b/"));
  EXPECT_EQ(ChooserStartFolder({dir.file("a/b/gone.psd"), home}, "/"), dir.file("a/b/"));
  EXPECT_EQ(ChooserStartFolder({dir.file("a/c/gone.psd"), dir.file("a/b/")}, "/"),
            dir.file("a/b/"));
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

TEST_F(WindowSessionTest, OfferedInputsAreWalkedAsTheConsoleWalksThemAndSummarised) {
  // A folder with documents in two levels, another type, and a link back to itself.
  std::filesystem::create_directories(dir.file("shoot/day2"));
  for (const char* name : {"shoot/b.psd", "shoot/A.PSB", "shoot/day2/c.psd", "loose.psd"}) {
    ASSERT_TRUE(WriteFileBytes(dir.file(name), "8BPS"));
  }
  ASSERT_TRUE(WriteFileBytes(dir.file("shoot/notes.txt"), "text"));
  std::filesystem::create_directory_symlink(dir.file("shoot"), dir.file("shoot/day2/loop"));
  BuildLanguageTable();

  EXPECT_TRUE(session.OfferInputs({dir.file("shoot")}, ""));
  EXPECT_TRUE(session.HoldsBatch());
  // Sorted by path in byte order, capitals first; the subfolder is left out by default.
  std::vector<std::string> paths;
  for (const auto& [path, entry] : session.Inputs()) paths.push_back(path);
  EXPECT_EQ(paths, (std::vector<std::string>{dir.file("shoot/A.PSB"), dir.file("shoot/b.psd")}));
  EXPECT_EQ(session.InputSummary(), dir.file("shoot"));
  // A folder's outputs go beside its documents unless another folder is shown.
  EXPECT_EQ(session.Job().output_folder, dir.file("shoot/"));

  // With its subfolders, each document keeps its subfolder, and the link is not followed.
  session.SetIncludeSubfolders(true);
  EXPECT_EQ(settings.advanced.include_subfolders, 1);
  ASSERT_EQ(session.Inputs().Size(), 3u);
  const InputFileEntry* deep = session.Inputs().Find(dir.file("shoot/day2/c.psd"));
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->subfolder, "day2/");
  EXPECT_EQ(session.InputListText(10), dir.file("shoot") + " (files: 3)");

  // Several inputs: "N files", in the order named; a path given twice counts once, a file of
  // another type is passed over, and the output folder already shown stays.
  EXPECT_TRUE(session.OfferInputs({dir.file("loose.psd"), dir.file("shoot/notes.txt"),
                                   dir.file("shoot"), dir.file("loose.psd")},
                                  "/shown/"));
  EXPECT_EQ(session.Inputs().Size(), 4u);
  EXPECT_EQ(session.Inputs().begin()->first, dir.file("loose.psd"));
  EXPECT_EQ(session.InputSummary(), "4 files");
  EXPECT_EQ(session.Job().output_folder, dir.file("shoot/"));
  // The list names what was named, and says how many lines it leaves out.
  EXPECT_EQ(session.InputListText(1), dir.file("loose.psd") + "\nand 1 more");

  // Several named, one document among them: that document's path.
  std::filesystem::create_directory(dir.file("empty"));
  EXPECT_TRUE(session.OfferInputs({dir.file("empty"), dir.file("loose.psd")}, "/shown/"));
  EXPECT_EQ(session.InputSummary(), dir.file("loose.psd"));
  EXPECT_TRUE(session.HoldsBatch());

  // An empty folder is still taken (Convert then says no file was found); one file is no batch;
  // nothing acceptable changes nothing.
  EXPECT_TRUE(session.OfferInputs({dir.file("empty")}, "/shown/"));
  EXPECT_TRUE(session.Inputs().Empty());
  EXPECT_TRUE(session.OfferInputs({dir.file("loose.psd")}, "/shown/"));
  EXPECT_FALSE(session.HoldsBatch());
  EXPECT_EQ(session.InputSummary(), dir.file("loose.psd"));
  EXPECT_FALSE(session.OfferInputs({dir.file("shoot/notes.txt"), dir.file("missing")}, ""));
  EXPECT_EQ(session.InputSummary(), dir.file("loose.psd"));

  // "New" forgets them.
  session.NewJob();
  EXPECT_TRUE(session.NamedInputs().empty());
  EXPECT_EQ(session.InputSummary(), "");
}

TEST_F(WindowSessionTest, IncludeSubfoldersIsRememberedAndOnlyOneTurnsItOn) {
  session.SetConfigPath(dir.file("config.ini"));
  EXPECT_FALSE(session.IncludeSubfolders());
  session.SetIncludeSubfolders(true);
  ASSERT_TRUE(session.SaveSettings());
  WindowSession other;
  other.SetConfigPath(dir.file("config.ini"));
  ASSERT_TRUE(other.LoadSettings());
  EXPECT_TRUE(other.IncludeSubfolders());

  // A hand-edited value that is not 1 leaves the subfolders out.
  for (const char* value : {"2", "-1", "yes", "", "99999999999"}) {
    ASSERT_TRUE(
        WriteFileBytes(dir.file("config.ini"),
                       std::string("[Advanced]\r\nInclude Subfolders = ") + value + "\r\n"));
    ASSERT_TRUE(other.LoadSettings());
    EXPECT_FALSE(other.IncludeSubfolders()) << value;
  }
}
