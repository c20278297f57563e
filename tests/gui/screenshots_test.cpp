// Pictures for the manual and for review: each menu open. Runs only when $QUORVIX_SCREENSHOTS
// names a folder (scripts/screenshots).

#include <wx/uiaction.h>

#include <cstdlib>

#include "gui/gtk_calls.h"
#include "tests/gui/window_harness.h"

TEST_F(WindowTest, MenusOpenForScreenshots) {
  const char* folder = std::getenv("QUORVIX_SCREENSHOTS");
  if (!folder || !*folder) GTEST_SKIP() << "no screenshot folder";
  window().Raise();
  Pump(200);
  const wxPoint origin = window().GetScreenPosition();
  // Where GTK puts the three titles of the menu bar, from the left.
  const std::vector<std::pair<int, std::string>> titles = {
      {18, "menu_file"}, {75, "menu_converter"}, {142, "menu_help"}};
  wxUIActionSimulator user;
  for (const auto& [x, name] : titles) {
    user.MouseMove(origin.x + x, origin.y + 12);
    Pump(50);
    user.MouseClick();
    Pump(400);
    EXPECT_TRUE(
        SaveScreenPicture(origin.x, origin.y, 420, 300, std::string(folder) + "/" + name + ".png"));
    user.Char(WXK_ESCAPE);
    Pump(200);
  }
}
