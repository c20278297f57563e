#include "cli/usage.h"

#include <array>
#include <cstdio>
#include <random>

#include "core/program_identity.h"
#include "platform/text.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

// "%s1%" is the program's name, "%s2%" an input format key, "%s3%" the range of the setting that
// the line's option sets.
constexpr std::array<std::string_view, 41> UsageTemplate = {
    " ",
    "Usage: %s1% -i <filename> [options]",
    " ",
    "  %s1% -i example.%s2%",
    "  %s1% -i c:\\tmp\\example.%s2%",
    "  %s1% -i c:\\tmp\\example.%s2% -o d:\\converted",
    "  %s1% -i c:\\tmp\\example.%s2% -o d:\\converted --jpg-quality=95",
    " ",
    "Options:",
    " ",
    "  -h, -?, --help            Display this help and exit",
    "  -i FILE, --input=FILE     Set input file",
    "  -i DIR, --input=DIR       Add every PSD/PSB in DIR; -i may be repeated",
    "  --recursive               Include the subfolders of input folders",
    "  --input-list=FILE         Add the files listed in FILE, one a line; - reads stdin",
    "  -o PATH, --output=PATH    Set output folder",
    "  -c STR, --conversion=STR  Set output extension, STR = (jpg | bmp | ...)",
    " ",
    "Advanced options:",
    " ",
    "  --width=NUM               Set output image width",
    "  --height=NUM              Set output image height",
    "  --filename-mask=STR       Define output filename format",
    "  --flip-horizontal         Flip output image horizontally",
    "  --flip-vertical           Flip output image vertically",
    "  --brightness=NUM          Set output image brightness, NUM = %s3%",
    "  --contrast=NUM            Set output image contrast, NUM = %s3%",
    "  --gamma=NUM               Set output image gamma, NUM = %s3%",
    "  --invert                  Invert output image",
    "  --greyscale               Greyscale output image",
    "  --profile=FILE            Set configuration file with required settings",
    "    ...                     Refer documentation for all available options",
    " ",
    "Other options:",
    " ",
    "  --jobs=NUM                Convert NUM files at once (default: one per core)",
    "  --report=FILE             Write a JSON Lines report of every input file",
    "  -q, --quiet               Don't print status messages to stdout",
    "  -d, --debug               Print debug information to stdout",
    "  -p, --pause               Pause at exit",
    "  -v, --version             Display version information and exit",
};

std::string RandomInputKey() {
  const std::vector<std::string>& keys = g_process.input_format_keys;
  if (keys.empty()) return {};
  if (keys.size() == 1) return keys.front();
  static std::mt19937 generator{std::random_device{}()};
  return keys[std::uniform_int_distribution<size_t>(0, keys.size() - 1)(generator)];
}

// The setting whose range a usage line shows, by the option at its start.
std::string RangeOfLine(std::string_view line) {
  if (line.find("--brightness") != std::string_view::npos) {
    return RangeText(SettingOf("Adjustment", "Image Brightness"));
  }
  if (line.find("--contrast") != std::string_view::npos) {
    return RangeText(SettingOf("Adjustment", "Image Contrast"));
  }
  if (line.find("--gamma") != std::string_view::npos) {
    return RangeText(SettingOf("Adjustment", "Image Gamma"));
  }
  return {};
}

}  // namespace

std::string RangeText(const SettingField& field) {
  const auto bound = [&field](double value) {
    char text[32];
    if (field.type == SettingType::Float) {
      std::snprintf(text, sizeof text, "%.2f", value);
    } else {
      std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    }
    return std::string(text);
  };
  return bound(field.range.min) + ".." + bound(field.range.max);
}

std::vector<std::string> UsageLines(std::string_view program_name) {
  std::vector<std::string> lines;
  lines.reserve(UsageTemplate.size());
  for (std::string_view line : UsageTemplate) {
    if (line.find('%') == std::string_view::npos) {
      lines.emplace_back(line);
      continue;
    }
    lines.push_back(FormatText(line, program_name, RandomInputKey(), RangeOfLine(line), ""));
  }
  return lines;
}

std::string VersionLine() { return FormatVersion(VersionNumber); }

std::string ProgramNameOf(std::string_view path) {
  path = FileNameOf(path);
  const size_t dot = path.rfind('.');
  if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
  return std::string(path);
}
