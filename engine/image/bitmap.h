#pragma once

// The one owner of an image in work. Empty means "no image": a step failed.

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

/// The ICC profile `image` carries, as bytes; empty when it has none.
std::string IccProfileOf(FIBITMAP* image);

/// Whether `profile` describes pixels of `image`'s kind, as a PNG may hold it: a grey profile grey
/// ones, an RGB profile colour or palette ones; true for no image. With `grey_in_rgba`, an RGBA
/// image counts as grey: it goes out as grey with alpha.
bool IccProfileFits(const std::string& profile, FIBITMAP* image, bool grey_in_rgba = false);

/// `image` carrying `profile` when it has none of its own and the profile fits it (as
/// IccProfileFits with `grey_in_rgba`); otherwise `image` as it is. The steps of a run make new
/// bitmaps, which lose the profile.
Bitmap WithIccProfile(Bitmap image, const std::string& profile, bool grey_in_rgba = false);
