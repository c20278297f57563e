#include "engine/frame.h"

Bitmap DrawFrame(Bitmap image, int32_t, int32_t, const ProgramSettings&) { return image; }
