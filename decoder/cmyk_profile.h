#pragma once

// Colours of a CMYK document through its own ICC profile. The profile is untrusted input: this
// runs only in the decoder process.

#include "engine/image/bitmap.h"

/// The sRGB image of `cmyk` (8- or 16-bit CMYK samples as FreeImage loads them with PSD_CMYK,
/// 0 = no ink) through the ICC profile it carries, relative colorimetric with black-point
/// compensation, exactly (no precalculated table): 24-bit or 48-bit RGB with the metadata and
/// resolution of `cmyk` and no profile. Empty when `cmyk` carries no profile, the profile does not
/// load or is not CMYK, or the image is of another kind.
Bitmap ConvertCmykThroughProfile(FIBITMAP* cmyk);
