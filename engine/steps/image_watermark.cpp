#include "engine/steps/image_watermark.h"

#include "engine/draw/drawing.h"

Bitmap DrawImageLayer(FIBITMAP* picture, const WatermarkSettings& watermark) {
  if (!picture) return {};
  const Surface source = FromFreeImage(picture);
  if (!source) return {};
  // Grey is taken from the file's own colours, before the opacity thins them.
  if (watermark.image_greyscale == 1) MakeGrey(source);
  const Surface layer = CreateImage(ImageWidth(source), ImageHeight(source));
  const Context context = CreateContext(layer);
  if (!context) return {};
  DrawImage(context.get(), source, 0, 0, watermark.image_opacity);
  return ToFreeImage(layer);
}
