#pragma once

// Rotation, resizing and flipping of the image in work.

#include <cstdint>
#include <string_view>

#include "settings/program_settings.h"
#include "engine/bitmap.h"

/// Turns the image by the "Image Rotation" angle of group "Transform"; unchanged when rotation
/// is off or the angle is outside 1..359; empty when FreeImage cannot rotate it.
Bitmap RotateImage(Bitmap image, const ProgramSettings& settings);

/// Rescales the image (of `width` x `height` after rotation) to the "Transform" target size;
/// unchanged when resizing is off or the size would not change; empty when rescaling fails or
/// the result would not fit `available_memory` (0: unknown) by the measure a decode is weighed
/// with, which is found out before anything is allocated.
Bitmap ResizeImage(Bitmap image, int32_t width, int32_t height, const ProgramSettings& settings,
                   uint64_t available_memory = 0);

/// Mirrors the image in place, left-right then top-bottom, as the settings ask.
void FlipImage(const Bitmap& image, const ProgramSettings& settings);
