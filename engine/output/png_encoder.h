#pragma once

// Our own PNG writer on libpng. It writes the chunks FreeImage's PNG writer writes for a bitmap
// (same colour type, depth, palette, transparency, resolution, profile and text), but filters
// only where compression can profit from it and deflates the image in slices on every core: each
// slice is compressed on its own and ends in a block that is not final, on a byte boundary, so
// the slices join into one zlib stream whose checksum is combined from theirs.

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

/// How each row is filtered before compression.
enum class PngFilter {
  None,
  Sub,
  Up,
  Average,
  Paeth,
  Adaptive,     // per row the least sum of None, Sub and Paeth (FreeImage's choice for colour)
  AdaptiveAll,  // per row the least sum of all five
};

struct PngEncoding {
  int32_t level = 6;                // zlib level, 0 (stored) to 9
  bool interlaced = false;          // Adam7
  std::optional<PngFilter> filter;  // none: the filter that fits the level and the image
  int32_t threads = 0;              // 0: one per usable processor
  size_t slice_bytes = 0;       // filtered bytes a slice aims at; 0: chosen from the image's size
  bool srgb = false;            // an sRGB chunk, when the bitmap carries no profile of its own
  bool grey_from_rgba = false;  // RGBA whose every pixel is grey goes out as grey (PngGreyFromRgba)
};

/// A save flag of ours, above every flag FreeImage defines for any format: the pixels are sRGB
/// and say so with an sRGB chunk unless the bitmap carries a profile.
constexpr int32_t PngSrgbChunk = 0x40000000;

/// A save flag of ours beside PngSrgbChunk: the bitmap, RGBA of 8 or 16 bits per channel, holds
/// grey pixels only (red, green and blue alike, which the caller vouches for) and goes out as grey
/// with alpha, or as grey alone when its alpha is 8 bits and all opaque. Other bitmaps ignore it.
constexpr int32_t PngGreyFromRgba = 0x20000000;

/// What FreeImage's PNG save `flags` (and PngSrgbChunk, PngGreyFromRgba) ask for: the zlib level,
/// interlacing, the sRGB chunk and grey with alpha.
PngEncoding PngEncodingFor(int32_t flags);

/// Writes `image` to `file` from its current position. False when the bitmap has no PNG form
/// (a type or depth FreeImage's PNG writer does not take either) or when a write fails.
bool WritePng(FIBITMAP* image, FILE* file, const PngEncoding& encoding);
