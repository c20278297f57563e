#pragma once

// Colour texts of six hexadecimal digits RRGGBB, as the settings store them.

#include <cstdint>
#include <string_view>

/// Red | green << 8 | blue << 16 from "RRGGBB"; a pair stops at its first non-hexadecimal
/// character, and a text of any other length gives black.
uint32_t ParseHexColour(std::string_view text);

/// ParseHexColour with `alpha` (its low byte) in the fourth byte.
uint32_t ParseHexColourAlpha(std::string_view text, int32_t alpha);
