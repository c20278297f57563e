#pragma once

// The image watermark layer, and the placement that every watermark layer goes through.

#include <cstdint>

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// The "Image" file at "Image Opacity", grey with "Image Greyscale", as a 32-bit layer with
/// alpha; empty when the file cannot be loaded or drawn.
Bitmap DrawImageLayer(const WatermarkSettings& watermark);

/// Turns, crops and anchors the layer by the text or image settings (after "Do Watermark") and
/// composites it over the 24-bit image. The image comes back unchanged when nothing of the layer
/// is left after the crop or it would not lie wholly inside the image.
Bitmap PlaceWatermark(Bitmap image, Bitmap layer, const ProgramSettings& settings);
