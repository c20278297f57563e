#pragma once

// config.ini: where it lives, and the settings record read from and written to it.

#include <string>

#include "settings/program_settings.h"

class ConfigFile;

/// The name of the settings file inside the settings folder.
inline constexpr const char* ConfigFileName = "config.ini";

/// Reads the file at `path` into `settings`. Keys it lacks take their defaults; when it cannot be
/// read at all, every setting takes its reset default. Older layouts are migrated either way.
/// True when the file was read.
bool LoadSettings(ProgramSettings& settings, const std::string& path);

/// Fills `settings` from an open file: every key with its default when missing, then the
/// migration of older layouts.
void ReadSettings(ConfigFile& file, ProgramSettings& settings);

/// Reads g_process.config_file_path into g_settings.
void LoadSettings();

/// Writes `settings` to `path` in the fixed group and key order; false when the file cannot be
/// written, and then an existing file is left as it was.
bool SaveSettings(const ProgramSettings& settings, const std::string& path);

/// Writes g_settings to g_process.config_file_path; a failure is silent.
void SaveSettings();

/// The settings folder, "$XDG_CONFIG_HOME/Halvane/tarnex/" (or "~/.config/..."), ending in "/";
/// each missing level is created once. Empty when no home folder is known.
std::string PrepareSettingsFolder();

/// Sets g_process.config_file_path to the settings folder's config.ini and returns it; empty
/// when PrepareSettingsFolder found no folder.
std::string BuildConfigFilePath();
