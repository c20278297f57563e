#pragma once

// The two reductions after rotation and resizing: greyscale to its standard type, and deep colour
// to 8 bits per channel. 16-bit documents keep their precision when nothing needs 8 bits.

#include <cstdint>

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// True when a step that is on (rotation, colour correction, greyscale, threshold, frame,
/// watermark) needs 8 bits per channel.
bool StepsNeedEightBitChannels(const ProgramSettings& settings);

/// True when the output depth (`output_bpp`, 32 or less) or a step that is on needs 8 bits per
/// channel.
bool NeedsEightBitChannels(const ProgramSettings& settings, int32_t output_bpp);

/// True when `image` is 16-bit grey and `output_bpp` keeps it so.
bool KeepsDeepGrey(FIBITMAP* image, int32_t output_bpp);

/// Brings a greyscale image to a standard 8-bit type: 16-bit grey by its high byte, and only when
/// `eight_bits_needed`; other non-standard grey types scaled to the full range. Unchanged for
/// 8-bit and 1-bit greyscale and for colour; empty when FreeImage cannot convert.
Bitmap NormaliseGreyscale(Bitmap image, bool eight_bits_needed);

/// Reduces deep colour to 8 bits per channel: 16-bit colour linearly (alpha kept), and only when
/// `eight_bits_needed`; floating-point images are first encoded as by EncodeFloatSamples unless
/// they go out as 96-bit floats. Unchanged for 8-bit images; empty when FreeImage cannot convert.
Bitmap ReduceDeepColour(Bitmap image, bool eight_bits_needed, int32_t output_bpp);
