#include "tests/gui/window_harness.h"

#include <wx/app.h>
#include <wx/bmpbuttn.h>
#include <wx/bmpcbox.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/start_up.h"
#include "core/conversion_job.h"
#include "gui/gtk_calls.h"
#include "gui/main_window.h"
#include "gui/pictures.h"
#include "gui/progress_window.h"
#include "gui/theme_pictures.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"
#include "themes/theme_pack.h"

void Pump(int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  do {
    wxYield();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < end);
  wxYield();
}

bool PumpUntil(const std::function<bool()>& done, int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done() && std::chrono::steady_clock::now() < end) Pump(5);
  return done();
}

void Snapshot(wxWindow* window, const std::string& name) {
  const char* folder = std::getenv("QUORVIX_SCREENSHOTS");
  if (!folder || !*folder) return;
  Pump(150);
  EXPECT_TRUE(SaveWindowPicture(window, std::string(folder) + "/" + name + ".png")) << name;
}

void LoadStartPictures(InterfaceSettings& interface) {
  LoadBuiltInPictures(ThemePictureSize(interface.ui_size));
  ScanThemes();
  LoadThemePictures(interface, true, true, true);
}

MainWindow* OpenMainWindow() {
  for (wxWindow* window : wxTopLevelWindows) {
    auto* main = dynamic_cast<MainWindow*>(window);
    if (main && !main->IsBeingDeleted()) return main;
  }
  return nullptr;
}

void SendCommand(int id) {
  wxCommandEvent event(wxEVT_MENU, id);
  event.SetEventObject(OpenMainWindow());
  OpenMainWindow()->GetEventHandler()->ProcessEvent(event);
}

void FillFields(MainWindow& window, const std::string& document, const std::string& folder) {
  window.InputField()->ChangeValue(document);
  window.Session().Settings().file.recent_out_folders = folder;
  window.FillOutputFolderBox();
  window.OutputFolderBox()->SetSelection(0);
}

EndReport Convert(const std::function<void(ProgressWindow&)>& during, const std::string& picture) {
  EndReport report;
  bool during_done = false;
  wxTimer watcher;
  watcher.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    MainWindow* window = OpenMainWindow();
    ProgressWindow* progress = window ? window->Progress() : nullptr;
    if (!progress) return;
    if (during && !during_done && progress->Running()) {
      during_done = true;
      Snapshot(progress, "progress_during");
      during(*progress);
    }
    if (progress->OkButton()->IsEnabled() && report.range < 0) {
      report.title = progress->GetTitle().ToStdString();
      report.label = progress->FileLabel()->GetLabel().ToStdString();
      report.bar = progress->Bar()->GetValue();
      report.range = progress->Bar()->GetRange();
      if (progress->FailureList()->IsShown()) {
        report.failures = progress->FailureList()->GetValue().ToStdString();
      }
      if (progress->LeftOutList()->IsShown()) {
        report.left_out = progress->LeftOutList()->GetValue().ToStdString();
      }
      if (progress->CopyButton()->IsShown()) {
        wxCommandEvent copy(wxEVT_BUTTON, progress->CopyButton()->GetId());
        copy.SetEventObject(progress->CopyButton());
        progress->CopyButton()->GetEventHandler()->ProcessEvent(copy);
        wxTextDataObject text;
        if (wxTheClipboard->Open()) {
          if (wxTheClipboard->GetData(text)) report.copied = text.GetText().ToStdString();
          wxTheClipboard->Close();
        }
      }
      report.size = progress->GetClientSize();
      Snapshot(progress, picture);
      wxCommandEvent ok(wxEVT_BUTTON, wxID_OK);
      ok.SetEventObject(progress->OkButton());
      progress->OkButton()->GetEventHandler()->ProcessEvent(ok);
    }
  });
  watcher.Start(10);
  wxCommandEvent click(wxEVT_BUTTON, ConvertButtonId);
  click.SetEventObject(OpenMainWindow()->ConvertButton());
  OpenMainWindow()->ConvertButton()->GetEventHandler()->ProcessEvent(click);
  watcher.Stop();
  return report;
}

OpenerStub::OpenerStub(const TempDir& dir) : record_(dir.file("opened.txt")) {
  const std::string stub = dir.file("xdg-open");
  EXPECT_TRUE(WriteFileBytes(stub, "#!/bin/sh\necho \"$1\" >> '" + record_ + "'\n"));
  std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
  saved_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (dir.path().string() + ":" + saved_path_).c_str(), 1);
}

OpenerStub::~OpenerStub() { setenv("PATH", saved_path_.c_str(), 1); }

std::string OpenerStub::Opened() const { return ReadFileBytes(record_); }

bool OpenerStub::WaitForOpened(int count, int milliseconds) const {
  return PumpUntil(
      [&] {
        const std::string text = Opened();
        return std::count(text.begin(), text.end(), '\n') >= count;
      },
      milliseconds);
}

void WindowTest::SetUp() {
  // The settings file of each test lives in its own folder.
  setenv("XDG_CONFIG_HOME", dir_.folder().c_str(), 1);
  ResetSettings(session_.Settings(), false);
  session_.SetConfigPath({});
  // Each test starts from the pictures of a fresh start, whatever the one before did to them.
  LoadStartPictures(session_.Settings().interface);
  messages_.clear();
  auto services = std::make_unique<TestServices>();
  services->message = [this](MessageKind, const std::string&, const std::string& text) {
    messages_.push_back(text);
    return answer_;
  };
  services_ = services.get();
  session_.SetServices(std::move(services));
  Rebuild();
}

void WindowTest::Rebuild() {
  // A window closed by the test is gone already.
  if (OpenMainWindow()) {
    OpenMainWindow()->Destroy();
    Pump(20);
  }
  window_ = new MainWindow(session_);
  window_->Finish();
  Pump(100);
}

void WindowTest::TearDown() {
  if (OpenMainWindow()) {
    // Destroyed without the close path: a test that wants ShutDown closes the window itself.
    OpenMainWindow()->Destroy();
    Pump(20);
  }
  window_ = nullptr;
}

namespace {

class TestApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (the build does it) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  SetUpProcess();
  // A log box would wait for a person forever.
  wxApp::SetInstance(new TestApp);
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "no display for the window tests\n");
    return 1;
  }
  delete wxLog::SetActiveTarget(new wxLogStderr);
  wxTheApp->CallOnInit();
  ShowMenuPictures();
  BuildLanguageTable();
  ProgramSettings start;
  ResetSettings(start, false);
  LoadStartPictures(start.interface);
  const int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  return result;
}
