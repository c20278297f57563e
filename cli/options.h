#pragma once

// The table of command-line options: names, how each reads its value and what it sets.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/keywords.h"

struct ProgramSettings;
struct SettingField;
struct ConversionJob;

/// What the options of one command line set besides the settings and the job.
struct CommandLineState {
  std::string error_message;  // the first parse error; it ends the parsing
  int8_t quiet_output = 0;
  int8_t pause_at_exit = 0;
  std::vector<std::string> inputs;       // every -i value in order: documents and folders
  std::vector<std::string> input_lists;  // every --input-list value; "-" is standard input
  int8_t recursive = 0;                  // folders are walked into their subfolders
  int32_t jobs = 0;                      // files converted at once; 0: one per core
  std::string report_path;               // the JSON Lines report; empty: none
};

/// Where options write: the records of the run, a test or a dry parse.
struct OptionTarget {
  ProgramSettings& settings;
  ConversionJob& job;
  CommandLineState& state;
};

/// How an option takes its value.
enum class ValueRule {
  PathNext,  // the next parameter for the short form, else after "="; joining and quote rules
  TextNext,  // as PathNext, without the joining rule
  Text,      // after "="; may begin with a single "-"; joining and quote rules
  Keyword,   // after "="; a keyword of the option's table
  Number,    // after "="; read with ReadNumber
  Decimal,   // after "="; read with ReadDecimal
  Flag,      // no value; anything after "=" is ignored
};

using TextSetter = void (*)(OptionTarget& target, const std::string& value);
using NumberSetter = void (*)(OptionTarget& target, int32_t value);
using DecimalSetter = void (*)(OptionTarget& target, float value);
using FlagSetter = void (*)(OptionTarget& target);

struct OptionSpec {
  std::string_view short_name;  // "-I"; empty when the option has no short form
  std::string_view long_name;   // "--INPUT"
  ValueRule rule;
  std::variant<TextSetter, NumberSetter, DecimalSetter, FlagSetter> set;
  std::string_view profile_key;  // the key of group "CLI" in profiles; empty when none
  FlagSetter before = nullptr;   // runs before the value is examined
  // A plain row stores its value into this setting instead of calling `set`.
  const SettingField* field = nullptr;
};

/// Every option in the order in which names are matched.
const std::vector<OptionSpec>& OptionTable();

/// The first option whose short or long name equals the upper-case `name`; nullptr when none.
const OptionSpec* FindOption(std::string_view name);

/// The option that the upper-case profile key `key` stands for; nullptr when none.
const OptionSpec* FindProfileOption(std::string_view key);

/// Reads `value` by the option's rule and stores it; the caller has made the text checks.
void ApplyOptionValue(const OptionSpec& option, OptionTarget& target, const std::string& value);
