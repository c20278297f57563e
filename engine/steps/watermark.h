#pragma once

// The text or image watermark, and the watermark font of a run.

#include <cstdint>
#include <memory>

#include "engine/image/bitmap.h"
#include "engine/output/naming.h"
#include "settings/program_settings.h"

struct Font;

/// A run's watermark font: loaded once before the first file, read by the worker, released with
/// the run's last reference.
using WatermarkFont = std::shared_ptr<const Font>;

/// The watermark font of "Font", "Font Size", style and effect; empty when the face is not
/// installed or the size is out of range.
WatermarkFont LoadWatermarkFont(const ProgramSettings& settings);

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
