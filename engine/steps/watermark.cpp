#include "engine/steps/watermark.h"

#include "engine/image/sample_depth.h"
#include "engine/steps/image_watermark.h"
#include "engine/steps/text_watermark.h"
#include "engine/steps/watermark_placement.h"

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
