#pragma once

// Colour correction, greyscale and threshold of the image in work.

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// Applies brightness, contrast, gamma and inversion; unchanged when correction is off.
Bitmap CorrectColours(Bitmap image, const ProgramSettings& settings);

/// Turns the image into 8-bit greyscale; unchanged when greyscale is off.
Bitmap MakeGreyscale(Bitmap image, const ProgramSettings& settings);

/// Reduces the image to 1-bit black and white at the threshold level; unchanged when off.
Bitmap ApplyThreshold(Bitmap image, const ProgramSettings& settings);
