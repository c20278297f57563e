#include "engine/watermark.h"

bool LoadWatermarkFont(const ProgramSettings& settings) { return !settings.watermark.font.empty(); }

void ReleaseWatermarkFont() {}

Bitmap DrawWatermark(Bitmap image, int32_t, int32_t, const ProgramSettings&, const TokenValues&) {
  return image;
}
