#include "engine/steps/watermark.h"

#include <optional>

#include "engine/draw/drawing.h"
#include "engine/image/sample_depth.h"
#include "engine/steps/image_watermark.h"
#include "engine/steps/text_watermark.h"
#include "engine/steps/watermark_placement.h"

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

Bitmap DrawWatermark(Bitmap image, const ProgramSettings& settings, const TokenValues& tokens,
                     const WatermarkSources& sources) {
  const WatermarkSettings& watermark = settings.watermark;
  if (!image || watermark.do_watermark == ToValue(WatermarkType::None)) return image;

  // Layers are composited over a plain RGB image; an alpha channel is dropped here.
  image = ToPlainRgb(std::move(image));
  if (!image) return image;

  Bitmap layer;
  switch (watermark.do_watermark) {
    case ToValue(WatermarkType::Text): {
      if (!sources.font) return image;
      layer = DrawTextLayer(*sources.font, watermark, tokens);
      break;
    }
    case ToValue(WatermarkType::Image):
      layer = DrawImageLayer(sources.picture, watermark);
      break;
    default:
      return image;
  }
  if (!layer) return image;
  return PlaceWatermark(std::move(image), std::move(layer), settings);
}
