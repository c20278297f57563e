#include "gui/window_run.h"

#include <wx/app.h>
#include <wx/display.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <cstdlib>
#include <filesystem>

#include "config/settings_file.h"
#include "core/conversion_job.h"
#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/main_window.h"
#include "gui/pictures.h"
#include "gui/screenshot_mode.h"
#include "gui/theme_pictures.h"
#include "gui/uninstall_page.h"
#include "gui/update_window.h"
#include "gui/window_session.h"
#include "platform/console.h"
#include "platform/end_request.h"
#include "platform/system.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"
#include "themes/theme_pack.h"

namespace {

bool HasDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

// The pictures of every mode that shows the main window: built-in ones, then the active theme's.
void LoadPictures(InterfaceSettings& interface) {
  LoadBuiltInPictures(ThemePictureSize(interface.ui_size));
  ScanThemes();
  LoadThemePictures(interface, true, true, true);
}

class WindowApp : public wxApp {
 public:
  WindowApp(WindowRunMode mode, std::string folder) : mode_(mode), folder_(std::move(folder)) {
    // The screenshots show the settings of a fresh start, never the user's own.
    ResetSettings(session_.Settings(), mode == WindowRunMode::Screenshots);
  }

  int ExitStatus() const { return exit_status_; }

  bool OnInit() override {
    // A log box is modal and would block a run nobody watches: messages go to standard error.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    // GTK hides menu pictures unless asked to show them.
    ShowMenuPictures();
    const wxRect screen = wxDisplay(0u).GetGeometry();
    SetPrimaryDesktopSize({screen.width, screen.height});
    switch (mode_) {
      case WindowRunMode::Screenshots:
        return StartScreenshots();
      case WindowRunMode::Uninstall:
        BuildLanguageTable();
        SetTopWindow(new UninstallPage);
        return true;
      case WindowRunMode::Main:
        break;
    }
    // A polite end (logout, kill) closes the window as the user would: a run in work is asked
    // first, and the settings are written. The handler only raises a flag the loop looks at.
    WatchEndRequests();
    end_watch_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      // A box waiting for its answer owns the window until it has one; the end comes after.
      if (session_.HasServices() && session_.Services().MessageShown()) return;
      if (!TakeEndRequest() || !window_) return;
      if (window_->RunInWork()) {
        window_->RequestBreakOfRun();
      } else {
        window_->Close();
      }
    });
    end_watch_.Start(EndWatchMilliseconds);

    session_.SetConfigPath(BuildConfigFilePath());
    session_.LoadSettings();
    BuildLanguageTable();
    LoadPictures(session_.Settings().interface);
    window_ = new MainWindow(session_);
    SetTopWindow(window_);
    window_->Finish();
    // Asked once the window is on the screen, so the question has its owner visible.
    CallAfter([this] {
      if (window_) RunAutomaticUpdateCheckFromWindow(*window_);
    });
    return true;
  }

  int OnExit() override {
    end_watch_.Stop();
    return wxApp::OnExit();
  }

 private:
  bool StartScreenshots() {
    BuildLanguageTable();
    LoadPictures(session_.Settings().interface);
    StartScreenshotMode(session_, folder_, [this](bool saved) {
      if (!saved) {
        WriteErrorLine("Error: Cannot save the screenshots in " + folder_);
        exit_status_ = ExitNoScreenshots;
      }
      ExitMainLoop();
    });
    return true;
  }

  static constexpr int EndWatchMilliseconds = 100;
  WindowRunMode mode_;
  std::string folder_;
  // Outlives the main window, which shows it.
  WindowSession session_;
  wxWeakRef<MainWindow> window_;
  int exit_status_ = 0;
  wxTimer end_watch_;
};

}  // namespace

int RunWindowInterface(int argc, char** argv, WindowRunMode mode,
                       const std::string& screenshot_folder) {
  if (!HasDisplay()) {
    WriteErrorLine(mode == WindowRunMode::Main
                       ? "Error: No display for the window; use -i FILE to convert on the "
                         "command line"
                       : "Error: No display to show the window on");
    return ExitNoWindow;
  }
  std::string folder = screenshot_folder;
  if (mode == WindowRunMode::Screenshots) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    std::error_code error;
    // Saying nothing would leave a script believing its pictures were taken.
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
      WriteErrorLine("Error: Invalid screenshot folder");
      return ExitNoScreenshots;
    }
  }
  // GDK probes GLX for its visuals when it opens the display, which starts the whole OpenGL
  // driver (on a machine without a GPU, a software renderer): about a third of the start-up. The
  // window draws with Cairo only. A user's own GDK_GL stays as it is, and ours is gone again
  // once GDK has read it, so programs opened from the window do not inherit it.
  const bool own_gdk_gl = std::getenv("GDK_GL") == nullptr;
  if (own_gdk_gl) setenv("GDK_GL", "disable", 1);
  // GTK's overlay scroll bars stay hidden until the pointer finds them, so a page taller than
  // its room looks cut off; the classic ones show that there is more. A user's own choice stays.
  setenv("GTK_OVERLAY_SCROLLING", "0", 0);
  auto* app = new WindowApp(mode, folder);
  wxApp::SetInstance(app);
  const bool started = wxEntryStart(argc, argv);
  if (own_gdk_gl) unsetenv("GDK_GL");
  if (!started) {
    WriteErrorLine("Error: Cannot open the display for the window");
    return ExitNoWindow;
  }
  if (!wxTheApp->CallOnInit()) {
    wxEntryCleanup();
    return ExitNoWindow;
  }
  wxTheApp->OnRun();
  const int status = app->ExitStatus();
  wxEntryCleanup();
  return status;
}
