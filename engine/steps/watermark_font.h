#pragma once

// The watermark font of a run, without the image types: the front ends and the run hold it.

#include <memory>

#include "settings/program_settings.h"

struct Font;

/// A run's watermark font: loaded once before the first file, read by the worker, released with
/// the run's last reference.
using WatermarkFont = std::shared_ptr<const Font>;

/// The watermark font of "Font", "Font Size", style and effect; empty when the face is not
/// installed or the size is out of range.
WatermarkFont LoadWatermarkFont(const ProgramSettings& settings);
