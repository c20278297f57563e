#pragma once

// JPEG files of the screenshot mode, written with libjpeg.

#include <cstdint>
#include <string>
#include <vector>

/// JPEG bytes of an RGB picture (3 bytes a pixel, top row first) at `quality` (0 to 100); empty
/// when the size does not match the pixels or libjpeg fails.
std::string EncodeJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality);

/// Writes the JPEG of an RGB picture to `path` whole or not at all; false when it cannot.
bool WriteJpegFile(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height,
                   int quality);
