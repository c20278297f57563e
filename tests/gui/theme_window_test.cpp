// The icon theme in the window: a pack's pictures replace the built-in ones slot by slot, the
// toolbar takes the "UI Size" pictures, and a rebuild after the preferences changed reloads them.

#include <wx/bmpbuttn.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/toolbar.h>

#include <algorithm>
#include <filesystem>

#include "core/program_identity.h"
#include "gui/commands.h"
#include "gui/pictures.h"
#include "gui/theme_pictures.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"
#include "tests/themes/theme_packs.h"
#include "themes/theme_pack.h"

namespace {

constexpr uint32_t Red = 0xFF0000FF;
constexpr uint32_t Green = 0x00FF00FF;
constexpr uint32_t Blue = 0x0000FFFF;

// The colour of the middle pixel, as 0xRRGGBB.
uint32_t MiddleColour(const wxBitmap& bitmap) {
  const wxImage image = bitmap.ConvertToImage();
  const int x = image.GetWidth() / 2;
  const int y = image.GetHeight() / 2;
  return (image.GetRed(x, y) << 16) | (image.GetGreen(x, y) << 8) | image.GetBlue(x, y);
}

wxBitmap ToolPicture(wxToolBar* toolbar, int id) {
  const wxToolBarToolBase* tool = toolbar ? toolbar->FindById(id) : nullptr;
  return tool ? tool->GetNormalBitmap() : wxBitmap();
}

// Themes in a program folder of the test's own; the start's pictures come back at the end.
class ThemeWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    saved_program_folder_ = g_process.program_folder;
    g_process.program_folder = dir_.folder();
    std::filesystem::create_directory(dir_.file("gfx"));
    WindowTest::SetUp();
  }
  void TearDown() override {
    WindowTest::TearDown();
    g_process.program_folder = saved_program_folder_;
    ResetSettings(settings(), false);
    LoadStartPictures(settings().interface);
  }

  void WritePack(const std::string& id, const std::vector<PackEntry>& entries) {
    ASSERT_TRUE(WriteFileBytes(dir_.file("gfx/" + id + ".zip"), MakeZip(entries)));
  }

 private:
  std::string saved_program_folder_;
};

}  // namespace

TEST(BitmapFromRgba, KeepsColourAndTransparency) {
  RgbaPicture picture{2, 1, {10, 20, 30, 255, 200, 100, 50, 0}};
  const wxImage image = BitmapFromRgba(picture).ConvertToImage();
  ASSERT_EQ(image.GetWidth(), 2);
  ASSERT_TRUE(image.HasAlpha());
  EXPECT_EQ(image.GetRed(0, 0), 10);
  EXPECT_EQ(image.GetBlue(0, 0), 30);
  EXPECT_EQ(image.GetAlpha(0, 0), 255);
  EXPECT_EQ(image.GetAlpha(1, 0), 0);
  picture.pixels.pop_back();
  EXPECT_FALSE(BitmapFromRgba(picture).IsOk());
  EXPECT_FALSE(BitmapFromRgba(RgbaPicture{}).IsOk());
}

TEST_F(ThemeWindowTest, ThemePicturesReplaceBuiltInOnesSlotBySlot) {
  WritePack(
      "bright",
      {{"theme.cfg", ThemeConfig({"[Theme]", "Name=Bright", "[Buttons]", "Convert = bigconvert.PNG",
                                  "[Icons]", "New=new", "Help=help", "Web=web"})},
       {"bigconvert.PNG", MakePng(40, 40, Green)},
       {"new_16.png", MakePng(16, 16, Red)},
       {"new_48.png", MakePng(48, 48, Blue)},
       {"help_16.png", MakePng(16, 16, Green)},
       {"web_16.png", "not a picture"}});
  const uint32_t built_in_web = MiddleColour(IconPicture(MenuIcons(), "Web"));
  const wxSize built_in_updates = IconPicture(ToolbarIcons(), "Updates").GetSize();
  settings().interface.ui_theme = "bright";
  settings().interface.ui_size = 3;
  ScanThemes();
  EXPECT_EQ(g_theme_list.names["bright"], "Bright");
  EXPECT_EQ(LoadThemePictures(settings().interface, true, true, true), 4);

  // "bigconvert.PNG" is an entry name as it stands; "new" asks for the size in the name.
  EXPECT_EQ(IconPicture(ButtonIcons(), "Convert").GetSize(), wxSize(40, 40));
  EXPECT_EQ(MiddleColour(IconPicture(ButtonIcons(), "Convert")), 0x00FF00u);
  EXPECT_EQ(IconPicture(MenuIcons(), "New").GetSize(), wxSize(16, 16));
  EXPECT_EQ(MiddleColour(IconPicture(MenuIcons(), "New")), 0xFF0000u);
  // "UI Size" 3 picks the 48-pixel entries for the toolbar only.
  EXPECT_EQ(IconPicture(ToolbarIcons(), "New").GetSize(), wxSize(48, 48));
  EXPECT_EQ(MiddleColour(IconPicture(ToolbarIcons(), "New")), 0x0000FFu);
  // "help_48.png" is missing and "web_16.png" undecodable: those keep their pictures.
  EXPECT_EQ(MiddleColour(IconPicture(MenuIcons(), "Web")), built_in_web);
  EXPECT_EQ(IconPicture(ToolbarIcons(), "Updates").GetSize(), built_in_updates);

  // The window built now shows the theme's pictures.
  Rebuild();
  EXPECT_EQ(window().ConvertButton()->GetBitmapLabel().GetSize(), wxSize(40, 40));
  EXPECT_EQ(MiddleColour(ToolPicture(window().GetToolBar(), CmdNew)), 0x0000FFu);
  EXPECT_EQ(MiddleColour(window().GetMenuBar()->FindItem(CmdNew)->GetBitmap()), 0xFF0000u);
  Snapshot(&window(), "theme_bright_48");
}

TEST_F(ThemeWindowTest, ADeletedThemeGivesWayToTheOneScannedLast) {
  WritePack("alpha", {{"theme.cfg", ThemeConfig({"[Icons]", "About=about"})},
                      {"about_16.png", MakePng(16, 16, Red)}});
  WritePack("beta", {{"theme.cfg", ThemeConfig({"[Icons]", "About=about"})},
                     {"about_16.png", MakePng(16, 16, Blue)}});
  settings().interface.ui_theme = "gone";
  ScanThemes();
  EXPECT_EQ(LoadThemePictures(settings().interface, false, true, false), 1);
  EXPECT_EQ(settings().interface.ui_theme, "beta");
  EXPECT_EQ(MiddleColour(IconPicture(MenuIcons(), "About")), 0x0000FFu);
}

TEST_F(ThemeWindowTest, RebuildAfterASizeChangeReloadsOnlyTheToolbar) {
  WritePack("sized", {{"theme.cfg", ThemeConfig({"[Icons]", "New=new", "Convert=go"})},
                      {"new_16.png", MakePng(16, 16, Red)},
                      {"new_24.png", MakePng(24, 24, Green)},
                      {"new_32.png", MakePng(32, 32, Blue)},
                      {"go_16.png", MakePng(16, 16, Red)},
                      {"go_24.png", MakePng(24, 24, Red)},
                      {"go_32.png", MakePng(32, 32, Red)}});
  settings().interface.ui_theme = "sized";
  settings().interface.ui_size = 2;
  ScanThemes();
  LoadThemePictures(settings().interface, true, true, true);
  Rebuild();
  EXPECT_EQ(window().GetToolBar()->GetToolBitmapSize(), wxSize(32, 32));
  EXPECT_EQ(MiddleColour(ToolPicture(window().GetToolBar(), CmdNew)), 0x0000FFu);

  settings().interface.ui_size = 1;
  window().RebuildInterface(InterfaceRebuild::IconSize);
  Pump(100);
  wxToolBar* toolbar = window().GetToolBar();
  EXPECT_EQ(toolbar->GetToolBitmapSize(), wxSize(24, 24));
  EXPECT_EQ(MiddleColour(ToolPicture(toolbar, CmdNew)), 0x00FF00u);
  // A name the theme lacks is drawn again at the new size.
  EXPECT_EQ(ToolPicture(toolbar, CmdManual).GetSize(), wxSize(24, 24));
  // The menu keeps its 16-pixel pictures.
  EXPECT_EQ(MiddleColour(IconPicture(MenuIcons(), "New")), 0xFF0000u);
  EXPECT_EQ(IconPicture(MenuIcons(), "New").GetSize(), wxSize(16, 16));
}

TEST_F(ThemeWindowTest, ThemeChangeKeepsThePreviousThemesPictureWhereTheNewOneHasNone) {
  WritePack("first", {{"theme.cfg", ThemeConfig({"[Icons]", "Updates=up", "New=new"})},
                      {"up_16.png", MakePng(16, 16, Red)},
                      {"new_16.png", MakePng(16, 16, Red)}});
  WritePack("second", {{"theme.cfg", ThemeConfig({"[Icons]", "New=new"})},
                       {"new_16.png", MakePng(16, 16, Blue)}});
  settings().interface.ui_theme = "first";
  ScanThemes();
  LoadThemePictures(settings().interface, true, true, true);
  Rebuild();

  settings().interface.ui_theme = "second";
  window().RebuildInterface(InterfaceRebuild::Theme);
  Pump(100);
  EXPECT_EQ(MiddleColour(window().GetMenuBar()->FindItem(CmdNew)->GetBitmap()), 0x0000FFu);
  EXPECT_EQ(MiddleColour(window().GetMenuBar()->FindItem(CmdCheckForUpdates)->GetBitmap()),
            0xFF0000u);
}

TEST_F(WindowTest, DefaultThemeToolbarInEveryUiSize) {
  // The default pack lies beside the test program's real program.
  const std::string saved = g_process.program_folder;
  g_process.program_folder = std::string(QUORVIX_BIN_DIR) + "/";
  ScanThemes();
  ASSERT_EQ(g_theme_list.names.count("handdrawn"), 1u);
  for (int ui_size = 0; ui_size <= 4; ++ui_size) {
    settings().interface.ui_theme = "handdrawn";
    settings().interface.ui_size = ui_size;
    LoadBuiltInPictures(ThemePictureSize(ui_size));
    LoadThemePictures(settings().interface, true, true, true);
    Rebuild();
    const int side = ThemePictureSize(ui_size);
    EXPECT_EQ(window().GetToolBar()->GetToolBitmapSize(), wxSize(side, side));
    EXPECT_EQ(ToolPicture(window().GetToolBar(), CmdConvert).GetSize(), wxSize(side, side));
    // Wide enough for the whole toolbar, which GTK otherwise folds behind an arrow.
    window().SetClientSize(std::max(510, 12 * (side + 12)), window().GetClientSize().GetHeight());
    Snapshot(&window(), "toolbar_ui_size_" + std::to_string(ui_size));
  }
  g_process.program_folder = saved;
  ResetSettings(settings(), false);
  LoadStartPictures(settings().interface);
}
