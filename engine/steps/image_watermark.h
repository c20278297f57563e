#pragma once

// The image watermark layer, drawn from a picture already decoded (LoadWatermarkImage).

#include <FreeImage.h>

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// `picture` at "Image Opacity", grey with "Image Greyscale", as a 32-bit layer with alpha; empty
/// when there is no picture or it cannot be drawn.
Bitmap DrawImageLayer(FIBITMAP* picture, const WatermarkSettings& watermark);
