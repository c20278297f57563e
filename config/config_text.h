#pragma once

// Small text helpers shared by the configuration reader and the settings file.

#include <string_view>

/// True for the blanks the file format skips: space and tab.
bool IsConfigBlank(char c);

/// `text` without leading and trailing spaces and tabs.
std::string_view TrimConfigBlanks(std::string_view text);
