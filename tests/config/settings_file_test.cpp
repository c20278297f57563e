#include "config/settings_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <variant>

#include "config/config_file.h"
#include "platform/system.h"
#include "tests/config/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string Mark = "\xEF\xBB\xBF";

// Restores the process-wide state and the environment a test changes.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_process_ = g_process;
    saved_settings_ = g_settings;
    saved_desktop_ = PrimaryDesktopSize();
    SaveVariable("XDG_CONFIG_HOME", saved_xdg_);
    SaveVariable("HOME", saved_home_);
  }
  void TearDown() override {
    g_process = saved_process_;
    g_settings = saved_settings_;
    SetPrimaryDesktopSize(saved_desktop_);
    RestoreVariable("XDG_CONFIG_HOME", saved_xdg_);
    RestoreVariable("HOME", saved_home_);
  }

  std::string Path() const { return dir_.file("config.ini"); }

  // Loads `content` written as the file and returns the record read from it.
  ProgramSettings LoadFrom(const std::string& content) {
    EXPECT_TRUE(WriteFileBytes(Path(), content));
    ProgramSettings settings;
    EXPECT_TRUE(LoadSettings(settings, Path()));
    return settings;
  }

  TempDir dir_;

 private:
  static void SaveVariable(const char* name, std::optional<std::string>& slot) {
    if (const char* value = std::getenv(name)) slot = value;
  }
  static void RestoreVariable(const char* name, const std::optional<std::string>& slot) {
    if (slot) {
      setenv(name, slot->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  ProcessState saved_process_;
  ProgramSettings saved_settings_;
  DesktopSize saved_desktop_;
  std::optional<std::string> saved_xdg_;
  std::optional<std::string> saved_home_;
};

// A record whose every field holds a value unlike its default (no zero, no empty text).
ProgramSettings DistinctSettings() {
  ProgramSettings settings;
  int n = 1;
  for (const SettingField& field : SettingFields()) {
    const SettingRef ref = field.locate(settings);
    std::visit(
        [&](auto* value) {
          using T = std::remove_pointer_t<decltype(value)>;
          if constexpr (std::is_same_v<T, std::string>) {
            *value = "v" + std::to_string(n) + " \xC3\xA9 mid\tdle";
          } else if constexpr (std::is_same_v<T, float>) {
            *value = -0.25f * static_cast<float>(n);
          } else if constexpr (std::is_same_v<T, int64_t>) {
            *value = 5'000'000'000LL + n;  // past 2038
          } else if constexpr (std::is_same_v<T, int8_t>) {
            *value = static_cast<int8_t>((n % 2 ? -1 : 1) * (n % 100 + 1));
          } else {
            *value = n % 2 ? -100000 * n : 100000 * n;
          }
        },
        ref);
    ++n;
  }
  settings.general.save_window_position = 1;
  return settings;
}

// Each field as text, so that two records compare field by field with the key in the message.
std::string FieldText(ProgramSettings& settings, const SettingField& field) {
  return std::visit(
      [](auto* value) -> std::string {
        using T = std::remove_pointer_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return *value;
        } else {
          return std::to_string(*value);
        }
      },
      field.locate(settings));
}

std::string DefaultWatermarkAndAfter() {
  return "[Watermark]\r\n"
         "Do Watermark = 0\r\n"
         "Text = " +
         std::string(NoticeText) +
         "\r\n"
         "Fonts = Arial,Tahoma,Verdana\r\n"
         "Font = Arial\r\n"
         "Font Size = 14\r\n"
         "Font Leading = 0\r\n"
         "Font Colors = 000000,FFFFFF,FF0000,FF8000,FFFF00,008000,00FFFF,0000FF,8000FF\r\n"
         "Font Color = FFFFFF\r\n"
         "Font Style = 0\r\n"
         "Font Effect = 0\r\n"
         "Text Antialiasing = 0\r\n"
         "Text Alignment = 0\r\n"
         "Text Padding = 0\r\n"
         "Text Opacity = 255\r\n"
         "Back Colors = 000000,FFFFFF,FF0000,FF8000,FFFF00,008000,00FFFF,0000FF,8000FF\r\n"
         "Back Color = 000000\r\n"
         "Back Opacity = 1\r\n"
         "Text Boundary = 0\r\n"
         "Text Position = 8\r\n"
         "Text X Offset = 10\r\n"
         "Text Y Offset = 10\r\n"
         "Text Rotation = 0\r\n"
         "Text Size = 0\r\n"
         "Text Scale = 10\r\n"
         "Image = \r\n"
         "Image Greyscale = 0\r\n"
         "Image Opacity = 255\r\n"
         "Image Boundary = 0\r\n"
         "Image Position = 8\r\n"
         "Image X Offset = 10\r\n"
         "Image Y Offset = 10\r\n"
         "Image Rotation = 0\r\n"
         "Image Size = 0\r\n"
         "Image Scale = 10\r\n"
         "; \r\n"
         "[Advanced]\r\n"
         "Filename Mask = %filename%.%ext%\r\n"
         "File Timestamp = 0\r\n"
         "Custom Timestamp = 1700000001\r\n"
         "Out Folders History = 1\r\n"
         "Out Folders Number = 5\r\n"
         "Keep Subfolders = 1\r\n"
         "Include Subfolders = 0\r\n"
         "; \r\n"
         "[File]\r\n"
         "Recent Out Folders = C:/a\tC:/b\r\n"
         "Recent Files = \r\n"
         "; \r\n"
         "[Privacy]\r\n"
         "Clean Recent Files = 0\r\n"
         "; \r\n";
}

}  // namespace

TEST_F(SettingsFileTest, SavedFileHasTheExactBytes) {
  ProgramSettings settings;
  settings.general.cfg = 5;  // always written as the current layout
  settings.general.update_date = 1700000000;
  settings.advanced.custom_timestamp = 1700000001;
  settings.window.x = -20;
  settings.adjustment.image_gamma = 2.5f;
  settings.output.png_interlaced = -1;
  settings.file.recent_out_folders = "C:/a\tC:/b";
  ASSERT_TRUE(SaveSettings(settings, Path()));

  const std::string expected = Mark +
                               "\r\n"
                               "[General]\r\n"
                               "CFG = 17\r\n"
                               "Language = en\r\n"
                               "Update Range = 2\r\n"
                               "Update Date = 1700000000\r\n"
                               "Save Window Position = 1\r\n"
                               "; \r\n"
                               "[Window]\r\n"
                               "IsMaximized = 0\r\n"
                               "Width = 510\r\n"
                               "Height = 260\r\n"
                               "X = -20\r\n"
                               "Y = 100\r\n"
                               "; \r\n"
                               "[Interface]\r\n"
                               "UI Theme = handdrawn\r\n"
                               "UI Size = 2\r\n"
                               "; \r\n"
                               "[Input]\r\n"
                               "Format = psd\r\n"
                               "Rebuild From Layers = 0\r\n"
                               "; \r\n"
                               "[Output]\r\n"
                               "Format = png\r\n"
                               "PNG BPP = 0\r\n"
                               "PNG Compression = 0\r\n"
                               "PNG Interlaced = -1\r\n"
                               "Keep ICC Profile = 0\r\n"
                               "; \r\n"
                               "[Transform]\r\n"
                               "Do Image Rotation = 0\r\n"
                               "Image Rotation Type = 0\r\n"
                               "Image Rotation = 0\r\n"
                               "Image Rotation Back Color = 000000\r\n"
                               "Do Image Resize = 0\r\n"
                               "Image Width = 0\r\n"
                               "Image Width Unit = 0\r\n"
                               "Image Height = 0\r\n"
                               "Image Height Unit = 0\r\n"
                               "Keep Aspect Ratio = 1\r\n"
                               "Image Resize Type = 0\r\n"
                               "Image Resize Algorithm = 3\r\n"
                               "Do Image Flip Horizontal = 0\r\n"
                               "Do Image Flip Vertical = 0\r\n"
                               "; \r\n"
                               "[Adjustment]\r\n"
                               "Do Image Color Correction = 0\r\n"
                               "Image Brightness = 0\r\n"
                               "Image Contrast = 0\r\n"
                               "Image Gamma = 2.500000\r\n"
                               "Image Invert = 0\r\n"
                               "Do Image Greyscale = 0\r\n"
                               "Do Image Threshold = 0\r\n"
                               "Image Threshold = 0\r\n"
                               "; \r\n"
                               "[Frame]\r\n"
                               "Do Frame = 0\r\n"
                               "Solid Left = 0\r\n"
                               "Solid Right = 0\r\n"
                               "Solid Top = 0\r\n"
                               "Solid Bottom = 0\r\n"
                               "Solid Left Color = 000000\r\n"
                               "Solid Right Color = 000000\r\n"
                               "Solid Top Color = 000000\r\n"
                               "Solid Bottom Color = 000000\r\n"
                               "Solid Opacity = 255\r\n"
                               "; \r\n" +
                               DefaultWatermarkAndAfter();
  const std::string saved = ReadFileBytes(Path());
  EXPECT_EQ(saved.substr(0, 7), "\xEF\xBB\xBF\r\n[G");
  EXPECT_EQ(saved, expected);

  // Without "Save Window Position" the group stays, empty but for its closing comment.
  settings.general.save_window_position = 0;
  ASSERT_TRUE(SaveSettings(settings, Path()));
  const std::string without = ReadFileBytes(Path());
  EXPECT_NE(without.find("Save Window Position = 0\r\n; \r\n[Window]\r\n; \r\n[Interface]\r\n"),
            std::string::npos);
  EXPECT_EQ(without.find("\r\nWidth ="), std::string::npos);
  EXPECT_EQ(without.find("IsMaximized"), std::string::npos);
}

TEST_F(SettingsFileTest, EachFormatWritesItsOwnOptionKeysInTableOrder) {
  g_process.input_format_keys = {"raw", "psd", "tiff", "RAW"};
  g_process.output_format_keys = {"jpg", "png", "tif", "tiff"};
  ProgramSettings settings;
  ASSERT_TRUE(SaveSettings(settings, Path()));
  const std::string saved = ReadFileBytes(Path());
  EXPECT_NE(saved.find("[Input]\r\nFormat = psd\r\nRebuild From Layers = 0\r\nRAW Load As = "
                       "0\r\nRAW Header Size = 0\r\n"
                       "RAW Image Width = 0\r\nRAW Image Height = 0\r\nRAW Tone Mapping = 2\r\n"
                       "TIFF Frame Loading = 0\r\n; \r\n[Output]\r\n"),
            std::string::npos);
  EXPECT_NE(saved.find("[Output]\r\nFormat = png\r\nJPG BPP = 0\r\nJPG Quality = 95\r\n"
                       "JPG Chroma = 0\r\nJPG Save As = 0\r\nPNG BPP = 0\r\nPNG Compression = 0\r\n"
                       "PNG Interlaced = 0\r\nTIFF BPP = 0\r\nTIFF Compression = 0\r\n"
                       "TIFF Color Model = 0\r\nKeep ICC Profile = 0\r\n; \r\n[Transform]\r\n"),
            std::string::npos);
}

TEST_F(SettingsFileTest, WrittenSettingsReadBackEqual) {
  // With every format listed, every key of the record is written.
  g_process.input_format_keys = {"dds", "gif", "ico", "raw", "tiff"};
  g_process.output_format_keys = {"bmp", "dds", "exr", "gif",  "hdr",  "ico",  "j2k", "jng",
                                  "jp2", "jpg", "jxr", "pbm",  "pcx",  "pfm",  "pgm", "png",
                                  "ppm", "psd", "tga", "tiff", "wbmp", "webp", "xpm"};
  ProgramSettings written = DistinctSettings();
  written.general.cfg = 17;  // what a save writes, so the mask and RAW mode are not migrated
  ASSERT_TRUE(SaveSettings(written, Path()));
  ProgramSettings read;
  ASSERT_TRUE(LoadSettings(read, Path()));
  for (const SettingField& field : SettingFields()) {
    EXPECT_EQ(FieldText(read, field), FieldText(written, field))
        << field.group << " / " << field.key;
  }

  // The special floats survive too.
  written.adjustment.image_gamma = -std::numeric_limits<float>::infinity();
  ASSERT_TRUE(SaveSettings(written, Path()));
  ASSERT_TRUE(LoadSettings(read, Path()));
  EXPECT_EQ(read.adjustment.image_gamma, -std::numeric_limits<float>::infinity());
  written.adjustment.image_gamma = std::numeric_limits<float>::quiet_NaN();
  ASSERT_TRUE(SaveSettings(written, Path()));
  ASSERT_TRUE(LoadSettings(read, Path()));
  EXPECT_TRUE(std::isnan(read.adjustment.image_gamma));
}

TEST_F(SettingsFileTest, KeysAreFoundWithoutCaseAndSavedInTheirOwnSpelling) {
  ProgramSettings settings = LoadFrom("[adjustment]\nimage gamma=2.5\n[OUTPUT]\njpg quality=80\n");
  EXPECT_FLOAT_EQ(settings.adjustment.image_gamma, 2.5f);
  EXPECT_EQ(settings.output.jpg_quality, 80);
  ASSERT_TRUE(SaveSettings(settings, Path()));
  EXPECT_NE(ReadFileBytes(Path()).find("[Adjustment]\r\nDo Image Color Correction = 0\r\n"
                                       "Image Brightness = 0\r\nImage Contrast = 0\r\n"
                                       "Image Gamma = 2.500000\r\n"),
            std::string::npos);
}

TEST_F(SettingsFileTest, EmptyValueReadsZeroAndMissingKeyItsDefault) {
  EXPECT_EQ(LoadFrom("[Output]\r\nJPG Quality =\r\n").output.jpg_quality, 0);
  EXPECT_EQ(LoadFrom("[Output]\r\nJPG Quality = high\r\n").output.jpg_quality, 0);
  EXPECT_EQ(LoadFrom("[Output]\r\nPNG BPP = 24\r\n").output.jpg_quality, 95);
  EXPECT_EQ(LoadFrom("[Output]\r\n").output.jpg_quality, 95);
  EXPECT_EQ(LoadFrom("[Watermark]\r\nFont =\r\n").watermark.font, "");
  EXPECT_EQ(LoadFrom("[Watermark]\r\nFont =  Arial Black \t\r\n").watermark.font, "Arial Black");
}

TEST_F(SettingsFileTest, ReadDefaultsDifferFromAResetInCfgAndWindowPlace) {
  SetPrimaryDesktopSize({1920, 1080});
  g_process.input_format_keys = {"psd"};
  g_process.output_format_keys = {"png"};

  ProgramSettings read = LoadFrom("[Transform]\r\n");
  EXPECT_EQ(read.general.cfg, 0);
  EXPECT_EQ(read.window.x, 100);
  EXPECT_EQ(read.window.y, 100);
  EXPECT_EQ(read.transform.keep_aspect_ratio, 1);
  EXPECT_EQ(read.input.format, "psd");
  EXPECT_EQ(read.output.format, "png");
  EXPECT_NEAR(static_cast<double>(read.general.update_date), static_cast<double>(LocalNowSeconds()),
              600.0);

  // Without a file the settings are those of a reset, with the window centred.
  ProgramSettings missing;
  missing.output.jpg_quality = 3;
  EXPECT_FALSE(LoadSettings(missing, dir_.file("absent.ini")));
  EXPECT_EQ(missing.general.cfg, 17);
  EXPECT_EQ(missing.window.x, 705);
  EXPECT_EQ(missing.window.y, 410);
  EXPECT_EQ(missing.output.jpg_quality, 95);
  EXPECT_EQ(missing.transform.keep_aspect_ratio, 1);
}

TEST_F(SettingsFileTest, BytesKeepTheLowEightBitsAndDatesAllSixtyFour) {
  ProgramSettings settings = LoadFrom(
      "[General]\nSave Window Position = 257\nUpdate Date = 9000000000\n"
      "[Frame]\nDo Frame = -1\n[Advanced]\nOut Folders Number = 200\n");
  EXPECT_EQ(settings.general.save_window_position, 1);
  EXPECT_EQ(settings.general.update_date, 9000000000LL);
  EXPECT_EQ(settings.frame.do_frame, -1);
  EXPECT_EQ(settings.advanced.out_folders_number, -56);
}

TEST_F(SettingsFileTest, OldLayoutsAreMigrated) {
  EXPECT_EQ(LoadFrom("[General]\nCFG = 10\n[Advanced]\nFilename Mask = %filename%_small\n")
                .advanced.filename_mask,
            "%filename%_small.%ext%");
  EXPECT_EQ(LoadFrom("[General]\nCFG = 10\n[Advanced]\nFilename Mask = %ext%_%filename%\n")
                .advanced.filename_mask,
            "%ext%_%filename%");
  EXPECT_EQ(LoadFrom("[General]\nCFG = 11\n[Advanced]\nFilename Mask = %filename%_small\n")
                .advanced.filename_mask,
            "%filename%_small");
  // A file without "CFG" is of the oldest layout.
  EXPECT_EQ(LoadFrom("[Advanced]\nFilename Mask = out\n").advanced.filename_mask, "out.%ext%");

  ProgramSettings raw = LoadFrom("[General]\nCFG = 13\n[Input]\nRAW Load As = 1\n");
  EXPECT_EQ(raw.input.raw_load_as, 3);
  EXPECT_EQ(raw.general.cfg, 13) << "keeps the value read; the next save writes 17";
  EXPECT_EQ(LoadFrom("[General]\nCFG = 14\n[Input]\nRAW Load As = 1\n").input.raw_load_as, 1);
  EXPECT_EQ(LoadFrom("[General]\nCFG = 13\n[Input]\nRAW Load As = 0\n").input.raw_load_as, 0);

  // A reset is the current layout: nothing to migrate.
  ProgramSettings reset;
  LoadSettings(reset, dir_.file("absent.ini"));
  EXPECT_EQ(reset.advanced.filename_mask, "%filename%.%ext%");
}

TEST_F(SettingsFileTest, UnmarkedFileIsReadAsIso88591) {
  const ProgramSettings settings = LoadFrom("[Watermark]\r\nText = Caf\xE9\r\n");
  EXPECT_EQ(settings.watermark.text, "Caf\xC3\xA9");
}

TEST_F(SettingsFileTest, SaveThatCannotWriteLeavesTheOldFileWhole) {
  ProgramSettings settings;
  ASSERT_TRUE(SaveSettings(settings, Path()));
  const std::string old_content = ReadFileBytes(Path());
  ASSERT_GT(old_content.size(), 1024u);

  settings.watermark.text = "changed";
  {
    ScopedFileSizeLimit limit(1024);
    EXPECT_FALSE(SaveSettings(settings, Path()));
  }
  EXPECT_EQ(ReadFileBytes(Path()), old_content);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator()),
            1);
  EXPECT_FALSE(SaveSettings(settings, dir_.file("no/such/folder/config.ini")));
}

TEST_F(SettingsFileTest, SettingsFolderIsCreatedLevelByLevelBelowTheConfigHome) {
  const std::string home = dir_.file("xdg");
  setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  const std::string folder = PrepareSettingsFolder();
  EXPECT_EQ(folder, home + "/Halvane/tarnex/");
  EXPECT_TRUE(std::filesystem::is_directory(folder));

  EXPECT_EQ(BuildConfigFilePath(), folder + "config.ini");
  EXPECT_EQ(g_process.config_file_path, folder + "config.ini");

  // The global wrappers use that path.
  g_settings = ProgramSettings{};
  g_settings.watermark.font = "Liberation Sans";
  SaveSettings();
  g_settings = ProgramSettings{};
  LoadSettings();
  EXPECT_EQ(g_settings.watermark.font, "Liberation Sans");
}

TEST_F(SettingsFileTest, WithoutAnAbsoluteConfigHomeTheHomeFolderIsUsed) {
  setenv("HOME", dir_.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", "relative/path", 1);
  EXPECT_EQ(PrepareSettingsFolder(), dir_.folder() + ".config/Halvane/tarnex/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(PrepareSettingsFolder(), dir_.folder() + ".config/Halvane/tarnex/");
  EXPECT_TRUE(std::filesystem::is_directory(dir_.folder() + ".config/Halvane/tarnex"));
}
