// A conversion started from the main window: the refusals with their warnings, a run to its end
// report, and a run stopped by the break question.

#include "gui/conversion_run.h"

#include <wx/bmpbuttn.h>
#include <wx/bmpcbox.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dnd.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>
#include <filesystem>

#include "config/settings_file.h"
#include "core/conversion_job.h"
#include "gui/commands.h"
#include "gui/progress_window.h"
#include "settings/program_settings.h"
#include "tests/engine/layer_documents.h"
#include "tests/gui/window_harness.h"
#include "tests/support/psd_writer.h"
#include "texts/language_table.h"
// The decoders of the tests come from the engine: its header goes after every window header.
#include "engine/isolation/isolated_decode.h"

namespace {

std::string WriteDocument(const std::string& path, uint32_t width, uint32_t height) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, width, height, 3);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t channel) -> uint32_t {
    return (x * 7 + y * 3 + channel * 50) & 0xFF;
  });
  return WritePsdFile(path, spec) ? path : std::string();
}

// While it lives, documents go to a decoder that never answers and has all the time there is:
// only a break ends its decode.
class HangingDecoder {
 public:
  HangingDecoder() {
    SetPsdDecoderFolder(std::string(QUORVIX_FAKE_DECODERS_DIR) + "/hang");
    SetDecodeTimeLimitForTesting(std::chrono::hours(1));
  }
  ~HangingDecoder() {
    SetPsdDecoderFolder("");
    SetDecodeTimeLimitForTesting(std::chrono::milliseconds(0));
  }
  HangingDecoder(const HangingDecoder&) = delete;
  HangingDecoder& operator=(const HangingDecoder&) = delete;
};

}  // namespace

TEST_F(WindowTest, ConvertsTheInputFileAndReportsIt) {
  const std::string document = WriteDocument(dir_.file("picture.psd"), 64, 48);
  TempDir out;
  FillFields(window(), document, out.folder());

  const EndReport report = Convert();
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(std::filesystem::exists(out.file("picture.png")));
  EXPECT_EQ(report.title, "Conversion complete (1/1)");
  EXPECT_EQ(report.label, "Files converted: 1 of 1");
  EXPECT_EQ(report.bar, 2);
  EXPECT_EQ(report.range, 2);
  EXPECT_EQ(window().StatusText(), "Conversion complete");
  EXPECT_EQ(window().Progress(), nullptr);
  EXPECT_FALSE(window().RunInWork());
  EXPECT_TRUE(window().IsEnabled());
}

TEST_F(WindowTest, TheReportListsWhatARebuiltPictureLeftOutBesideTheFailures) {
  // Saved without its composite, with a smart object that has no pixels of its own.
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 8, 8);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 8, 8}, {0.2, 0.4, 0.6}));
  PsdLayer smart;
  smart.blocks.push_back({"SoLd", std::string(8, '\0')});
  spec.layers.push_back(smart);
  const std::string partly = dir_.file("smart.psd");
  ASSERT_TRUE(WritePsdFile(partly, spec));
  TempDir out;
  FillFields(window(), partly, out.folder());
  const EndReport alone = Convert();
  EXPECT_TRUE(std::filesystem::exists(out.file("smart.png")));
  EXPECT_EQ(alone.title, "Conversion complete (1/1)");
  EXPECT_EQ(alone.failures, "");
  EXPECT_EQ(alone.left_out, partly + ": smart objects");
  EXPECT_EQ(alone.copied, alone.left_out);

  // Beside a failure, both lists show and the clipboard gets both under their headings.
  const std::string damaged = dir_.file("damaged.psd");
  WriteFileBytes(damaged, std::string("8BPS") + std::string(40, '\0'));
  wxArrayString dropped;
  dropped.Add(partly);
  dropped.Add(damaged);
  static_cast<wxFileDropTarget*>(window().GetDropTarget())->OnDropFiles(20, 20, dropped);
  const EndReport both = Convert({}, "progress_left_out");
  EXPECT_EQ(both.title, "Conversion ended with errors (2/2)");
  EXPECT_EQ(both.failures, damaged + ": " + GetText("Msg", "Failure damaged"));
  EXPECT_EQ(both.left_out, alone.left_out);
  EXPECT_EQ(both.copied, GetText("Msg", "Files not converted") + "\n" + both.failures + "\n\n" +
                             GetText("Msg", "Parts not drawn") + "\n" + both.left_out);
}

TEST_F(WindowTest, AFailedFileEndsTheRunWithErrorsAndItsReason) {
  const std::string damaged = dir_.file("damaged.psd");
  WriteFileBytes(damaged, std::string("8BPS") + std::string(40, '\0'));
  TempDir out;
  FillFields(window(), damaged, out.folder());

  const EndReport report = Convert();
  EXPECT_EQ(report.title, "Conversion ended with errors (1/1)");
  EXPECT_EQ(report.label, "Files converted: 0 of 1");
  EXPECT_EQ(window().StatusText(), "Conversion ended with errors");
  EXPECT_EQ(report.failures, damaged + ": " + GetText("Msg", "Failure damaged"));
  // The list makes the window larger than the plain report.
  EXPECT_GT(report.size.GetHeight(), ProgressWindow::Height);
  EXPECT_TRUE(std::filesystem::is_empty(out.path()));

  // A successful run after it reads as success again and lists nothing.
  const std::string document = WriteDocument(dir_.file("picture.psd"), 8, 8);
  FillFields(window(), document, out.folder());
  const EndReport good = Convert();
  EXPECT_EQ(good.title, "Conversion complete (1/1)");
  EXPECT_EQ(good.failures, "");
  EXPECT_EQ(good.size, wxSize(ProgressWindow::Width, ProgressWindow::Height));
}

TEST_F(WindowTest, EachFaultIsRefusedWithItsWarning) {
  const std::string document = WriteDocument(dir_.file("picture.psd"), 8, 8);
  WriteFileBytes(dir_.file("empty.psd"), "");
  WriteFileBytes(dir_.file("notes.txt"), "text");
  TempDir out;
  auto refusal = [&](const std::string& input, const std::string& folder) {
    messages_.clear();
    window().InputField()->ChangeValue(input);
    settings().file.recent_out_folders = folder;
    window().OutputFolderBox()->Clear();
    if (!folder.empty()) {
      window().FillOutputFolderBox();
      window().OutputFolderBox()->SetSelection(0);
    }
    Convert();
    return messages_.empty() ? std::string("(none)") : messages_.front();
  };
  EXPECT_EQ(refusal("", out.folder()), GetText("Msg", "Empty input files"));
  EXPECT_EQ(refusal(dir_.file("empty.psd"), out.folder()), GetText("Msg", "Empty input files"));
  EXPECT_EQ(refusal(dir_.file("notes.txt"), out.folder()), GetText("Msg", "Empty input files"));
  EXPECT_EQ(refusal(dir_.file("missing.psd"), out.folder()), GetText("Msg", "Empty input files"));
  // Nothing started, so nothing stopped.
  EXPECT_EQ(window().StatusText(), "");
  EXPECT_EQ(refusal(document, ""), GetText("Msg", "Empty output folder"));
  EXPECT_EQ(refusal(document, document),
            FormatText(GetText("Msg", "Invalid output folder"), document + "/"));

  settings().transform.do_image_resize = 1;
  settings().transform.image_width = 0;
  settings().transform.image_height = 100;
  settings().transform.keep_aspect_ratio = 1;
  EXPECT_EQ(refusal(document, out.folder()), GetText("Msg", "Invalid width"));
  settings().transform.image_width = 100;
  settings().transform.image_height = 0;
  EXPECT_EQ(refusal(document, out.folder()), GetText("Msg", "Invalid height"));
  settings().transform.do_image_resize = 0;

  // The console's checks run too: a hand-edited gamma is refused before anything is written.
  settings().adjustment.do_image_color_correction = 1;
  settings().adjustment.image_gamma = 0.0f;
  EXPECT_EQ(refusal(document, out.folder()), GetText("Msg", "Empty extensions"));
  settings().adjustment.do_image_color_correction = 0;

  settings().watermark.do_watermark = 1;
  settings().watermark.font = "No Such Face At All";
  EXPECT_EQ(refusal(document, out.folder()),
            FormatText(GetText("Msg", "Invalid watermark font"), "No Such Face At All"));
  EXPECT_EQ(window().StatusText(), "Preparing...");
  settings().watermark.do_watermark = 2;
  settings().watermark.image = "";
  EXPECT_EQ(refusal(document, out.folder()), GetText("Msg", "Empty watermark image"));
  settings().watermark.image = dir_.file("empty.psd");
  EXPECT_EQ(refusal(document, out.folder()),
            FormatText(GetText("Msg", "Invalid watermark image"), dir_.file("empty.psd")));
  EXPECT_FALSE(std::filesystem::exists(out.file("picture.png")));
}

TEST_F(WindowTest, BreakQuestionStopsTheRunWithItsFileInWork) {
  const std::string document = WriteDocument(dir_.file("picture.psd"), 64, 48);
  TempDir out;
  FillFields(window(), document, out.folder());
  answer_ = true;
  EndReport report;
  {
    const HangingDecoder hanging;
    // Asked once the worker has taken the file, so the title counts it (on a busy machine the
    // first poll can come before that).
    report = Convert([](ProgressWindow& progress) {
      PumpUntil([&progress] { return progress.Run()->Progress().processed > 0; }, 5000);
      progress.Close();
    });
  }
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_.front(), GetText("Msg", "Ask break conversion"));
  EXPECT_EQ(report.title, "Conversion stopped (1/1)");
  EXPECT_EQ(report.label, "Conversion stopped");
  EXPECT_EQ(window().StatusText(), "Conversion stopped");
  // The decode of the file in work ended with the break: nothing is written, whole or in part.
  EXPECT_TRUE(std::filesystem::is_empty(out.path()));

  // Answered No, the run ends normally.
  answer_ = false;
  messages_.clear();
  const EndReport normal = Convert([](ProgressWindow& progress) { progress.Close(); });
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(normal.label, "Files converted: 1 of 1");
}

TEST_F(WindowTest, ClosingTheWindowDuringARunAsksFirstAndEndsTheRun) {
  session_.SetConfigPath(BuildConfigFilePath());
  const std::string document = WriteDocument(dir_.file("picture.psd"), 64, 48);
  TempDir out;
  FillFields(window(), document, out.folder());
  answer_ = true;
  const HangingDecoder hanging;
  Convert([](ProgressWindow&) { OpenMainWindow()->Close(); });
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_.front(), GetText("Msg", "Ask break conversion"));
  ASSERT_TRUE(PumpUntil([] { return OpenMainWindow() == nullptr; }, 5000));
  // The window went once the run had ended, its file in work unwritten, and the settings were
  // written.
  EXPECT_TRUE(std::filesystem::is_empty(out.path()));
  EXPECT_TRUE(std::filesystem::exists(g_process.config_file_path));
}

TEST_F(WindowTest, APoliteEndWhileTheReportIsShownClosesTheWindow) {
  session_.SetConfigPath(BuildConfigFilePath());
  const std::string document = WriteDocument(dir_.file("picture.psd"), 64, 48);
  TempDir out;
  FillFields(window(), document, out.folder());
  // The run ends and its report waits for OK; then the session ends (SIGTERM's path).
  bool requested = false;
  wxTimer watcher;
  watcher.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    MainWindow* main = OpenMainWindow();
    ProgressWindow* progress = main ? main->Progress() : nullptr;
    if (progress && progress->OkButton()->IsEnabled() && !requested) {
      requested = true;
      main->RequestBreakOfRun();
    }
  });
  watcher.Start(10);
  wxCommandEvent click(wxEVT_BUTTON, ConvertButtonId);
  click.SetEventObject(OpenMainWindow()->ConvertButton());
  OpenMainWindow()->ConvertButton()->GetEventHandler()->ProcessEvent(click);
  watcher.Stop();
  EXPECT_TRUE(requested);
  EXPECT_TRUE(messages_.empty());
  ASSERT_TRUE(PumpUntil([] { return OpenMainWindow() == nullptr; }, 5000));
  EXPECT_TRUE(std::filesystem::exists(out.file("picture.png")));
  EXPECT_TRUE(std::filesystem::exists(g_process.config_file_path));
}

TEST_F(WindowTest, ABatchOfDroppedFilesAndAFolderConvertsAndListsWhatFailed) {
  const std::string one = WriteDocument(dir_.file("one.psd"), 16, 12);
  const std::string two = WriteDocument(dir_.file("two.psd"), 12, 16);
  std::filesystem::create_directories(dir_.file("shoot/day2"));
  WriteDocument(dir_.file("shoot/a.psd"), 8, 8);
  WriteDocument(dir_.file("shoot/day2/b.psd"), 8, 8);
  const std::string damaged = dir_.file("shoot/day2/broken.psd");
  WriteFileBytes(damaged, std::string("8BPS") + std::string(40, '\0'));
  TempDir out;
  FillFields(window(), "", out.folder());
  SendCommand(CmdIncludeSubfolders);

  wxArrayString dropped;
  dropped.Add(one);
  dropped.Add(two);
  dropped.Add(dir_.file("shoot"));
  static_cast<wxFileDropTarget*>(window().GetDropTarget())->OnDropFiles(20, 20, dropped);
  EXPECT_EQ(window().InputField()->GetValue(), "5 files");
  // The output folder chosen before the drop stays.
  EXPECT_EQ(window().OutputFolderBox()->GetValue(), out.folder());
  Snapshot(&window(), "main_batch");

  const EndReport report = Convert({}, "progress_batch_failures");
  EXPECT_TRUE(messages_.empty());
  // Every good document is written; the folder's subfolder is made below the output folder.
  for (const char* name : {"one.png", "two.png", "a.png", "day2/b.png"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(out.file(name))) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(out.file("day2/broken.png")));
  EXPECT_EQ(report.title, "Conversion ended with errors (5/5)");
  EXPECT_EQ(report.label, "Files converted: 4 of 5");
  EXPECT_EQ(report.bar, 6);
  EXPECT_EQ(report.range, 6);
  EXPECT_EQ(report.failures, damaged + ": " + GetText("Msg", "Failure damaged"));
  EXPECT_EQ(window().StatusText(), "Conversion ended with errors");
  // The list goes to the clipboard whole.
  EXPECT_EQ(report.copied, report.failures);
  // The list's window is larger than the plain report, and a later run of one file is the plain
  // report again.
  EXPECT_GT(report.size.GetHeight(), ProgressWindow::Height);
  FillFields(window(), one, out.folder());
  const EndReport single = Convert();
  EXPECT_EQ(single.title, "Conversion complete (1/1)");
  EXPECT_EQ(single.copied, "");
  EXPECT_EQ(single.size, wxSize(ProgressWindow::Width, ProgressWindow::Height));
}

TEST_F(WindowTest, BreakStopsABatchWithNothingHalfWritten) {
  std::filesystem::create_directories(dir_.file("shoot"));
  WriteDocument(dir_.file("shoot/a.psd"), 64, 48);
  WriteDocument(dir_.file("shoot/b.psd"), 64, 48);
  WriteDocument(dir_.file("shoot/c.psd"), 64, 48);
  TempDir out;
  FillFields(window(), "", out.folder());
  services().input_folder = [&](const std::string&) { return dir_.file("shoot"); };
  SendCommand(CmdAddInputFolder);
  services().input_folder = nullptr;
  ASSERT_EQ(window().InputField()->GetValue(), dir_.file("shoot"));
  answer_ = true;
  EndReport report;
  {
    const HangingDecoder hanging;
    report = Convert([](ProgressWindow& progress) { progress.Close(); });
  }
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_.front(), GetText("Msg", "Ask break conversion"));
  EXPECT_EQ(report.title.rfind("Conversion stopped (", 0), 0u) << report.title;
  EXPECT_EQ(report.label, "Files converted: 0 of 3");
  // The files in work were abandoned: they failed on no fault of their own and are not listed.
  EXPECT_EQ(report.failures, "");
  EXPECT_EQ(window().StatusText(), "Conversion stopped");
  EXPECT_TRUE(std::filesystem::is_empty(out.path()));
}
