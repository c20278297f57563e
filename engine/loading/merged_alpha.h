#pragma once

// The alpha channel of a loaded document, by the document's own word: FreeImage makes alpha of
// whatever extra channel comes first, and drops it from CMYK documents.

#include <cstdint>
#include <span>

#include "engine/image/bitmap.h"
#include "engine/psd/psd_check.h"

/// Keeps alpha only where `transparent` (see HasMergedTransparency): without it, the alpha
/// FreeImage made of a saved selection or spot channel goes; with it, a CMYK document gets its
/// transparency plane from `file`. Unchanged for other images; empty when a conversion fails or the
/// plane is damaged.
Bitmap KeepMergedTransparency(Bitmap image, std::span<const uint8_t> file, const PsdLayout& layout,
                              bool transparent);
