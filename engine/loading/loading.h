#pragma once

// The first step of every file, the input read as a Photoshop document, and the watermark image.
// Both are decoded in the decoder process.

#include <string>

#include "engine/image/bitmap.h"

/// Loads `path` as a Photoshop document; empty when it cannot be read or has no pixels. Its
/// colours come as sRGB through its ICC profile and the bitmap carries no profile, unless
/// `keep_profile`: then a grey or RGB document keeps its samples and profile (a grey one whose
/// transparency makes it colour is converted all the same). CMYK and Lab always become sRGB.
Bitmap LoadInputImage(const std::string& path, bool keep_profile = false);

/// Loads the watermark image at `path` (a Photoshop document or any format FreeImage reads) after
/// a look at its declared size, which must keep WatermarkBound; empty when it cannot be read, is
/// too large or does not decode.
Bitmap LoadWatermarkImage(const std::string& path);
