// Pictures of the preferences dialog, one a page, for review: runs only when $QUORVIX_SCREENSHOTS
// names a folder (scripts/screenshots).

#include <wx/choice.h>
#include <wx/scrolwin.h>

#include <cstdlib>

#include "gui/commands.h"
#include "gui/preferences_dialog.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"

namespace {

void SelectAndNotify(RowControls* row, int entry) {
  row->choice->SetSelection(entry);
  wxCommandEvent event(wxEVT_CHOICE, row->choice->GetId());
  event.SetEventObject(row->choice);
  event.SetInt(entry);
  row->choice->GetEventHandler()->ProcessEvent(event);
}

}  // namespace

TEST_F(WindowTest, PreferencesPagesForScreenshots) {
  const char* folder = std::getenv("QUORVIX_SCREENSHOTS");
  if (!folder || !*folder) GTEST_SKIP() << "no screenshot folder";
  settings().transform.do_image_rotation = 1;
  settings().transform.do_image_resize = 1;
  settings().frame.do_frame = 1;
  settings().watermark.do_watermark = 1;
  settings().watermark.font_colors += ",123456";
  SendCommand(CmdPreferences);
  Pump(200);
  ASSERT_NE(OpenMainWindow()->Preferences(), nullptr);
  PreferencesDialog& dialog = *OpenMainWindow()->Preferences();
  const char* names[PageCount] = {"general",    "interface", "input",     "output",  "transform",
                                  "adjustment", "frame",     "watermark", "advanced"};
  for (int page = 0; page < PageCount; ++page) {
    dialog.ShowPage(page);
    Snapshot(&dialog, std::string("preferences_") + names[page]);
  }
  // The text watermark panel scrolled to its end, then the image panel.
  dialog.ShowPage(PageWatermark);
  auto* text_panel = dynamic_cast<wxScrolledWindow*>(dialog.Panel(PageWatermark, "text"));
  ASSERT_NE(text_panel, nullptr);
  text_panel->Scroll(0, 1000);
  Snapshot(&dialog, "preferences_watermark_text_end");
  SelectAndNotify(dialog.FindRow("Watermark", "Do Watermark"), 2);
  Snapshot(&dialog, "preferences_watermark_image");
  // The transform page scrolled to its end.
  dialog.ShowPage(PageTransform);
  static_cast<wxScrolledWindow*>(dialog.PageContainer(PageTransform))->Scroll(0, 1000);
  Snapshot(&dialog, "preferences_transform_end");
  // The RAW input panel, as it shows when RAW is offered.
  dialog.ShowPage(PageInput);
  dialog.Panel(PageInput, "raw")->Show();
  SelectAndNotify(dialog.FindRow("Input", "RAW Load As"), 2);
  Snapshot(&dialog, "preferences_input_raw");
}
