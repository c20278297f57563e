#include "engine/transforms.h"

Bitmap RotateImage(Bitmap image, const ProgramSettings&) { return image; }

Bitmap ResizeImage(Bitmap image, int32_t, int32_t, const ProgramSettings&) { return image; }

void FlipImage(const Bitmap&, const ProgramSettings&) {}
