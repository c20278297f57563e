#pragma once

// The text or image watermark, and the watermark font of a run.

#include <cstdint>

#include "engine/bitmap.h"
#include "engine/naming.h"
#include "engine/watermark_font.h"
#include "settings/program_settings.h"

/// Draws the "Do Watermark" layer over the image; `tokens` expand the text, which is drawn in
/// `font` (a text watermark without a font is left out).
Bitmap DrawWatermark(Bitmap image, const ProgramSettings& settings, const TokenValues& tokens,
                     const Font* font);
