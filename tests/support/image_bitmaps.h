#pragma once

// Small FreeImage bitmaps for tests, and readers that see every pixel type the same way.

#include <cstdint>
#include <string>

#include "engine/bitmap.h"

/// One pixel in 16 bits per channel: 8-bit values are scaled by 257, greys fill all three colours
/// and images without alpha read as opaque.
struct Rgba16 {
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  uint16_t alpha = 0xFFFF;
};

/// A `width` x `height` image whose four corners differ, the rest mid-grey. `bpp` picks the kind
/// a document can load as: 1, 4, 8 (grey), 16 (16-bit grey), 24, 32 (alpha), 48 (16-bit RGB),
/// 64 (16-bit RGBA), 96 (float RGB), 128 (float RGBA). Empty for any other depth.
Bitmap MakeTestBitmap(int width, int height, int bpp);

/// The colour `MakeTestBitmap` gives the pixel at `x`, `y` (top row 0), in 16 bits per channel.
Rgba16 TestBitmapColour(int width, int height, int bpp, int x, int y);

/// A uniform image of FreeImage type `type` (FIT_BITMAP at 24 or 32 bits, FIT_UINT16, FIT_RGB16,
/// FIT_RGBA16) holding `colour` in every pixel; empty for other types.
Bitmap MakeUniformBitmap(FREE_IMAGE_TYPE type, int bpp, int width, int height, Rgba16 colour);

/// The pixel at `x`, `y` (top row 0) of any image the pipeline makes.
Rgba16 ReadPixel(const Bitmap& image, int x, int y);

/// Loads an image file of any format FreeImage recognises by its content; empty when it cannot.
Bitmap LoadImageFile(const std::string& path);
