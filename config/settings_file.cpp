#include "config/settings_file.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cstdlib>
#include <string_view>
#include <variant>
#include <vector>

#include "config/config_file.h"
#include "config/config_text.h"

namespace {

// The layout version this program writes; older files are migrated on reading.
constexpr int32_t CurrentConfigLayout = 17;
// Files before these layouts lack the extension token in the mask / count RAW modes from 0.
constexpr int32_t LayoutWithExtensionToken = 11;
constexpr int32_t LayoutWithRawModesShifted = 14;
constexpr int32_t RawLoadAsShift = 2;

// "Window" is written in another order than it is declared.
constexpr std::string_view WindowWriteOrder[] = {"IsMaximized", "Width", "Height", "X", "Y"};

void ReadField(const ConfigFile& file, const SettingField& field, ProgramSettings& settings) {
  const SettingRef ref = field.locate(settings);
  const std::string_view key = field.key;
  std::visit(
      [&](auto* value) {
        using T = std::remove_pointer_t<decltype(value)>;
        if constexpr (std::is_same_v<T, int8_t>) {
          // A Byte keeps only the low 8 bits of the number read.
          const auto low = static_cast<uint8_t>(static_cast<uint32_t>(file.ReadLong(key, *value)));
          *value = static_cast<int8_t>(low);
        } else if constexpr (std::is_same_v<T, int32_t>) {
          *value = file.ReadLong(key, *value);
        } else if constexpr (std::is_same_v<T, int64_t>) {
          *value = file.ReadDate(key, *value);
        } else if constexpr (std::is_same_v<T, float>) {
          *value = file.ReadFloat(key, *value);
        } else {
          *value = file.ReadString(key, *value);
        }
      },
      ref);
}

void WriteField(ConfigFile& file, const SettingField& field, ProgramSettings& settings) {
  const SettingRef ref = field.locate(settings);
  const std::string_view key = field.key;
  std::visit(
      [&](auto* value) {
        using T = std::remove_pointer_t<decltype(value)>;
        if constexpr (std::is_same_v<T, int8_t> || std::is_same_v<T, int32_t>) {
          file.WriteLong(key, *value);
        } else if constexpr (std::is_same_v<T, int64_t>) {
          file.WriteDate(key, *value);
        } else if constexpr (std::is_same_v<T, float>) {
          file.WriteFloat(key, *value);
        } else {
          file.WriteString(key, *value);
        }
      },
      ref);
}

// True when `key` is an option key of format `format_key`: the keys of a format are the ones
// named after it in capitals ("png" owns "PNG BPP", "PNG Compression", "PNG Interlaced"). Format
// keys are compared exactly, so only lower-case letters and digits name a format.
bool IsFormatOptionKey(std::string_view key, std::string_view format_key) {
  if (format_key.empty() || key.size() <= format_key.size() + 1) return false;
  for (std::size_t i = 0; i < format_key.size(); ++i) {
    const char c = format_key[i];
    const bool lower = c >= 'a' && c <= 'z';
    const bool digit = c >= '0' && c <= '9';
    if (!lower && !digit) return false;
    const char upper = lower ? static_cast<char>(c - 'a' + 'A') : c;
    if (key[i] != upper) return false;
  }
  return key[format_key.size()] == ' ';
}

void WriteGroup(ConfigFile& file, std::string_view group, ProgramSettings& settings) {
  const std::vector<SettingField>& fields = SettingFields();
  file.SelectGroup(group);
  if (group == "Window") {
    if (settings.general.save_window_position == 1) {
      for (std::string_view key : WindowWriteOrder) {
        const SettingField* field = FindSetting(group, key);
        assert(field && "every key of the Window order is a setting");
        if (field) WriteField(file, *field, settings);
      }
    }
  } else if (group == "Input" || group == "Output") {
    const std::vector<std::string>& formats =
        group == "Input" ? g_process.input_format_keys : g_process.output_format_keys;
    if (const SettingField* format = FindSetting(group, "Format")) {
      WriteField(file, *format, settings);
    }
    // Documents' own options belong to no format key.
    if (const SettingField* rebuild = FindSetting(group, "Rebuild From Layers")) {
      WriteField(file, *rebuild, settings);
    }
    for (const std::string& format_key : formats) {
      for (const SettingField& field : fields) {
        if (field.group == group && IsFormatOptionKey(field.key, format_key)) {
          WriteField(file, field, settings);
        }
      }
    }
    // The one output setting that belongs to no format.
    if (group == "Output") {
      if (const SettingField* keep = FindSetting(group, "Keep ICC Profile")) {
        WriteField(file, *keep, settings);
      }
    }
  } else {
    for (const SettingField& field : fields) {
      if (field.group != group) continue;
      if (group == "General" && field.key == "CFG") {
        file.WriteLong(field.key, CurrentConfigLayout);
      } else {
        WriteField(file, field, settings);
      }
    }
  }
  file.WriteComment("");
}

void MigrateSettings(ProgramSettings& settings) {
  const int32_t layout = settings.general.cfg;
  std::string& mask = settings.advanced.filename_mask;
  if (layout < LayoutWithExtensionToken && mask.find("%ext%") == std::string::npos) {
    mask += ".%ext%";
  }
  int32_t& raw_load_as = settings.input.raw_load_as;
  if (layout < LayoutWithRawModesShifted && raw_load_as != 0) raw_load_as += RawLoadAsShift;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

void CreateFolderOnce(const std::string& folder) {
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0) return;
  // Failure is not reported: opening or creating the file inside then fails on its own.
  mkdir(folder.c_str(), 0700);
}

}  // namespace

void ReadSettings(ConfigFile& file, ProgramSettings& settings) {
  ResetSettings(settings, false);
  // Reading a file differs from a reset in three defaults: a file without "CFG" is the oldest
  // layout, and the window's place is not centred.
  settings.general.cfg = 0;
  settings.window.x = 100;
  settings.window.y = 100;
  std::string_view group;
  for (const SettingField& field : SettingFields()) {
    if (field.group != group) {
      group = field.group;
      file.SelectGroup(group);
    }
    ReadField(file, field, settings);
  }
  MigrateSettings(settings);
}

bool LoadSettings(ProgramSettings& settings, const std::string& path) {
  ConfigFile file;
  if (!file.OpenConfig(path)) {
    ResetSettings(settings, false);
    MigrateSettings(settings);
    return false;
  }
  ReadSettings(file, settings);
  file.CloseConfig();
  return true;
}

void LoadSettings() { LoadSettings(g_settings, g_process.config_file_path); }

bool SaveSettings(const ProgramSettings& settings, const std::string& path) {
  ConfigFile file;
  if (!file.CreateConfig(path)) return false;
  // The key table hands out mutable references; writing only reads through them.
  ProgramSettings& source = const_cast<ProgramSettings&>(settings);
  std::string_view group;
  for (const SettingField& field : SettingFields()) {
    if (field.group == group) continue;
    group = field.group;
    WriteGroup(file, group, source);
  }
  return file.CloseConfig();
}

void SaveSettings() { SaveSettings(g_settings, g_process.config_file_path); }

std::string PrepareSettingsFolder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) {
    // A relative value is invalid and ignored, as the base-directory convention asks.
    const std::string_view trimmed = TrimConfigBlanks(xdg);
    if (trimmed.starts_with('/')) base = std::string(trimmed);
  }
  if (base.empty()) {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    base = home + (home.ends_with('/') ? "" : "/") + ".config";
  }
  if (!base.ends_with('/')) base += '/';
  CreateFolderOnce(base);
  std::string folder = base + "Halvane/";
  CreateFolderOnce(folder);
  folder += "tarnex/";
  CreateFolderOnce(folder);
  return folder;
}

std::string BuildConfigFilePath() {
  const std::string folder = PrepareSettingsFolder();
  g_process.config_file_path = folder.empty() ? std::string() : folder + ConfigFileName;
  return g_process.config_file_path;
}
