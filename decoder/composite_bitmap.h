#pragma once

// The composite of a rebuild turned into the bitmap a decoder makes of a stored picture.

#include <cstdint>

#include "decoder/compositor.h"
#include "engine/image/bitmap.h"

/// The ink of a CMYK composite as FreeImage loads CMYK samples (8 bits: 32-bit C, M, Y, K bytes;
/// 16 bits: RGBA16 holding C, M, Y, K; 0 = no ink), for a conversion through the document's
/// profile. Empty for other pictures.
Bitmap CompositeToCmykBitmap(const LayerPixels& picture, uint16_t depth);

/// The RGB bitmap of a CMYK composite: `converted` (its colours through the document's profile,
/// 24- or 48-bit, as ConvertCmykThroughProfile makes them) when given, else the plain conversion;
/// with the composite's alpha when some pixel is not opaque. Empty when memory runs out or
/// `converted` does not fit.
Bitmap CmykCompositeToRgb(const LayerPixels& picture, uint16_t depth, Bitmap converted);

/// The composite as the bitmap a decoder makes of a stored picture at the document's depth:
/// 8-bit grey or 24-bit RGB, 16-bit grey or RGB16, float grey or RGBF, and the RGBA kind of
/// each when some pixel is not opaque. Empty when memory runs out.
Bitmap CompositeToBitmap(const LayerPixels& picture, uint16_t depth);
