// What the main window makes of closed preferences: what to rebuild, which chosen list entries
// stay after Cancel.

#include "gui/preferences_outcome.h"

#include <gtest/gtest.h>

TEST(RebuildFor, AThemeChangeWinsOverASizeChange) {
  InterfaceSettings before;
  before.ui_theme = "handdrawn";
  before.ui_size = 2;
  InterfaceSettings after = before;
  EXPECT_EQ(RebuildFor(before, after), InterfaceRebuild::Nothing);
  after.ui_size = 0;
  EXPECT_EQ(RebuildFor(before, after), InterfaceRebuild::IconSize);
  after.ui_theme = "bright";
  EXPECT_EQ(RebuildFor(before, after), InterfaceRebuild::Theme);
  after.ui_size = before.ui_size;
  EXPECT_EQ(RebuildFor(before, after), InterfaceRebuild::Theme);
}

TEST(KeepChosenEntries, AppendsOnlyWhatTheListsLackInTheOrderChosen) {
  WatermarkSettings watermark;
  watermark.font_colors = "000000,FFFFFF";
  watermark.back_colors = "";
  watermark.fonts = "Arial";
  ChosenListEntries chosen;
  // "ffffff" is the same colour as "FFFFFF", whatever its spelling.
  chosen.font_colours = {"FF8000", "ffffff", "0A0B0C"};
  chosen.back_colours = {"123456"};
  chosen.fonts = {"DejaVu Sans", "Arial"};
  KeepChosenEntries(chosen, watermark);
  EXPECT_EQ(watermark.font_colors, "000000,FFFFFF,FF8000,0A0B0C");
  EXPECT_EQ(watermark.back_colors, "123456");
  EXPECT_EQ(watermark.fonts, "Arial,DejaVu Sans");
  // Kept twice (a second Cancel) changes nothing more.
  KeepChosenEntries(chosen, watermark);
  EXPECT_EQ(watermark.font_colors, "000000,FFFFFF,FF8000,0A0B0C");
  EXPECT_EQ(watermark.fonts, "Arial,DejaVu Sans");
}
