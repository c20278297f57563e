#include "cli/command_line.h"

#include "core/conversion_job.h"
#include "platform/ascii.h"
#include "platform/text.h"

namespace {

constexpr const char* IncorrectParameters = "Incorrect number of parameters";

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A value that opens a double quote without closing it takes in the following parameters, each
// after one space, until one closes it or none is left.
void JoinQuotedValue(const Parameters& parameters, size_t& i, std::string& value) {
  if (value.empty() || value.front() != '"' || value.back() == '"') return;
  while (value.back() != '"' && i + 1 < parameters.Count()) {
    ++i;
    value += ' ';
    value += parameters.At(i);
  }
}

std::string StripQuotes(const std::string& value) {
  const size_t first = value.find_first_not_of('"');
  if (first == std::string::npos) return {};
  return value.substr(first, value.find_last_not_of('"') - first + 1);
}

// Reads the value of the option at parameter `i` by its rule and applies it; `i` ends on the last
// parameter the option used.
void ApplyCommandLineOption(const OptionSpec& option, const Parameters& parameters, size_t& i,
                            const std::string& name, OptionTarget& target) {
  if (option.before) option.before(target);
  if (option.rule == ValueRule::Flag) {
    ApplyOptionValue(option, target, {});
    return;
  }

  std::string value;
  const bool takes_next = option.rule == ValueRule::PathNext || option.rule == ValueRule::TextNext;
  if (takes_next && name == option.short_name) {
    ++i;
    value = parameters.At(i);
  } else {
    value = parameters.OptionValue(i);
  }
  // Path values may not begin with "-" at all; others may, as long as it is not a second option.
  const std::string_view refused = takes_next ? "-" : "--";
  if (value.empty() || StartsWith(value, refused)) {
    target.state.error_message = IncorrectParameters;
    return;
  }

  const bool quoted = option.rule == ValueRule::PathNext || option.rule == ValueRule::TextNext ||
                      option.rule == ValueRule::Text;
  if (option.rule == ValueRule::PathNext || option.rule == ValueRule::Text) {
    JoinQuotedValue(parameters, i, value);
  }
  if (quoted) value = StripQuotes(value);
  ApplyOptionValue(option, target, value);
}

}  // namespace

Parameters::Parameters(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) items_.emplace_back(argv[i] ? argv[i] : "");
}

const std::string& Parameters::At(size_t i) const {
  static const std::string empty;
  return i < items_.size() ? items_[i] : empty;
}

std::string Parameters::OptionName(size_t i) const {
  const std::string parameter(TrimSet(At(i), " "));
  if (!StartsWith(parameter, "-")) return {};
  if (!StartsWith(parameter, "--")) return ToUpperAscii(parameter);
  return ToUpperAscii(parameter.substr(0, parameter.find('=')));
}

std::string Parameters::OptionValue(size_t i) const {
  const std::string parameter(TrimSet(At(i), " "));
  if (StartsWith(parameter, "--")) {
    const size_t equals = parameter.find('=', 2);
    if (equals != std::string::npos) return parameter.substr(equals + 1);
  }
  return parameter;
}

void ParseOptions(const Parameters& parameters, OptionTarget& target) {
  for (size_t i = 0; i < parameters.Count(); ++i) {
    const std::string name = parameters.OptionName(i);
    const OptionSpec* option = FindOption(name);
    if (!option) continue;
    ApplyCommandLineOption(*option, parameters, i, name, target);
    if (!target.state.error_message.empty()) return;
  }
}

FirstParameterMode ReadFirstParameterMode(const Parameters& parameters) {
  const std::string name = parameters.OptionName(0);
  if (name == "-U") return FirstParameterMode::Uninstall;
  if (name == "-T") return FirstParameterMode::Screenshot;
  if (name == "-V" || name == "--VERSION") return FirstParameterMode::Version;
  if (name == "-H" || name == "-?" || name == "--HELP") return FirstParameterMode::Help;
  return FirstParameterMode::None;
}
