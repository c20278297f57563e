#include "gui/preferences_values.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/steps/hex_colour.h"
#include "platform/text.h"

namespace {

struct NamedColour {
  uint32_t rgb;  // 0xRRGGBB
  std::string_view key;
};

constexpr std::array<NamedColour, 19> NamedColours = {{
    {0x000000, "Black"},  {0xC0C0C0, "Silver"}, {0x808080, "Gray"},   {0xFFFFFF, "White"},
    {0x800000, "Maroon"}, {0xFF0000, "Red"},    {0x800080, "Purple"}, {0xFF00FF, "Fuchsia"},
    {0x008000, "Green"},  {0x00FF00, "Lime"},   {0x808000, "Olive"},  {0xFFFF00, "Yellow"},
    {0x000080, "Navy"},   {0x0000FF, "Blue"},   {0x008080, "Teal"},   {0x00FFFF, "Aqua"},
    {0xFF8000, "Orange"}, {0x804000, "Brown"},  {0x8000FF, "Violet"},
}};

}  // namespace

std::string ColourText(uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", colour & 0xFFu, (colour >> 8) & 0xFFu,
                (colour >> 16) & 0xFFu);
  return text;
}

std::string_view NamedColourKey(uint32_t colour) {
  const uint32_t rgb = (colour & 0xFFu) << 16 | (colour & 0xFF00u) | (colour >> 16 & 0xFFu);
  for (const NamedColour& named : NamedColours) {
    if (named.rgb == rgb) return named.key;
  }
  return {};
}

std::vector<std::string> SplitListFields(std::string_view list) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t comma = list.find(',', start);
    const std::string_view field = list.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    fields.emplace_back(TrimBlanks(field));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return fields;
}

bool ListHasField(std::string_view list, std::string_view name) {
  for (const std::string& field : SplitListFields(list)) {
    if (field == name) return true;
  }
  return false;
}

std::string AppendListField(std::string_view list, std::string_view field) {
  if (list.empty()) return std::string(field);
  return std::string(list) + "," + std::string(field);
}

bool PaletteHasColour(std::string_view list, uint32_t colour) {
  for (const std::string& field : SplitListFields(list)) {
    if (ParseHexColour(field) == colour) return true;
  }
  return false;
}

std::string SanitiseLine(std::string_view text) {
  std::string line(TrimBlanks(text));
  std::erase_if(line, [](char c) { return c == '\t' || c == '\r' || c == '\n'; });
  return line;
}

int64_t LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  // Digits past what an int32 setting can hold change nothing.
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{1} << 40);
  }
  return negative ? -value : value;
}

int64_t TextToHundredths(std::string_view text) {
  std::string number(TrimBlanks(text));
  std::replace(number.begin(), number.end(), ',', '.');
  if (number.empty()) return 0;
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end == number.c_str() || !std::isfinite(value)) return 0;
  return static_cast<int64_t>(std::llround(std::clamp(value, -1e9, 1e9) * 100.0));
}

std::string HundredthsText(int64_t hundredths) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(hundredths) / 100.0);
  return text;
}

int64_t ClampToRange(int64_t value, int64_t min, int64_t max) {
  return std::clamp(value, min, max);
}

std::string FontNameForList(std::string_view name) {
  std::string clean(name);
  std::erase(clean, ',');
  return clean;
}

std::string WatermarkImageFilter(std::string_view all_supported_text,
                                 std::string_view all_files_text) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> Types = {{
      {"Portable Network Graphics", "*.png"},
      {"Windows or OS/2 Bitmap", "*.bmp;*.rle;*.dib"},
      {"JPEG File", "*.jpg;*.jpeg;*.jpe;*.jif"},
  }};
  std::string all_patterns;
  std::string by_type;
  for (const auto& [description, patterns] : Types) {
    if (!all_patterns.empty()) all_patterns += ";";
    all_patterns += patterns;
    by_type += std::string(description) + "|" + std::string(patterns) + "|";
  }
  return std::string(all_supported_text) + "|" + all_patterns + "|" + by_type +
         std::string(all_files_text) + " (*.*)|*.*";
}
