#pragma once

// Small FreeImage bitmaps for tests, and readers that see every pixel type the same way.

#include <cstdint>
#include <string>

#include "engine/image/bitmap.h"

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

/// How far two pictures are apart, in 8-bit levels: colour premultiplied by alpha (the colour of a
/// transparent pixel does not count) and alpha itself.
struct PictureDifference {
  bool same_size = false;
  double psnr = 0;        // dB over colour and alpha; `IdenticalPsnr` when nothing differs
  double max_colour = 0;  // the largest difference of a colour sample
  double max_alpha = 0;
};
constexpr double IdenticalPsnr = 99.0;

/// Compares any two images the pipeline or a PNG file makes; not `same_size` when they differ in
/// size, and then nothing else is measured.
PictureDifference ComparePictures(const Bitmap& a, const Bitmap& b);

/// Loads an image file of any format FreeImage recognises by its content; empty when it cannot.
Bitmap LoadImageFile(const std::string& path);
