#pragma once

// The colours of a grey, RGB or Lab document in sRGB, through the document's own ICC profile.
// The profile is untrusted input: this runs only in the decoder process.

#include <cstdint>
#include <functional>
#include <span>

#include "engine/image/bitmap.h"

/// What the samples of a picture mean before they are converted.
enum class DocumentColours { Grey, Rgb, Lab };

/// The samples of `image` (8- or 16-bit grey; 24- or 32-bit, RGB16 or RGBA16 colour; for Lab the
/// L, a, b samples FreeImage loads with PSD_LAB, in the same bitmap kinds) converted in place to
/// sRGB through `profile`, relative colorimetric with black-point compensation, alpha untouched.
/// Grey stays grey, encoded with the sRGB curve. Lab without a usable Lab profile goes through
/// LittleCMS's Lab D50. The result carries no profile: an empty, damaged, unusable or
/// other-space profile is dropped and the samples kept, as are those of an sRGB profile, whose
/// conversion would change nothing. `before_conversion`, when given, is called with the picture
/// once it is certain that its samples will change, before they do: what was blended in the
/// document's colours is undone there. Empty only when the image is empty.
Bitmap ConvertToSrgb(Bitmap image, std::span<const uint8_t> profile, DocumentColours colours,
                     const std::function<void(FIBITMAP*)>& before_conversion = {});

/// True when `profile` describes sRGB (or, for grey, the sRGB curve) closely enough that a
/// conversion to sRGB would leave every 16-bit sample within a level.
bool IsSrgbEquivalent(std::span<const uint8_t> profile);

/// The picture rebuilt from the layers of the grey or RGB document at `path` (as
/// RebuildFromLayers makes it) in sRGB through the document's profile; unchanged for other
/// documents (a CMYK or Lab one is sRGB already, an indexed one's palette is taken as sRGB) and
/// when the file cannot be read.
Bitmap RebuiltPictureToSrgb(Bitmap picture, const char* path);
