// Reading a theme's description and naming its entries.

#include <string>

#include "platform/ascii.h"
#include "platform/text.h"
#include "themes/theme_pack.h"

namespace {

constexpr std::string_view LineEnd = "\r\n";

}  // namespace

std::string ThemeFolder(const std::string& program_folder) { return program_folder + "gfx/"; }

std::string ThemePackPath(const std::string& theme_folder, std::string_view id) {
  return theme_folder + std::string(id) + ".zip";
}

int32_t ThemePictureSize(int32_t ui_size) {
  switch (ui_size) {
    case 1:
      return 24;
    case 2:
      return 32;
    case 3:
      return 48;
    case 4:
      return 64;
    default:
      return 16;  // 0, and any value a hand-edited file may hold
  }
}

std::string GetThemeValue(std::string_view text, std::string_view section, std::string_view key) {
  // Letter case is ignored throughout: search in lower-case copies, cut from the original.
  const std::string lower = ToLowerAscii(text);
  const size_t start = lower.find("[" + ToLowerAscii(section) + "]");
  if (start == std::string::npos) return {};
  size_t end = lower.find('[', start + 1);
  if (end == std::string::npos) end = lower.size();

  const size_t line_start = lower.find(std::string(LineEnd) + ToLowerAscii(key), start);
  if (line_start == std::string::npos || line_start <= start || line_start >= end) return {};
  size_t line_end = lower.find(LineEnd, line_start + 1);
  if (line_end == std::string::npos) line_end = lower.size();
  const std::string_view line = text.substr(line_start, line_end - line_start);

  // The field between the first "=" and any second one.
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {};
  std::string_view value = line.substr(equals + 1);
  value = value.substr(0, value.find('='));
  return std::string(TrimSet(TrimSet(value, " "), "\t\r\n"));
}

std::string ThemeEntryName(std::string_view value, int32_t size) {
  if (ToLowerAscii(value).find(".png") != std::string::npos) return std::string(value);
  return std::string(value) + "_" + std::to_string(size) + ".png";
}
