#pragma once

// The first step of every file: the input read as a Photoshop document.

#include <string>

#include "engine/bitmap.h"

/// Loads `path` as a Photoshop document; empty when it cannot be read or has no pixels.
Bitmap LoadInputImage(const std::string& path);
