#pragma once

// The texts of the help and version options.

#include <string>
#include <string_view>
#include <vector>

struct SettingField;

/// The usage text, one entry a line; `program_name` is the program's file name without folder and
/// extension, and each example line names an offered input format.
std::vector<std::string> UsageLines(std::string_view program_name);

/// The range of a setting as the usage text shows it ("-100..100", "0.01..9.99"): whole numbers
/// as they are, floats with two decimals.
std::string RangeText(const SettingField& field);

/// The one line of the version option ("2.7").
std::string VersionLine();

/// The file name of `path` without its folder and its extension.
std::string ProgramNameOf(std::string_view path);
