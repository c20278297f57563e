#pragma once

// The first step of every file, the input read as a Photoshop document, and the watermark image.
// Both are decoded in the decoder process.

#include <cstdint>
#include <string>

#include "engine/image/bitmap.h"

/// Why an input document gave no picture.
enum class LoadFault {
  None,
  NotDocument,  // no Photoshop signature
  Damaged,      // unreadable, damaged, unsupported, or the decoder failed
  TooLarge,     // sound, but its decode needs more memory than there is
};

/// Loads `path` as a Photoshop document; empty when it cannot be read or has no pixels, with the
/// reason in `fault` when given. Its colours come as sRGB through its ICC profile and the bitmap
/// carries no profile, unless `keep_profile`: then a grey or RGB document keeps its samples and
/// profile (a grey one whose transparency makes it colour is converted all the same). CMYK and
/// Lab always become sRGB.
Bitmap LoadInputImage(const std::string& path, bool keep_profile = false,
                      LoadFault* fault = nullptr);
// A fault pointer where the keep flag belongs would be taken as "keep": refused.
Bitmap LoadInputImage(const std::string& path, LoadFault* fault) = delete;

/// The memory a decode of the document at `path` needs by its declared size (the decode's factor
/// times its bitmap, or a rebuild's work); 0 when it is no document that passes the structure
/// check.
uint64_t InputMemoryNeed(const std::string& path);

/// Loads the watermark image at `path` (a Photoshop document or any format FreeImage reads) after
/// a look at its declared size, which must keep WatermarkBound; empty when it cannot be read, is
/// too large or does not decode.
Bitmap LoadWatermarkImage(const std::string& path);
