#pragma once

// Reading the parameters of a command line into the settings, the job and the run flags.

#include <cstddef>
#include <string>
#include <vector>

#include "cli/options.h"

/// The parameters after the program's own path, counted from 0.
class Parameters {
 public:
  Parameters() = default;
  explicit Parameters(std::vector<std::string> items) : items_(std::move(items)) {}
  /// From main's arguments, skipping the program's path.
  Parameters(int argc, const char* const* argv);

  size_t Count() const { return items_.size(); }
  /// Parameter `i` as given; empty at or beyond the count.
  const std::string& At(size_t i) const;
  /// The upper-case option name of parameter `i`: all of it for "-X", the part before the first
  /// "=" for "--NAME=value"; empty for a parameter that does not begin with "-".
  std::string OptionName(size_t i) const;
  /// The value of parameter `i`, case kept: after the first "=" of a "--" parameter, else the
  /// whole parameter.
  std::string OptionValue(size_t i) const;

 private:
  std::vector<std::string> items_;
};

/// Applies the options from left to right; stops at the first one that sets an error message.
/// Names that match no option and bare parameters are ignored.
void ParseOptions(const Parameters& parameters, OptionTarget& target);

/// The modes only the first parameter selects.
enum class FirstParameterMode { None, Uninstall, Screenshot, Version, Help };

/// What the first parameter asks for; later parameters never select these modes.
FirstParameterMode ReadFirstParameterMode(const Parameters& parameters);
