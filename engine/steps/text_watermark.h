#pragma once

// The text watermark: token expansion, line layout and the drawn 32-bit layer.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/draw/drawing.h"
#include "engine/image/bitmap.h"
#include "engine/output/naming.h"
#include "settings/program_settings.h"

/// Lines beyond this many are not laid out; such a text gives no layer.
inline constexpr size_t MaxWatermarkLines = 4096;

/// Where the lines of a text watermark go, and the size of the box around them.
struct TextBlock {
  int width = 0;  // including the padding on both sides
  int height = 0;
  int step = 0;  // from one line's top to the next
  int padding = 0;
};

/// The text with the naming tokens expanded when it holds at least two "%"; its literal
/// characters keep their case.
std::string ExpandWatermarkText(std::string_view text, const TokenValues& tokens);

/// The lines of a text, split at "%eol%" in any case; one line when it has none.
std::vector<std::string> SplitWatermarkLines(std::string_view text);

/// The box for lines of these sizes: one line keeps its own size, several take the largest width
/// and height (at least 10 each) with `leading` between them; `padding` surrounds the text.
TextBlock LayOutTextBlock(std::span<const TextExtent> lines, int leading, int padding);

/// The left edge of a line `line_width` wide in the box for "Text Alignment" `alignment`.
int AlignLine(const TextBlock& block, int line_width, int alignment);

/// The "Text" watermark in `font` as a 32-bit layer with alpha; empty when it cannot be drawn.
Bitmap DrawTextLayer(const Font& font, const WatermarkSettings& watermark,
                     const TokenValues& tokens);
