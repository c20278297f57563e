#include "engine/steps/watermark.h"

#include "engine/steps/image_watermark.h"
#include "engine/steps/text_watermark.h"

Bitmap DrawWatermark(Bitmap image, const ProgramSettings& settings, const TokenValues& tokens,
                     const Font* font) {
  const WatermarkSettings& watermark = settings.watermark;
  if (!image || watermark.do_watermark == ToValue(WatermarkType::None)) return image;

  // Layers are composited over a plain RGB image; an alpha channel is dropped here.
  if (FreeImage_GetBPP(image.get()) != 24 || FreeImage_GetImageType(image.get()) != FIT_BITMAP) {
    image = Bitmap(FreeImage_ConvertTo24Bits(image.get()));
    if (!image) return image;
  }

  Bitmap layer;
  switch (watermark.do_watermark) {
    case ToValue(WatermarkType::Text): {
      if (!font) return image;
      layer = DrawTextLayer(*font, watermark, tokens);
      break;
    }
    case ToValue(WatermarkType::Image):
      layer = DrawImageLayer(watermark);
      break;
    default:
      return image;
  }
  if (!layer) return image;
  return PlaceWatermark(std::move(image), std::move(layer), settings);
}
