#pragma once

// The placement that every watermark layer goes through: turned, cropped, anchored, composited.

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// Turns, crops and anchors the layer by the text or image settings (after "Do Watermark") and
/// composites it over the 24-bit image. The image comes back unchanged when nothing of the layer
/// is left after the crop or it would not lie wholly inside the image.
Bitmap PlaceWatermark(Bitmap image, Bitmap layer, const ProgramSettings& settings);
