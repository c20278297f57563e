#pragma once

// Keyword values of the command line and the readers of number values.

#include <cstdint>
#include <string>
#include <string_view>

struct SettingField;

/// The keyword tables, by their fixed numbers.
enum class KeywordTable : int32_t {
  DdsLoadAs = 0,
  RawLoadAs = 1,
  FrameLoading = 2,
  ToneMapping = 3,
  Compression = 4,
  BmpColorTable = 5,
  TiffColorModel = 6,
  JpgChroma = 7,
  JpgSaveAs = 8,
  RotationType = 9,
  SizeUnit = 10,
  ResizeType = 11,
  ResizeAlgorithm = 12,
  Frame = 13,
  Watermark = 14,
  FontStyle = 15,
  FontEffect = 16,
  TextAlignment = 17,
  Boundary = 18,
  Position = 19,
  WatermarkSize = 20,
  FileTimestamp = 21,
};

inline constexpr int32_t KeywordTableCount = 22;

/// The format whose own compression names print a compression value.
enum class CompressionFormat { Any, Bmp, Tga, Exr, Png, Tiff };

/// The number of the first keyword of `table` equal to `text` once trimmed of spaces and put in
/// upper case; 0 when none is, or when `table` is not a table.
int32_t KeywordToValue(KeywordTable table, std::string_view text);

/// The number of the first entry of `field` whose keyword equals `text` once trimmed of spaces,
/// in any case (a compression setting takes the keywords of every format); 0 when none does.
int32_t KeywordToValue(const SettingField& field, std::string_view text);

/// The lower-case keyword of `value` in `table` (for compression, from the list of `format`);
/// empty when the value has none.
std::string ValueToKeyword(KeywordTable table, int32_t value,
                           CompressionFormat format = CompressionFormat::Any);

/// Reads an optionally signed decimal, "$" hexadecimal or "%" binary integer after spaces and
/// tabs, up to the first character that does not fit; keeps the low 32 bits. 0 without digits.
int32_t ReadNumber(std::string_view text);

/// Reads "+Infinity", "-Infinity", "NaN" (any case) or the longest leading decimal number with
/// "." as the point; 0 when there is none.
float ReadDecimal(std::string_view text);
