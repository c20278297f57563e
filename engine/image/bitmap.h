#pragma once

// The one owner of an image in work. Empty means "no image": a step failed.

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <memory>

struct BitmapUnload {
  /// Unloads the bitmap and releases the memory mapping its pixels live in, if it has one.
  void operator()(FIBITMAP* bitmap) const noexcept;
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapUnload>;

/// Hands the mapping [address, address + length) to `bitmap`, whose pixels point into it, so the
/// mapping is released together with the bitmap.
void AttachPixelMapping(FIBITMAP* bitmap, void* address, size_t length);

/// A colour parsed from "RRGGBB" (ParseHexColour) as FreeImage's RGBQUAD, with the reserved byte 0.
RGBQUAD ToRgbQuad(uint32_t colour);
