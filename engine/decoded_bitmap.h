#pragma once

// How the decoder process hands a bitmap to the program: one flat record in a memory file (a
// header, the palette, the transparency table, the ICC profile, then the pixel rows exactly as
// FreeImage holds them), so the program never decodes the document a second time.

#include <cstdint>

#include "engine/bitmap.h"

/// Limits on what a decoded record may claim, whatever the child wrote.
struct DecodedBitmapLimits {
  uint32_t width = 0;   // the width the document's header declares
  uint32_t height = 0;  // the height the document's header declares
  uint64_t max_icc_bytes = 0;
};

/// Writes `image` to the start of `fd` (truncating it); false when a write fails.
bool WriteDecodedBitmap(int fd, FIBITMAP* image);

/// Reads a record written by WriteDecodedBitmap back into a new bitmap; empty when the record is
/// short, inconsistent or outside `limits`.
Bitmap ReadDecodedBitmap(int fd, const DecodedBitmapLimits& limits);
