// The end of a window run: the window's place reaches config.ini, "Clean on Exit" empties the
// history, and a hostile config.ini still gives a usable window.

#include <wx/bmpcbox.h>
#include <wx/display.h>

#include "config/settings_file.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"

TEST_F(WindowTest, ClosingStoresThePlaceAndEmptiesTheHistoryWhenAsked) {
  session_.SetConfigPath(BuildConfigFilePath());
  settings().advanced.out_folders_history = ToValue(FolderHistory::CleanOnExit);
  settings().file.recent_out_folders = "/kept/\t/also/";
  window().SetClientSize(640, window().GetClientSize().GetHeight());
  window().Move(120, 90);
  Pump(100);
  const wxPoint place = window().GetPosition();
  window().Close();
  Pump(100);

  ProgramSettings saved;
  ASSERT_TRUE(LoadSettings(saved, g_process.config_file_path));
  EXPECT_EQ(saved.window.width, 640);
  EXPECT_EQ(saved.window.height, MainWindow::FixedHeight);
  EXPECT_EQ(saved.window.x, place.x);
  EXPECT_EQ(saved.window.y, place.y);
  EXPECT_EQ(saved.window.is_maximized, 0);
  EXPECT_EQ(saved.file.recent_out_folders, "");
}

TEST_F(WindowTest, HostileSettingsStillGiveAUsableWindow) {
  const wxRect screen = wxDisplay(0u).GetClientArea();
  std::string history;
  for (int i = 0; i < 10000; ++i) history += "/folder/" + std::to_string(i) + "/\t";
  for (const auto& [x, y, width] : std::vector<std::tuple<int, int, int>>{
           {-50000, -50000, -20}, {90000, 90000, 2000000}, {0, 0, 0}}) {
    settings().window.x = x;
    settings().window.y = y;
    settings().window.width = width;
    settings().window.height = -7;
    settings().file.recent_out_folders = history;
    Rebuild();
    const wxRect place = window().GetScreenRect();
    EXPECT_TRUE(screen.Contains(place.GetTopLeft())) << x << "," << y;
    EXPECT_GE(window().GetClientSize().GetWidth(), MainWindow::MinimumWidth);
    EXPECT_LE(window().GetClientSize().GetWidth(), std::max(screen.width, 510));
    EXPECT_EQ(window().InnerSize().GetHeight(), MainWindow::FixedHeight);
    EXPECT_EQ(window().OutputFolderBox()->GetCount(),
              static_cast<unsigned>(settings().advanced.out_folders_number));
  }
}
