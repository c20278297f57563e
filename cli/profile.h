#pragma once

// Profiles: INI files whose group "CLI" holds command-line options as keys.

#include <string>

#include "cli/options.h"

/// Applies the options of the profile's group "CLI" in file order; false when `path` is empty or
/// the file cannot be read. A file without that group applies nothing and succeeds.
bool LoadProfile(const std::string& path, OptionTarget& target);
