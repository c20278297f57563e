#pragma once

// Reading and writing one setting of g_settings by its group and key, whatever its stored type:
// the rows of the preferences dialog name settings only through the schema.

#include <cstdint>
#include <string>
#include <string_view>

/// The setting as a whole number (a float rounded); 0 for a text or an unknown key.
int64_t ReadSettingNumber(std::string_view group, std::string_view key);

/// The setting as a float; 0 for a text or an unknown key.
double ReadSettingFloat(std::string_view group, std::string_view key);

/// The text of a text setting; empty for a number or an unknown key.
std::string ReadSettingText(std::string_view group, std::string_view key);

/// Stores `value` into a number setting, limited to what its field holds; a text setting or an
/// unknown key is left alone.
void WriteSettingNumber(std::string_view group, std::string_view key, int64_t value);

/// Stores `value` into a float setting (a whole-number setting takes it rounded).
void WriteSettingFloat(std::string_view group, std::string_view key, double value);

/// Stores `value` into a text setting; a number setting is left alone.
void WriteSettingText(std::string_view group, std::string_view key, const std::string& value);
