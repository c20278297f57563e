#include "cli/keywords.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <system_error>

#include "platform/ascii.h"
#include "platform/text.h"
#include "settings/program_settings.h"

namespace {

// Each table is the entries of one setting of the schema; the frame-loading and size-unit tables
// serve several settings with the same entries.
struct TableField {
  std::string_view group;
  std::string_view key;
};

constexpr std::array<TableField, KeywordTableCount> TableFields = {{
    {"Input", "DDS Load As"},
    {"Input", "RAW Load As"},
    {"Input", "GIF Frame Loading"},
    {"Input", "RAW Tone Mapping"},
    {"", ""},  // compression: the entries of every format, see CompressionFields
    {"Output", "BMP Color Table"},
    {"Output", "TIFF Color Model"},
    {"Output", "JPG Chroma"},
    {"Output", "JPG Save As"},
    {"Transform", "Image Rotation Type"},
    {"Transform", "Image Width Unit"},
    {"Transform", "Image Resize Type"},
    {"Transform", "Image Resize Algorithm"},
    {"Frame", "Do Frame"},
    {"Watermark", "Do Watermark"},
    {"Watermark", "Font Style"},
    {"Watermark", "Font Effect"},
    {"Watermark", "Text Alignment"},
    {"Watermark", "Text Boundary"},
    {"Watermark", "Text Position"},
    {"Watermark", "Text Size"},
    {"Advanced", "File Timestamp"},
}};

// The compression setting of each format whose own names print its values.
std::string_view CompressionKey(CompressionFormat format) {
  switch (format) {
    case CompressionFormat::Bmp:
      return "BMP Compression";
    case CompressionFormat::Tga:
      return "TGA Compression";
    case CompressionFormat::Exr:
      return "EXR Compression";
    case CompressionFormat::Png:
      return "PNG Compression";
    case CompressionFormat::Tiff:
      return "TIFF Compression";
    case CompressionFormat::Any:
      return {};
  }
  return {};
}

constexpr CompressionFormat CompressionFormats[] = {CompressionFormat::Bmp, CompressionFormat::Exr,
                                                    CompressionFormat::Png, CompressionFormat::Tga,
                                                    CompressionFormat::Tiff};

std::span<const SettingChoice> ChoicesOf(std::string_view group, std::string_view key) {
  const SettingField* field = FindSetting(group, key);
  return field ? field->choices : std::span<const SettingChoice>{};
}

bool Matches(const SettingChoice& choice, std::string_view text) {
  return !choice.keyword.empty() && EqualsIgnoringCase(choice.keyword, text);
}

int32_t FindIn(std::span<const SettingChoice> choices, std::string_view text) {
  for (size_t value = 0; value < choices.size(); ++value) {
    if (Matches(choices[value], text)) return static_cast<int32_t>(value);
  }
  return -1;
}

// The value of the first entry named `text`. Compression accepts the names of every format, so
// "zip" means 1 whatever the option's format is.
int32_t FindCompression(std::string_view text) {
  for (CompressionFormat format : CompressionFormats) {
    const int32_t value = FindIn(ChoicesOf("Output", CompressionKey(format)), text);
    if (value >= 0) return value;
  }
  return 0;
}

bool IsCompressionField(const SettingField& field) {
  constexpr std::string_view suffix = " Compression";
  return field.key.size() > suffix.size() && field.key.ends_with(suffix);
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t KeywordToValue(KeywordTable table, std::string_view text) {
  text = TrimSet(text, " ");
  const auto index = static_cast<int32_t>(table);
  if (index < 0 || index >= KeywordTableCount) return 0;
  if (table == KeywordTable::Compression) return FindCompression(text);
  const TableField& field = TableFields[static_cast<size_t>(index)];
  return std::max(0, FindIn(ChoicesOf(field.group, field.key), text));
}

int32_t KeywordToValue(const SettingField& field, std::string_view text) {
  text = TrimSet(text, " ");
  if (IsCompressionField(field)) return FindCompression(text);
  return std::max(0, FindIn(field.choices, text));
}

std::string ValueToKeyword(KeywordTable table, int32_t value, CompressionFormat format) {
  std::span<const SettingChoice> choices;
  if (table == KeywordTable::Compression && format == CompressionFormat::Any) {
    // The first format that has an entry at this value names it.
    for (CompressionFormat each : CompressionFormats) {
      const std::span<const SettingChoice> named = ChoicesOf("Output", CompressionKey(each));
      if (value >= 0 && static_cast<size_t>(value) < named.size()) {
        return ToLowerAscii(named[static_cast<size_t>(value)].keyword);
      }
    }
    return {};
  }
  if (table == KeywordTable::Compression) {
    choices = ChoicesOf("Output", CompressionKey(format));
  } else {
    const auto index = static_cast<int32_t>(table);
    if (index < 0 || index >= KeywordTableCount) return {};
    const TableField& field = TableFields[static_cast<size_t>(index)];
    choices = ChoicesOf(field.group, field.key);
  }
  if (value < 0 || static_cast<size_t>(value) >= choices.size()) return {};
  return ToLowerAscii(choices[static_cast<size_t>(value)].keyword);
}

int32_t ReadNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }
  // Unsigned arithmetic wraps, which keeps exactly the low 32 bits of a longer number.
  uint32_t result = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= base) break;
    result = result * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  if (negative) result = 0u - result;
  return static_cast<int32_t>(result);
}

float ReadDecimal(std::string_view text) {
  if (EqualsIgnoringCase(text, "+Infinity")) return std::numeric_limits<float>::infinity();
  if (EqualsIgnoringCase(text, "-Infinity")) return -std::numeric_limits<float>::infinity();
  if (EqualsIgnoringCase(text, "NaN")) return std::numeric_limits<float>::quiet_NaN();

  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t number_start = i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0f;
  // An exponent counts only when digits follow it; "2e" reads as 2.
  bool negative_exponent = false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) {
      negative_exponent = text[j] == '-';
      ++j;
    }
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      i = j;
    } else {
      negative_exponent = false;
    }
  }
  double value = 0.0;
  const char* first = text.data() + number_start;
  const char* last = text.data() + i;
  const std::from_chars_result parsed = std::from_chars(first, last, value);
  if (parsed.ec == std::errc::result_out_of_range) {
    value = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (parsed.ec != std::errc()) {
    value = 0.0;
  }
  // Beyond the float range the conversion is undefined; name the overflow as infinity instead.
  float result;
  if (std::isinf(value) || value > std::numeric_limits<float>::max()) {
    result = std::numeric_limits<float>::infinity();
  } else {
    result = static_cast<float>(value);
  }
  return negative ? -result : result;
}
