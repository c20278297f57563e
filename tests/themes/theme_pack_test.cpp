#include "themes/theme_pack.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "settings/program_settings.h"
#include "platform/system.h"
#include "tests/support/temp_dir.h"
#include "tests/themes/theme_packs.h"

namespace {

constexpr uint32_t Red = 0xFF0000FF;
constexpr uint32_t Blue = 0x0000FFFF;
constexpr uint32_t Green = 0x00FF00FF;

const ThemeIconNames Names = {
    {"Convert", "InFiles"}, {"New", "Add", "Updates"}, {"New", "Add", "Updates"}};

// The colour of a picture's first pixel as 0xRRGGBBAA.
uint32_t FirstPixel(const RgbaPicture& picture) {
  const auto& p = picture.pixels;
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

class ThemeFolderTest : public ::testing::Test {
 protected:
  void AddPack(const std::string& id, const std::vector<PackEntry>& entries) {
    ASSERT_TRUE(WriteFileBytes(ThemePackPath(dir.folder(), id), MakeZip(entries)));
  }

  ThemePictures Load(bool buttons, bool menu, bool toolbar) {
    return LoadTheme(Names, buttons, menu, toolbar, interface, ScanThemes(dir.folder()),
                     dir.folder());
  }

  TempDir dir;
  InterfaceSettings interface;
};

TEST(GetThemeValue, FindsKeysAtLineStartsWithinTheirSection) {
  const std::string text =
      ThemeConfig({"[Theme]", "Name = Hand drawn", "[icons]", "AddFolder=addfolder", "Add=add",
                   "new =\tnew\t", "Web = a=b", "[Buttons]", "Convert=big.png"});
  EXPECT_EQ(GetThemeValue(text, "theme", "NAME"), "Hand drawn");
  EXPECT_EQ(GetThemeValue(text, "Icons", "Add"), "addfolder") << "first line starting with it";
  EXPECT_EQ(GetThemeValue(text, "Icons", "New"), "new");
  EXPECT_EQ(GetThemeValue(text, "Icons", "Web"), "a") << "cut at a second '='";
  EXPECT_EQ(GetThemeValue(text, "Icons", "Convert"), "") << "belongs to a later section";
  EXPECT_EQ(GetThemeValue(text, "Buttons", "Convert"), "big.png") << "last line, last section";
  EXPECT_EQ(GetThemeValue(text, "Missing", "Name"), "");
  EXPECT_EQ(GetThemeValue("[Icons]\nNew=new\n", "Icons", "New"), "") << "lines end in CR LF";
}

TEST(ThemeEntryName, PngNamesStandOthersGetTheSize) {
  EXPECT_EQ(ThemeEntryName("bigconvert.PNG", 16), "bigconvert.PNG");
  EXPECT_EQ(ThemeEntryName("convert", 16), "convert_16.png");
  EXPECT_EQ(ThemeEntryName("convert", 48), "convert_48.png");
  EXPECT_EQ(ThemePictureSize(3), 48);
  EXPECT_EQ(ThemePictureSize(7), 16);
}

TEST_F(ThemeFolderTest, ScanListsZipPacksWithTheNameFromTheFirst255Bytes) {
  AddPack("alpha", {{"theme.cfg", ThemeConfig({"[Theme]", "Name=Alpha"})}});
  // The name line lies beyond byte 255: listed with an empty name.
  AddPack("beta", {{"theme.cfg", ThemeConfig({std::string(300, ';'), "[Theme]", "Name=Beta"})}});
  AddPack("gamma", {{"other.txt", "x"}});
  ASSERT_TRUE(WriteFileBytes(dir.file("empty.zip"), ""));
  ASSERT_TRUE(WriteFileBytes(dir.file("broken.zip"), "PK\3\4 not really a zip"));
  ASSERT_TRUE(WriteFileBytes(dir.file("notes.txt"), "not a theme"));
  std::filesystem::create_directory(dir.file("folder.zip"));

  const ThemeList themes = ScanThemes(dir.folder());
  const std::map<std::string, std::string> expected = {
      {"alpha", "Alpha"}, {"beta", ""}, {"broken", ""}, {"empty", ""}, {"gamma", ""}};
  EXPECT_EQ(themes.names, expected);
  EXPECT_EQ(themes.last_scanned, "gamma");
  EXPECT_TRUE(ScanThemes(dir.file("missing") + "/").names.empty());
}

TEST_F(ThemeFolderTest, FlagsAndUiSizeChooseMapsAndEntries) {
  AddPack("handdrawn",
          {{"theme.cfg", ThemeConfig({"[Theme]", "Name=Hand", "[Buttons]", "Convert=bigconvert.PNG",
                                      "InFiles=infiles", "[Icons]", "New=new", "Add=add"})},
           {"bigconvert.PNG", MakePng(20, 20, Green)},
           {"infiles_16.png", MakePng(16, 16, Blue)},
           {"new_16.png", MakePng(16, 16, Red)},
           {"new_48.png", MakePng(48, 48, Blue)},
           {"add_16.png", MakePng(16, 16, Red)}});
  interface.ui_theme = "handdrawn";
  interface.ui_size = ToValue(UiSize::ExtraLarge);

  const ThemePictures all = Load(true, true, true);
  ASSERT_EQ(all.buttons.size(), 2u);
  EXPECT_EQ(all.buttons.at("Convert").width, 20) << "used as it stands, at the PNG's own size";
  EXPECT_EQ(FirstPixel(all.buttons.at("Convert")), Green);
  EXPECT_EQ(FirstPixel(all.buttons.at("InFiles")), Blue);
  EXPECT_EQ(all.menu.at("New").width, 16);
  EXPECT_EQ(FirstPixel(all.menu.at("New")), Red);
  EXPECT_EQ(all.toolbar.at("New").width, 48);
  EXPECT_EQ(FirstPixel(all.toolbar.at("New")), Blue);
  EXPECT_EQ(all.toolbar.count("Add"), 0u) << "add_48.png is missing: the old picture stays";
  EXPECT_EQ(all.menu.count("Updates"), 0u) << "not named by the theme";

  const ThemePictures toolbar_only = Load(false, false, true);
  EXPECT_TRUE(toolbar_only.buttons.empty());
  EXPECT_TRUE(toolbar_only.menu.empty());
  EXPECT_EQ(toolbar_only.toolbar.size(), 1u);
}

TEST_F(ThemeFolderTest, DeletedActiveThemeFallsBackToTheLastScanned) {
  const std::string config = ThemeConfig({"[Icons]", "New=new"});
  AddPack("alpha", {{"theme.cfg", config}, {"new_16.png", MakePng(16, 16, Red)}});
  AddPack("beta", {{"theme.cfg", config}, {"new_16.png", MakePng(16, 16, Blue)}});
  interface.ui_theme = "deleted";

  const ThemePictures pictures = Load(false, true, false);
  EXPECT_EQ(interface.ui_theme, "beta");
  ASSERT_EQ(pictures.menu.count("New"), 1u);
  EXPECT_EQ(FirstPixel(pictures.menu.at("New")), Blue);
}

TEST_F(ThemeFolderTest, NoPacksLeaveThemeAndPicturesAlone) {
  interface.ui_theme = "deleted";
  const ThemePictures pictures = Load(true, true, true);
  EXPECT_EQ(interface.ui_theme, "deleted");
  EXPECT_TRUE(pictures.menu.empty());
}

TEST_F(ThemeFolderTest, HostileEntriesHarmNothing) {
  std::string bomb(4 * MaxThemeEntryBytes, '\0');  // deflates to a few KiB
  std::string oversized(MaxThemeEntryBytes + 1, 'x');
  std::string damaged = MakePng(16, 16, Red);
  damaged[damaged.size() / 2] ^= 0x55;
  AddPack("hostile",
          {{"theme.cfg", ThemeConfig({"[Icons]", "New=../escape", "Add=bomb", "Updates=big",
                                      "[Buttons]", "Convert=damaged", "InFiles=oversized"})},
           {"../escape_16.png", MakePng(16, 16, Red)},
           {"bomb_16.png", bomb},
           {"big_16.png", MakePng(MaxThemePictureSide + 1, 8, Red)},
           {"damaged_16.png", damaged},
           {"oversized_16.png", oversized}});
  bomb.clear();
  interface.ui_theme = "hostile";

  const ThemePictures pictures = Load(true, true, true);
  EXPECT_EQ(pictures.menu.count("New"), 1u) << "an odd name is only a name: nothing is written";
  EXPECT_FALSE(std::filesystem::exists(dir.path().parent_path() / "escape_16.png"));
  EXPECT_EQ(pictures.menu.count("Add"), 0u);
  EXPECT_EQ(pictures.menu.count("Updates"), 0u);
  EXPECT_TRUE(pictures.buttons.empty()) << "undecodable and oversized entries keep the old";
}

TEST(ReadThemePictures, DamagedOrCutPacksGiveNothing) {
  const std::string pack = MakeZip(
      {{"theme.cfg", ThemeConfig({"[Icons]", "New=new"})}, {"new_16.png", MakePng(16, 16, Red)}});
  const ThemeRequest request{true, true, true, 16};
  auto read = [&](const std::string& bytes) {
    return ReadThemePictures(
        std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), Names, request);
  };
  EXPECT_EQ(read(pack).menu.size(), 1u);
  EXPECT_TRUE(read("").menu.empty());
  EXPECT_TRUE(read(pack.substr(0, 10)).menu.empty());
  // A cut central directory may still leave whole entries readable; it must do no more.
  for (size_t cut = 20; cut < pack.size(); cut += 97) read(pack.substr(0, cut));
  std::string scrambled = pack;
  for (size_t i = 40; i < scrambled.size(); i += 7) scrambled[i] = static_cast<char>(i);
  read(scrambled);  // any result, no crash
}

// Sets the uncompressed size that the local and central headers of entry `name` claim; the
// number of headers changed.
int ClaimSize(std::string& zip, const std::string& name, uint32_t size) {
  const std::string bytes(reinterpret_cast<const char*>(&size), 4);  // little-endian host
  int changed = 0;
  for (size_t at = zip.find(name); at != std::string::npos; at = zip.find(name, at + 1)) {
    if (at >= 30 && zip.compare(at - 30, 4, "PK\3\4") == 0) {
      zip.replace(at - 30 + 22, 4, bytes);
      ++changed;
    }
    if (at >= 46 && zip.compare(at - 46, 4, "PK\1\2") == 0) {
      zip.replace(at - 46 + 24, 4, bytes);
      ++changed;
    }
  }
  return changed;
}

TEST(ReadThemePictures, AnEntryThatUnderstatesItsSizeIsCutAtTheBound) {
  std::string pack = MakeZip({{"theme.cfg", ThemeConfig({"[Icons]", "New=liar", "Add=add"})},
                              {"liar_16.png", std::string(4 * MaxThemeEntryBytes, '\0')},
                              {"add_16.png", MakePng(16, 16, Red)}});
  ASSERT_EQ(ClaimSize(pack, "liar_16.png", 100), 2);
  const ThemeRequest request{false, true, false, 16};
  const ThemePictures pictures = ReadThemePictures(
      std::span(reinterpret_cast<const uint8_t*>(pack.data()), pack.size()), Names, request);
  EXPECT_EQ(pictures.menu.count("New"), 0u);
  EXPECT_EQ(pictures.menu.count("Add"), 1u) << "the entries after it still read";
}

TEST(ReadThemePictures, EntriesBeyondTheBoundAreNotLookedAt) {
  std::vector<PackEntry> entries = {{"theme.cfg", ThemeConfig({"[Icons]", "New=new", "Add=add"})},
                                    {"add_16.png", MakePng(16, 16, Red)}};
  for (size_t i = entries.size(); i < MaxThemeEntries; ++i)
    entries.push_back({std::to_string(i), "x"});
  entries.push_back({"new_16.png", MakePng(16, 16, Red)});
  const std::string pack = MakeZip(entries);
  const ThemePictures pictures =
      ReadThemePictures(std::span(reinterpret_cast<const uint8_t*>(pack.data()), pack.size()),
                        Names, {false, true, false, 16});
  EXPECT_EQ(pictures.menu.count("Add"), 1u);
  EXPECT_EQ(pictures.menu.count("New"), 0u);
}

TEST(DecodeThemePicture, ChecksTheHeaderBeforeDecoding) {
  const std::string at_limit = MakePng(MaxThemePictureSide, 2, Red);
  const std::string too_high = MakePng(2, MaxThemePictureSide + 1, Red);
  auto bytes = [](const std::string& text) {
    return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  const auto picture = DecodeThemePicture(bytes(at_limit));
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->pixels.size(), size_t{MaxThemePictureSide} * 2 * 4);
  EXPECT_FALSE(DecodeThemePicture(bytes(too_high)));
  EXPECT_FALSE(DecodeThemePicture(bytes("")));
}

}  // namespace

namespace {

// The pack the build draws: every icon name of the three maps, at every toolbar size.
TEST(DefaultThemePack, SuppliesEveryIconAtEverySize) {
  const std::string folder = std::string(QUORVIX_BIN_DIR) + "/gfx/";
  EXPECT_EQ(ReadThemeName(folder, "handdrawn"), "Hand Drawn");
  const std::vector<std::string> menu = {"New",
                                         "Add",
                                         "InFiles",
                                         "InFolder",
                                         "OutFolder",
                                         "OutFormat",
                                         "FavFolder",
                                         "ImportFiles",
                                         "ExportFiles",
                                         "Exit",
                                         "Copy",
                                         "Delete",
                                         "SelectAll",
                                         "Convert",
                                         "Error",
                                         "Preferences",
                                         "CustomConverter",
                                         "Help",
                                         "Email",
                                         "Web",
                                         "Updates",
                                         "About"};
  const ThemeIconNames names = {{"Convert", "InFiles", "InFolder"}, menu, menu};
  for (int32_t ui_size = 0; ui_size <= 4; ++ui_size) {
    InterfaceSettings interface;
    interface.ui_size = ui_size;
    const ThemePictures pictures =
        LoadTheme(names, true, true, true, interface, ScanThemes(folder), folder);
    const int32_t size = ThemePictureSize(ui_size);
    EXPECT_EQ(pictures.buttons.size(), 3u);
    EXPECT_EQ(pictures.menu.size(), menu.size());
    ASSERT_EQ(pictures.toolbar.size(), menu.size()) << "UI Size " << ui_size;
    for (const auto& [name, picture] : pictures.toolbar) {
      EXPECT_EQ(picture.width, size) << name;
      EXPECT_EQ(picture.height, size) << name;
    }
    EXPECT_EQ(pictures.menu.at("Web").width, 16);
    // The big Convert button gets the pack's largest picture, named whole.
    EXPECT_EQ(pictures.buttons.at("Convert").width, 64);
    EXPECT_EQ(pictures.buttons.at("InFiles").width, 48);
  }
}

}  // namespace

namespace {

// The package check unpacks the package into a temporary root and runs this test against it, so
// the installed program's own lookup is what finds the themes.
TEST(InstalledLayout, ThemesFoundBelowTheInstalledProgram) {
  const char* root = std::getenv("QUORVIX_INSTALLED_ROOT");
  if (!root || !*root) GTEST_SKIP() << "no unpacked package given (QUORVIX_INSTALLED_ROOT)";
  const std::string bin = std::string(root) + "/usr/bin/";
  const ProgramPaths paths = ProgramPathsOf(bin);
  EXPECT_NE(paths.helper_folder, bin) << "the unpacked tree is not an installed layout";
  const ThemeList themes = ScanThemes(ThemeFolder(paths.data_folder));
  ASSERT_EQ(themes.names.count("handdrawn"), 1u);
  EXPECT_EQ(themes.names.at("handdrawn"), "Hand Drawn");
}

}  // namespace
