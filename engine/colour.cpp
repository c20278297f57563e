#include "engine/colour.h"

Bitmap CorrectColours(Bitmap image, const ProgramSettings&) { return image; }

Bitmap MakeGreyscale(Bitmap image, const ProgramSettings&) { return image; }

Bitmap ApplyThreshold(Bitmap image, const ProgramSettings&) { return image; }
