#include "engine/steps/text_watermark.h"

#include <algorithm>
#include <cmath>

#include "engine/steps/hex_colour.h"
#include "platform/ascii.h"

namespace {

constexpr std::string_view LineBreak = "%eol%";
constexpr int MinLineSide = 10;
// Text is measured on a small image of its own before the layer's size is known.
constexpr int MeasuringSide = 10;

int ClampOpacity(int32_t opacity) { return std::clamp<int32_t>(opacity, 0, 255); }

struct DrawnLine {
  Layout layout;
  TextExtent extent;
};

}  // namespace

std::string ExpandWatermarkText(std::string_view text, const TokenValues& tokens) {
  std::string expanded(text);
  if (std::count(text.begin(), text.end(), '%') < 2) return expanded;
  // Only tokens written in the text itself are expanded, so a value that happens to hold a later
  // token stays as it is.
  const std::string lower = ToLowerAscii(text);  // tokens and the line break are ASCII
  for (std::string_view token : NamingTokens) {
    if (lower.find(token) != std::string::npos) expanded = ReplaceToken(expanded, token, tokens);
  }
  return expanded;
}

std::vector<std::string> SplitWatermarkLines(std::string_view text) {
  const std::string lower = ToLowerAscii(text);  // tokens and the line break are ASCII
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t found = lower.find(LineBreak); found != std::string::npos;
       found = lower.find(LineBreak, start)) {
    lines.emplace_back(text.substr(start, found - start));
    start = found + LineBreak.size();
  }
  lines.emplace_back(text.substr(start));
  return lines;
}

TextBlock LayOutTextBlock(std::span<const TextExtent> lines, int leading, int padding) {
  TextBlock block;
  block.padding = padding;
  if (lines.empty()) return block;
  int width = lines.front().width;
  int height = lines.front().height;
  if (lines.size() > 1) {
    int line_height = MinLineSide;
    width = MinLineSide;
    for (const TextExtent& line : lines) {
      width = std::max(width, line.width);
      line_height = std::max(line_height, line.height);
    }
    block.step = line_height + leading;
    height = line_height + static_cast<int>(lines.size() - 1) * block.step;
  }
  block.width = width + 2 * padding;
  block.height = height + 2 * padding;
  return block;
}

int AlignLine(const TextBlock& block, int line_width, int alignment) {
  switch (alignment) {
    case ToValue(TextAlignment::Left):
      return block.padding;
    case ToValue(TextAlignment::Center):
      return static_cast<int>(std::lround((block.width - line_width) / 2.0));
    case ToValue(TextAlignment::Right):
      return block.width - line_width - block.padding;
  }
  return 0;
}

Bitmap DrawTextLayer(const Font& font, const WatermarkSettings& watermark,
                     const TokenValues& tokens) {
  const std::vector<std::string> texts =
      SplitWatermarkLines(ExpandWatermarkText(watermark.text, tokens));
  if (texts.size() > MaxWatermarkLines) return {};
  const TextRendering rendering =
      watermark.text_antialiasing ? TextRendering::Smooth : TextRendering::Plain;

  const Surface measuring = CreateImage(MeasuringSide, MeasuringSide);
  const Context measuring_context = CreateContext(measuring);
  if (!measuring_context) return {};
  std::vector<DrawnLine> lines;
  std::vector<TextExtent> extents;
  for (const std::string& text : texts) {
    Layout layout = CreateTextLayout(measuring_context.get(), font, text, rendering);
    if (!layout) return {};
    const TextExtent extent = MeasureLayout(layout.get());
    extents.push_back(extent);
    lines.push_back({std::move(layout), extent});
  }
  const TextBlock block = LayOutTextBlock(extents, watermark.font_leading, watermark.text_padding);
  const bool single = lines.size() == 1;

  const Surface text_image = CreateImage(block.width, block.height);
  const Context text_context = CreateContext(text_image);
  if (!text_context) return {};

  if (rendering == TextRendering::Plain) {
    const PackedColour fore =
        ParseHexColourAlpha(watermark.font_color, ClampOpacity(watermark.text_opacity));
    const PackedColour back =
        ParseHexColourAlpha(watermark.back_color, ClampOpacity(watermark.back_opacity));
    // Every pixel is either the box or a glyph, each with its own opacity: nothing is blended.
    FillBox(text_context.get(), 0, 0, block.width, block.height, back, true);
    for (size_t i = 0; i < lines.size(); ++i) {
      const int x = single ? block.padding
                           : AlignLine(block, lines[i].extent.width, watermark.text_alignment);
      const int y = block.padding + static_cast<int>(i) * block.step;
      DrawLayout(text_context.get(), lines[i].layout.get(), x, y, fore, rendering);
    }
    return ToFreeImage(text_image);
  }

  const PackedColour fore = ParseHexColourAlpha(watermark.font_color, 255);
  const PackedColour back = ParseHexColourAlpha(watermark.back_color, 255);
  const Surface box = CreateImage(block.width, block.height);
  const Context box_context = CreateContext(box);
  if (!box_context) return {};
  FillBox(box_context.get(), 0, 0, block.width, block.height, back);
  for (size_t i = 0; i < lines.size(); ++i) {
    const int line_width = static_cast<int>(std::lround(MeasureLayoutWidth(lines[i].layout.get())));
    const int x = single ? block.padding : AlignLine(block, line_width, watermark.text_alignment);
    const int y = block.padding + static_cast<int>(i) * block.step;
    DrawLayout(text_context.get(), lines[i].layout.get(), x, y, fore, rendering);
  }

  const Surface layer = CreateImage(block.width, block.height);
  const Context layer_context = CreateContext(layer);
  if (!layer_context) return {};
  DrawImage(layer_context.get(), box, 0, 0, ClampOpacity(watermark.back_opacity));
  DrawImage(layer_context.get(), text_image, 0, 0, ClampOpacity(watermark.text_opacity));
  return ToFreeImage(layer);
}
