#include "tests/support/image_bitmaps.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint16_t Level(int eight_bit) { return static_cast<uint16_t>(eight_bit * 257); }

uint16_t FromFloat(float value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<uint16_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 65535.0f));
}

float ToFloat(uint16_t value) { return static_cast<float>(value) / 65535.0f; }

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight, None };

Corner CornerAt(int width, int height, int x, int y) {
  const bool left = x == 0;
  const bool right = x == width - 1;
  const bool top = y == 0;
  const bool bottom = y == height - 1;
  if (top && left) return Corner::TopLeft;
  if (top && right) return Corner::TopRight;
  if (bottom && left) return Corner::BottomLeft;
  if (bottom && right) return Corner::BottomRight;
  return Corner::None;
}

// 4-bit images hold indices into a 16-level grey palette.
int FourBitIndex(Corner corner) {
  switch (corner) {
    case Corner::TopLeft:
      return 0;
    case Corner::TopRight:
      return 5;
    case Corner::BottomLeft:
      return 10;
    case Corner::BottomRight:
      return 15;
    case Corner::None:
      return 8;
  }
  return 8;
}

int OneBitIndex(Corner corner) {
  return corner == Corner::TopRight || corner == Corner::BottomLeft ? 1 : 0;
}

Rgba16 Grey(uint16_t level) { return Rgba16{level, level, level, 0xFFFF}; }

bool HasAlpha(int bpp) { return bpp == 32 || bpp == 64 || bpp == 128; }

void FillGreyPalette(FIBITMAP* dib, int levels) {
  RGBQUAD* palette = FreeImage_GetPalette(dib);
  for (int i = 0; i < levels; ++i) {
    const BYTE value = static_cast<BYTE>(i * 255 / (levels - 1));
    palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = value;
    palette[i].rgbReserved = 0;
  }
}

void WritePixel(FIBITMAP* dib, int x, int row, Rgba16 colour) {
  BYTE* line = FreeImage_GetScanLine(dib, row);
  switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP: {
      const unsigned bytes = FreeImage_GetBPP(dib) / 8;
      BYTE* pixel = line + x * bytes;
      if (bytes == 1) {
        pixel[0] = static_cast<BYTE>(colour.red >> 8);
        return;
      }
      pixel[FI_RGBA_RED] = static_cast<BYTE>(colour.red >> 8);
      pixel[FI_RGBA_GREEN] = static_cast<BYTE>(colour.green >> 8);
      pixel[FI_RGBA_BLUE] = static_cast<BYTE>(colour.blue >> 8);
      if (bytes == 4) pixel[FI_RGBA_ALPHA] = static_cast<BYTE>(colour.alpha >> 8);
      return;
    }
    case FIT_UINT16:
      reinterpret_cast<WORD*>(line)[x] = colour.red;
      return;
    case FIT_RGB16:
      reinterpret_cast<FIRGB16*>(line)[x] = FIRGB16{colour.red, colour.green, colour.blue};
      return;
    case FIT_RGBA16:
      reinterpret_cast<FIRGBA16*>(line)[x] =
          FIRGBA16{colour.red, colour.green, colour.blue, colour.alpha};
      return;
    case FIT_RGBF:
      reinterpret_cast<FIRGBF*>(line)[x] =
          FIRGBF{ToFloat(colour.red), ToFloat(colour.green), ToFloat(colour.blue)};
      return;
    case FIT_RGBAF:
      reinterpret_cast<FIRGBAF*>(line)[x] = FIRGBAF{ToFloat(colour.red), ToFloat(colour.green),
                                                    ToFloat(colour.blue), ToFloat(colour.alpha)};
      return;
    default:
      return;
  }
}

}  // namespace

Rgba16 TestBitmapColour(int width, int height, int bpp, int x, int y) {
  const Corner corner = CornerAt(width, height, x, y);
  switch (bpp) {
    case 1:
      return Grey(OneBitIndex(corner) ? 0xFFFF : 0);
    case 4:
      return Grey(Level(FourBitIndex(corner) * 17));
    case 8:
    case 16: {
      switch (corner) {
        case Corner::TopLeft:
          return Grey(0);
        case Corner::TopRight:
          return Grey(Level(85));
        case Corner::BottomLeft:
          return Grey(Level(170));
        case Corner::BottomRight:
          return Grey(0xFFFF);
        case Corner::None:
          return Grey(Level(128));
      }
      return Grey(Level(128));
    }
    default:
      break;
  }
  Rgba16 colour;
  switch (corner) {
    case Corner::TopLeft:
      colour = {0xFFFF, 0, 0, 0xFFFF};
      break;
    case Corner::TopRight:
      colour = {0, 0xFFFF, 0, Level(128)};
      break;
    case Corner::BottomLeft:
      colour = {0, 0, 0xFFFF, Level(64)};
      break;
    case Corner::BottomRight:
      colour = {0xFFFF, 0xFFFF, 0, Level(192)};
      break;
    case Corner::None:
      colour = {Level(128), Level(128), Level(128), 0xFFFF};
      break;
  }
  if (!HasAlpha(bpp)) colour.alpha = 0xFFFF;
  return colour;
}

Bitmap MakeTestBitmap(int width, int height, int bpp) {
  if (width <= 0 || height <= 0) return {};
  Bitmap image;
  switch (bpp) {
    case 1:
    case 4:
    case 8:
    case 24:
    case 32:
      image = Bitmap(FreeImage_Allocate(width, height, bpp));
      break;
    case 16:
      image = Bitmap(FreeImage_AllocateT(FIT_UINT16, width, height, 16));
      break;
    case 48:
      image = Bitmap(FreeImage_AllocateT(FIT_RGB16, width, height, 48));
      break;
    case 64:
      image = Bitmap(FreeImage_AllocateT(FIT_RGBA16, width, height, 64));
      break;
    case 96:
      image = Bitmap(FreeImage_AllocateT(FIT_RGBF, width, height, 96));
      break;
    case 128:
      image = Bitmap(FreeImage_AllocateT(FIT_RGBAF, width, height, 128));
      break;
    default:
      return {};
  }
  if (!image) return image;
  FIBITMAP* dib = image.get();
  if (bpp == 1) FillGreyPalette(dib, 2);
  if (bpp == 4) FillGreyPalette(dib, 16);
  if (bpp == 8) FillGreyPalette(dib, 256);

  for (int y = 0; y < height; ++y) {
    const int row = height - 1 - y;  // FreeImage keeps the bottom row first
    for (int x = 0; x < width; ++x) {
      const Corner corner = CornerAt(width, height, x, y);
      if (bpp == 1 || bpp == 4) {
        BYTE index = static_cast<BYTE>(bpp == 1 ? OneBitIndex(corner) : FourBitIndex(corner));
        FreeImage_SetPixelIndex(dib, x, row, &index);
        continue;
      }
      WritePixel(dib, x, row, TestBitmapColour(width, height, bpp, x, y));
    }
  }
  return image;
}

Bitmap MakeUniformBitmap(FREE_IMAGE_TYPE type, int bpp, int width, int height, Rgba16 colour) {
  Bitmap image;
  switch (type) {
    case FIT_BITMAP:
      if (bpp != 24 && bpp != 32) return {};
      image = Bitmap(FreeImage_Allocate(width, height, bpp));
      break;
    case FIT_UINT16:
    case FIT_RGB16:
    case FIT_RGBA16:
      image = Bitmap(FreeImage_AllocateT(type, width, height));
      break;
    default:
      return {};
  }
  if (!image) return image;
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) WritePixel(image.get(), x, row, colour);
  }
  return image;
}

Rgba16 ReadPixel(const Bitmap& image, int x, int y) {
  FIBITMAP* dib = image.get();
  if (!dib) return {};
  const int row = static_cast<int>(FreeImage_GetHeight(dib)) - 1 - y;
  const BYTE* line = FreeImage_GetScanLine(dib, row);
  switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP: {
      const unsigned bpp = FreeImage_GetBPP(dib);
      if (bpp <= 8) {
        BYTE index = 0;
        FreeImage_GetPixelIndex(dib, x, row, &index);
        const RGBQUAD* palette = FreeImage_GetPalette(dib);
        if (!palette) return Grey(Level(index));
        const RGBQUAD entry = palette[index];
        Rgba16 colour{Level(entry.rgbRed), Level(entry.rgbGreen), Level(entry.rgbBlue), 0xFFFF};
        if (FreeImage_IsTransparent(dib) && index < FreeImage_GetTransparencyCount(dib)) {
          colour.alpha = Level(FreeImage_GetTransparencyTable(dib)[index]);
        }
        return colour;
      }
      if (bpp == 16) {
        RGBQUAD colour{};
        FreeImage_GetPixelColor(dib, x, row, &colour);
        return Rgba16{Level(colour.rgbRed), Level(colour.rgbGreen), Level(colour.rgbBlue), 0xFFFF};
      }
      const BYTE* pixel = line + x * (bpp / 8);
      Rgba16 colour{Level(pixel[FI_RGBA_RED]), Level(pixel[FI_RGBA_GREEN]),
                    Level(pixel[FI_RGBA_BLUE]), 0xFFFF};
      if (bpp == 32) colour.alpha = Level(pixel[FI_RGBA_ALPHA]);
      return colour;
    }
    case FIT_UINT16:
      return Grey(reinterpret_cast<const WORD*>(line)[x]);
    case FIT_RGB16: {
      const FIRGB16 pixel = reinterpret_cast<const FIRGB16*>(line)[x];
      return Rgba16{pixel.red, pixel.green, pixel.blue, 0xFFFF};
    }
    case FIT_RGBA16: {
      const FIRGBA16 pixel = reinterpret_cast<const FIRGBA16*>(line)[x];
      return Rgba16{pixel.red, pixel.green, pixel.blue, pixel.alpha};
    }
    case FIT_FLOAT:
      return Grey(FromFloat(reinterpret_cast<const float*>(line)[x]));
    case FIT_RGBF: {
      const FIRGBF pixel = reinterpret_cast<const FIRGBF*>(line)[x];
      return Rgba16{FromFloat(pixel.red), FromFloat(pixel.green), FromFloat(pixel.blue), 0xFFFF};
    }
    case FIT_RGBAF: {
      const FIRGBAF pixel = reinterpret_cast<const FIRGBAF*>(line)[x];
      return Rgba16{FromFloat(pixel.red), FromFloat(pixel.green), FromFloat(pixel.blue),
                    FromFloat(pixel.alpha)};
    }
    default:
      return {};
  }
}

PictureDifference ComparePictures(const Bitmap& a, const Bitmap& b) {
  PictureDifference difference;
  if (!a || !b) return difference;
  const int width = static_cast<int>(FreeImage_GetWidth(a.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(a.get()));
  if (width != static_cast<int>(FreeImage_GetWidth(b.get())) ||
      height != static_cast<int>(FreeImage_GetHeight(b.get()))) {
    return difference;
  }
  difference.same_size = true;
  double squares = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgba16 p = ReadPixel(a, x, y), q = ReadPixel(b, x, y);
      const double pa = p.alpha / 65535.0, qa = q.alpha / 65535.0;
      for (const auto& [u, v] : {std::pair{p.red, q.red}, {p.green, q.green}, {p.blue, q.blue}}) {
        const double d = (u * pa - v * qa) / 257.0;
        squares += d * d;
        difference.max_colour = std::max(difference.max_colour, std::abs(d));
      }
      const double d = (p.alpha - q.alpha) / 257.0;
      squares += d * d;
      difference.max_alpha = std::max(difference.max_alpha, std::abs(d));
    }
  }
  const double mean = squares / (4.0 * width * height);
  difference.psnr =
      mean == 0 ? IdenticalPsnr : std::min(IdenticalPsnr, 10 * std::log10(255.0 * 255.0 / mean));
  return difference;
}

Bitmap LoadImageFile(const std::string& path) {
  const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
  if (format == FIF_UNKNOWN) return {};
  return Bitmap(FreeImage_Load(format, path.c_str(), 0));
}
