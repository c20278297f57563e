#pragma once

// The solid frame painted along the edges of the image.

#include <cstdint>

#include "settings/program_settings.h"
#include "engine/bitmap.h"

/// Paints the "Frame" bands over the edges of the image; unchanged when there is none.
Bitmap DrawFrame(Bitmap image, const ProgramSettings& settings);
