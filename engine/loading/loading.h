#pragma once

// The first step of every file, the input read as a Photoshop document, and the watermark image.
// Both are decoded in the decoder process.

#include <string>

#include "engine/image/bitmap.h"

/// Loads `path` as a Photoshop document; empty when it cannot be read or has no pixels.
Bitmap LoadInputImage(const std::string& path);

/// Loads the watermark image at `path` (a Photoshop document or any format FreeImage reads) after
/// a look at its declared size, which must keep WatermarkBound; empty when it cannot be read, is
/// too large or does not decode.
Bitmap LoadWatermarkImage(const std::string& path);
