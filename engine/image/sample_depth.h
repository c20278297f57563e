#pragma once

// Sample depths of an image in work: the one reduction of 16 bits per channel to 8, and the
// encoding of floating-point samples, which are linear light, into 16 bits.

#include <cstdint>

#include "engine/image/bitmap.h"

/// Brings the image to 8 bits per channel: 16-bit samples by their high byte (grey stays grey,
/// RGB becomes 24-bit, RGBA 32-bit with its transparency), floating-point samples first encoded
/// as by EncodeFloatSamples, other integer grey types scaled to the full range. Images of 8 bits
/// or fewer per channel pass unchanged; empty when FreeImage cannot convert.
Bitmap ReduceToEightBitChannels(Bitmap image);

/// The image as plain 24-bit RGB, what drawn layers are composited over: an alpha channel is
/// dropped, grey and palette images widened, 16 bits per channel reduced. Unchanged when it is
/// already; empty when FreeImage cannot convert.
Bitmap ToPlainRgb(Bitmap image);

/// Turns floating-point samples, which are linear light, into 16 bits per channel: clipped to
/// 0..1 and encoded with the sRGB transfer curve (1.0 gives 65535); alpha is scaled linearly.
/// Grey gives 16-bit grey, RGB 48 bits, RGBA 64 bits; the resolution and metadata stay, the
/// linear colour profile goes. Other images pass unchanged; empty when memory runs out.
Bitmap EncodeFloatSamples(Bitmap image);

/// The sRGB encoding of one linear sample in 16 bits: clipped to 0..1, NaN as 0.
uint16_t EncodeLinearSample(float linear);
