#pragma once

// Reading and writing one setting of a settings record by its group and key, whatever its stored
// type: the rows of the preferences dialog name settings only through the schema.

#include <cstdint>
#include <string>
#include <string_view>

struct ProgramSettings;

/// The setting of `settings` as a whole number (a float rounded); 0 for a text or an unknown key.
int64_t ReadSettingNumber(const ProgramSettings& settings, std::string_view group,
                          std::string_view key);

/// The setting as a float; 0 for a text or an unknown key.
double ReadSettingFloat(const ProgramSettings& settings, std::string_view group,
                        std::string_view key);

/// The text of a text setting; empty for a number or an unknown key.
std::string ReadSettingText(const ProgramSettings& settings, std::string_view group,
                            std::string_view key);

/// Stores `value` into a number setting of `settings`, limited to what its field holds; a text
/// setting or an unknown key is left alone.
void WriteSettingNumber(ProgramSettings& settings, std::string_view group, std::string_view key,
                        int64_t value);

/// Stores `value` into a float setting (a whole-number setting takes it rounded).
void WriteSettingFloat(ProgramSettings& settings, std::string_view group, std::string_view key,
                       double value);

/// Stores `value` into a text setting; a number setting is left alone.
void WriteSettingText(ProgramSettings& settings, std::string_view group, std::string_view key,
                      const std::string& value);
