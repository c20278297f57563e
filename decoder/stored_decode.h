#pragma once

// The pictures FreeImage decodes in the decoder process: a document's stored composite, and a
// watermark image of any other format. Both are untrusted: what FreeImage would trust blindly is
// checked first.

#include <FreeImage.h>

#include "engine/image/bitmap.h"
#include "engine/image/file_stream.h"
#include "engine/image/image_header.h"

/// How the decode of an image of any format ended.
enum class AnyFormatDecode { Decoded, Unreadable, BeyondBound };

/// Decodes the image in `input` (any format FreeImage reads but PSD, which only comes through our
/// structure check: found by its content, else by `hint`) into `image`, after a look at its
/// declared size where the format allows one. BeyondBound when the declared or decoded size
/// breaks `bound`, Unreadable when it cannot be decoded.
AnyFormatDecode DecodeAnyFormat(FileStream& input, FREE_IMAGE_FORMAT hint, const DecodeBound& bound,
                                Bitmap& image);

/// Makes a 32-bit bitmap opaque when every pixel's alpha is zero: FreeImage hands a 32-bit BMP on
/// with its unused fourth byte as alpha.
void MakeUnusedAlphaOpaque(FIBITMAP* image);

/// The stored composite of the Photoshop document at `path`, read through `input`: with
/// `through_profile` a CMYK document's colours go through its ICC profile where it serves, else
/// FreeImage converts them; with `to_srgb` a grey or RGB document's colours go to sRGB through
/// its profile (ConvertToSrgb), else they keep their samples and profile. Lab always goes through
/// LittleCMS. Empty when a packed row would not unpack within its bytes (FreeImage would read
/// past it) or FreeImage cannot decode the document.
Bitmap DecodeStoredComposite(const char* path, FileStream& input, bool through_profile,
                             bool to_srgb);
