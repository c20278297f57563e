#pragma once

// The solid frame painted along the edges of the image.

#include <cstdint>

#include "settings/program_settings.h"
#include "engine/bitmap.h"

/// Paints the "Frame" bands over the image of `width` x `height`; unchanged when there is none.
Bitmap DrawFrame(Bitmap image, int32_t width, int32_t height, const ProgramSettings& settings);
