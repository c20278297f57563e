#pragma once

// The text or image watermark, and the watermark font of a run.

#include <cstdint>

#include "core/program_settings.h"
#include "engine/bitmap.h"
#include "engine/naming.h"

/// Loads the run's watermark font ("Font", "Font Size", style and effect); false when the face
/// is not installed.
bool LoadWatermarkFont(const ProgramSettings& settings);

/// Releases the run's watermark font, if one is loaded.
void ReleaseWatermarkFont();

/// Draws the "Do Watermark" layer over the image of `width` x `height`; `tokens` expand the text.
Bitmap DrawWatermark(Bitmap image, int32_t width, int32_t height, const ProgramSettings& settings,
                     const TokenValues& tokens);
