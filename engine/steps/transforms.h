#pragma once

// Rotation, resizing and flipping of the image in work.

#include <cstdint>
#include <string_view>

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// Turns the image by the "Image Rotation" angle of group "Transform"; unchanged when rotation
/// is off or the angle is outside 1..359; empty when FreeImage cannot rotate it.
Bitmap RotateImage(Bitmap image, const ProgramSettings& settings);

/// Rescales the image to the "Transform" target size, reckoned from the image's own size;
/// unchanged when resizing is off or the size would not change; empty when rescaling fails or
/// the result would not fit `available_memory` (0: unknown) by the measure a decode is weighed
/// with, which is found out before anything is allocated.
Bitmap ResizeImage(Bitmap image, const ProgramSettings& settings, uint64_t available_memory = 0);

/// Mirrors the image, left-right then top-bottom, as the settings ask; the same bitmap comes back.
Bitmap FlipImage(Bitmap image, const ProgramSettings& settings);
