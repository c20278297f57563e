#pragma once

// The watermark step: the text or image layer drawn, placed and composited over the image.

#include <cstdint>

#include "engine/image/bitmap.h"
#include "engine/output/naming.h"
#include "engine/steps/watermark_font.h"
#include "settings/program_settings.h"

/// What a watermark is drawn from besides its settings: the run's font for a text watermark, the
/// picture decoded from "Image" (LoadWatermarkImage) for an image watermark. A watermark whose
/// source is missing is left out.
struct WatermarkSources {
  const Font* font = nullptr;
  FIBITMAP* picture = nullptr;
};

/// Draws the "Do Watermark" layer over the image, which comes back in 24 bits whenever a
/// watermark is on; `tokens` expand the text.
Bitmap DrawWatermark(Bitmap image, const ProgramSettings& settings, const TokenValues& tokens,
                     const WatermarkSources& sources);
