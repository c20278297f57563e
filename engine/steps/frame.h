#pragma once

// The solid frame painted along the edges of the image.

#include <cstdint>

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// Paints the "Frame" bands over the edges of the image; unchanged when there is none.
Bitmap DrawFrame(Bitmap image, const ProgramSettings& settings);
