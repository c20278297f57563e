#include "cli/keywords.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <system_error>

#include "platform/ascii.h"

namespace {

struct Keyword {
  std::string_view name;
  int32_t value;
};

constexpr Keyword DdsLoadAsKeywords[] = {{"AUTO", 0}, {"BGRA", 1}, {"RGBA", 2}};
constexpr Keyword RawLoadAsKeywords[] = {{"AUTO", 0}, {"8", 1},    {"16", 2},
                                         {"24", 3},   {"48HS", 4}, {"48", 5}};
constexpr Keyword FrameLoadingKeywords[] = {
    {"ALL", 0}, {"FIRST", 1}, {"MIDDLE", 2}, {"LAST", 3}, {"RANDOM", 4}};
constexpr Keyword ToneMappingKeywords[] = {
    {"NONE", 0}, {"LINEAR", 1}, {"AL", 2}, {"DRR", 3}, {"GD", 4}};
// Every format's compression names in one list: a keyword of another format is accepted too.
constexpr Keyword CompressionKeywords[] = {
    {"NONE", 0},      {"RLE", 1},      {"ZIP", 1},     {"PIZ", 2},          {"PXR24", 3},
    {"B44", 4},       {"ZLIB1", 1},    {"ZLIB6", 2},   {"ZLIB9", 3},        {"CCITTFAX3", 1},
    {"CCITTFAX4", 2}, {"PACKBITS", 3}, {"DEFLATE", 4}, {"ADOBEDEFLATE", 5}, {"LZW", 6},
    {"JPEG", 7},      {"LOGLUV", 8}};
constexpr Keyword BmpColorTableKeywords[] = {{"AUTO", 0}, {"EXACT", 1}};
constexpr Keyword TiffColorModelKeywords[] = {{"RGB", 0}, {"CMYK", 1}, {"LAB", 2}};
constexpr Keyword JpgChromaKeywords[] = {{"NONE", 0}, {"LOW", 1}, {"MEDIUM", 2}, {"HIGH", 3}};
constexpr Keyword JpgSaveAsKeywords[] = {
    {"STANDARD", 0}, {"SIMPLE", 1}, {"OPTIMIZED", 2}, {"PROGRESSIVE", 3}};
constexpr Keyword RotationTypeKeywords[] = {{"SIMPLE", 0}, {"ADVANCED", 1}};
constexpr Keyword SizeUnitKeywords[] = {{"PIXELS", 0}, {"PERCENT", 1}};
constexpr Keyword ResizeTypeKeywords[] = {{"ALLIMAGES", 0}, {"LARGEIMAGES", 1}};
constexpr Keyword ResizeAlgorithmKeywords[] = {{"BOX", 0},     {"BILINEAR", 1},   {"BSPLINE", 2},
                                               {"BICUBIC", 3}, {"CATMULLROM", 4}, {"LANCZOS", 5}};
constexpr Keyword FrameKeywords[] = {{"NONE", 0}, {"SOLID", 1}};
constexpr Keyword WatermarkKeywords[] = {{"NONE", 0}, {"TEXT", 1}, {"IMAGE", 2}};
constexpr Keyword FontStyleKeywords[] = {
    {"REGULAR", 0}, {"BOLD", 1}, {"ITALIC", 2}, {"BOLDITALIC", 3}};
// "STRIKETHROUGHT" is the keyword users have always typed; keep its spelling.
constexpr Keyword FontEffectKeywords[] = {{"NONE", 0}, {"UNDERLINE", 1}, {"STRIKETHROUGHT", 2}};
constexpr Keyword TextAlignmentKeywords[] = {{"LEFT", 0}, {"CENTER", 1}, {"RIGHT", 2}};
constexpr Keyword BoundaryKeywords[] = {{"IMAGE", 0}, {"FRAME", 1}};
constexpr Keyword PositionKeywords[] = {{"TOPLEFT", 0},    {"TOPCENTER", 1},    {"TOPRIGHT", 2},
                                        {"MIDDLELEFT", 3}, {"MIDDLECENTER", 4}, {"MIDDLERIGHT", 5},
                                        {"BOTTOMLEFT", 6}, {"BOTTOMCENTER", 7}, {"BOTTOMRIGHT", 8}};
constexpr Keyword WatermarkSizeKeywords[] = {{"FIXED", 0}};
constexpr Keyword FileTimestampKeywords[] = {{"CURRENT", 0}, {"ORIGINAL", 1}, {"CUSTOM", 2}};

constexpr std::array<std::span<const Keyword>, KeywordTableCount> Tables = {
    DdsLoadAsKeywords,       RawLoadAsKeywords,     FrameLoadingKeywords,   ToneMappingKeywords,
    CompressionKeywords,     BmpColorTableKeywords, TiffColorModelKeywords, JpgChromaKeywords,
    JpgSaveAsKeywords,       RotationTypeKeywords,  SizeUnitKeywords,       ResizeTypeKeywords,
    ResizeAlgorithmKeywords, FrameKeywords,         WatermarkKeywords,      FontStyleKeywords,
    FontEffectKeywords,      TextAlignmentKeywords, BoundaryKeywords,       PositionKeywords,
    WatermarkSizeKeywords,   FileTimestampKeywords};

// For printing, each format names its compression values by its own list, indexed by value.
constexpr std::string_view BmpCompressionNames[] = {"none", "rle"};
constexpr std::string_view ExrCompressionNames[] = {"none", "zip", "piz", "pxr24", "b44"};
constexpr std::string_view PngCompressionNames[] = {"none", "zlib1", "zlib6", "zlib9"};
constexpr std::string_view TiffCompressionNames[] = {"none",     "ccittfax3", "ccittfax4",
                                                     "packbits", "deflate",   "adobedeflate",
                                                     "lzw",      "jpeg",      "logluv"};

std::span<const std::string_view> CompressionNames(CompressionFormat format) {
  switch (format) {
    case CompressionFormat::Bmp:
    case CompressionFormat::Tga:
      return BmpCompressionNames;
    case CompressionFormat::Exr:
      return ExrCompressionNames;
    case CompressionFormat::Png:
      return PngCompressionNames;
    case CompressionFormat::Tiff:
      return TiffCompressionNames;
    case CompressionFormat::Any:
      return {};
  }
  return {};
}

std::span<const Keyword> TableOf(KeywordTable table) {
  const auto index = static_cast<int32_t>(table);
  if (index < 0 || index >= KeywordTableCount) return {};
  return Tables[static_cast<size_t>(index)];
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
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    text = {};
  else
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  for (const Keyword& keyword : TableOf(table)) {
    if (EqualsIgnoringCase(keyword.name, text)) return keyword.value;
  }
  return 0;
}

std::string ValueToKeyword(KeywordTable table, int32_t value, CompressionFormat format) {
  if (table == KeywordTable::Compression && format != CompressionFormat::Any) {
    const std::span<const std::string_view> names = CompressionNames(format);
    if (value < 0 || static_cast<size_t>(value) >= names.size()) return {};
    return std::string(names[static_cast<size_t>(value)]);
  }
  for (const Keyword& keyword : TableOf(table)) {
    if (keyword.value != value) continue;
    std::string name(keyword.name);
    for (char& c : name) c = AsciiLower(c);
    return name;
  }
  return {};
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
