#include "engine/steps/watermark_font.h"

#include <optional>

#include "engine/draw/drawing.h"

WatermarkFont LoadWatermarkFont(const ProgramSettings& settings) {
  const WatermarkSettings& watermark = settings.watermark;
  // Beyond its range a size could never be drawn.
  if (!SettingOf("Watermark", "Font Size").range.Contains(watermark.font_size)) return nullptr;
  const int8_t style = watermark.font_style;
  const bool bold = style == ToValue(FontStyle::Bold) || style == ToValue(FontStyle::BoldItalic);
  const bool italic =
      style == ToValue(FontStyle::Italic) || style == ToValue(FontStyle::BoldItalic);
  std::optional<Font> font = OpenFont(watermark.font, watermark.font_size, bold, italic,
                                      watermark.font_effect == ToValue(FontEffect::Underline),
                                      watermark.font_effect == ToValue(FontEffect::Strikethrough));
  if (!font) return nullptr;
  return std::make_shared<const Font>(std::move(*font));
}
