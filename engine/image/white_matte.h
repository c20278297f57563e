#pragma once

// The merged image of a transparent document is matted against white: each colour sample holds
// c * a + full * (1 - a). Undoing that gives soft edges their true colour back. The blend was made
// in the document's own colours, so it is undone before they are converted to others.

#include <cstdint>

#include "engine/image/bitmap.h"

/// The straight sample under `stored` at `alpha` (both 0..full): (stored - (full - alpha)) / alpha
/// of full, rounded and clamped to 0..full; `stored` itself where alpha is 0.
uint16_t UnmatteSample(uint32_t stored, uint32_t alpha, uint32_t full);

/// The same for 8-bit samples, by a table of every answer.
uint8_t UnmatteSample8(uint8_t stored, uint8_t alpha);

/// Undoes the white matte of every colour sample of `image` in place, where alpha is neither 0
/// nor full: 32-bit colour, RGBA16 or RGBAF. False, and nothing done, for other kinds of bitmap,
/// which carry no alpha.
bool RemoveWhiteMatteInPlace(FIBITMAP* image);
