#pragma once

// What the preferences dialog computes without a widget: colour names and texts, the list
// fields of "Fonts" and the palettes, number and line sanitising, and the spin box ranges.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Six upper-case hexadecimal digits RRGGBB of a colour red | green << 8 | blue << 16.
std::string ColourText(uint32_t colour);

/// The text key of group "Preferences" naming `colour` ("Black", ...); empty when it has none.
std::string_view NamedColourKey(uint32_t colour);

/// The comma-separated fields of `list`, each trimmed of blanks, empty ones kept.
std::vector<std::string> SplitListFields(std::string_view list);

/// True when one trimmed field of the comma-separated `list` equals `name` exactly.
bool ListHasField(std::string_view list, std::string_view name);

/// `list` with `field` appended after a comma (just `field` when the list is empty).
std::string AppendListField(std::string_view list, std::string_view field);

/// True when one field of the comma-separated `list`, read as a colour, equals `colour`.
bool PaletteHasColour(std::string_view list, uint32_t colour);

/// A text fit for one line: blanks around it removed, then every tab, CR and LF removed.
std::string SanitiseLine(std::string_view text);

/// The whole number at the start of `text`, after blanks and an optional sign; 0 when none.
int64_t LeadingNumber(std::string_view text);

/// A decimal text (point or comma) as hundredths, rounded to the nearest; 0 when not a number.
int64_t TextToHundredths(std::string_view text);

/// `hundredths` / 100 with two decimals ("1.00").
std::string HundredthsText(int64_t hundredths);

/// `value` limited to min..max.
int64_t ClampToRange(int64_t value, int64_t min, int64_t max);

/// Font names keep no commas: "Fonts" is a comma-separated list.
std::string FontNameForList(std::string_view name);

/// The filter list of the watermark image chooser: every supported pattern first, then PNG, BMP
/// and JPEG each with their patterns, then all files.
std::string WatermarkImageFilter(std::string_view all_supported_text,
                                 std::string_view all_files_text);
