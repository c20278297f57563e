#include "decoder/composite_bitmap.h"

#include <algorithm>
#include <cmath>

namespace {

template <typename Sample>
Sample Quantise(float value, float full) {
  return static_cast<Sample>(std::lround(std::clamp(value, 0.0f, 1.0f) * full));
}

bool IsOpaque(const LayerPixels& picture, uint16_t depth) {
  // The last level below full rounds to full at 8 and 16 bits.
  const float opaque = depth == 8 ? 254.5f / 255 : depth == 16 ? 65534.5f / 65535 : 1.0f;
  const int stride = picture.Stride();
  for (size_t i = picture.colours; i < picture.samples.size(); i += stride) {
    if (picture.samples[i] < opaque) return false;
  }
  return true;
}

}  // namespace

Bitmap CompositeToBitmap(const LayerPixels& picture, uint16_t depth) {
  if (picture.colours == 4) return {};  // CMYK goes through CompositeToCmykBitmap
  const auto width = static_cast<int>(picture.region.Width());
  const auto height = static_cast<int>(picture.region.Height());
  const bool alpha = !IsOpaque(picture, depth);
  const bool grey = picture.colours == 1;
  const int stride = picture.Stride();
  Bitmap image;
  switch (depth) {
    case 8:
      image = Bitmap(FreeImage_Allocate(width, height,
                                        grey && !alpha ? 8
                                        : alpha        ? 32
                                                       : 24,
                                        FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
      break;
    case 16:
      image = Bitmap(FreeImage_AllocateT(grey && !alpha ? FIT_UINT16
                                         : alpha        ? FIT_RGBA16
                                                        : FIT_RGB16,
                                         width, height));
      break;
    case 32:
      image = Bitmap(FreeImage_AllocateT(grey && !alpha ? FIT_FLOAT
                                         : alpha        ? FIT_RGBAF
                                                        : FIT_RGBF,
                                         width, height));
      break;
    default:
      return {};  // the reader takes no other depth
  }
  if (!image) return {};
  if (depth == 8 && grey && !alpha) {
    RGBQUAD* palette = FreeImage_GetPalette(image.get());
    for (unsigned i = 0; i < 256; ++i) {
      palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = static_cast<BYTE>(i);
    }
  }
  const int channels = grey && !alpha ? 1 : alpha ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    // FreeImage keeps the bottom row first.
    BYTE* row = FreeImage_GetScanLine(image.get(), height - 1 - y);
    const float* from = picture.samples.data() + static_cast<size_t>(y) * width * stride;
    for (int x = 0; x < width; ++x, from += stride) {
      float values[4] = {from[0], grey ? from[0] : from[1], grey ? from[0] : from[2],
                         from[picture.colours]};
      if (channels == 1) values[0] = from[0];
      switch (depth) {
        case 8: {
          BYTE* pixel = row + x * channels;
          if (channels == 1) {
            pixel[0] = Quantise<BYTE>(values[0], 255);
            break;
          }
          pixel[FI_RGBA_RED] = Quantise<BYTE>(values[0], 255);
          pixel[FI_RGBA_GREEN] = Quantise<BYTE>(values[1], 255);
          pixel[FI_RGBA_BLUE] = Quantise<BYTE>(values[2], 255);
          if (alpha) pixel[FI_RGBA_ALPHA] = Quantise<BYTE>(values[3], 255);
          break;
        }
        case 16: {
          auto* pixel = reinterpret_cast<uint16_t*>(row) + x * channels;
          for (int c = 0; c < channels; ++c) pixel[c] = Quantise<uint16_t>(values[c], 65535);
          break;
        }
        default: {
          auto* pixel = reinterpret_cast<float*>(row) + x * channels;
          for (int c = 0; c < channels; ++c) pixel[c] = values[c];
          if (alpha) pixel[3] = std::clamp(values[3], 0.0f, 1.0f);
          break;
        }
      }
    }
  }
  return image;
}

Bitmap CompositeToCmykBitmap(const LayerPixels& picture, uint16_t depth) {
  if (picture.colours != 4 || (depth != 8 && depth != 16)) return {};
  const auto width = static_cast<int>(picture.region.Width());
  const auto height = static_cast<int>(picture.region.Height());
  Bitmap image = depth == 8 ? Bitmap(FreeImage_Allocate(width, height, 32))
                            : Bitmap(FreeImage_AllocateT(FIT_RGBA16, width, height));
  if (!image) return {};
  const int stride = picture.Stride();
  for (int y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image.get(), height - 1 - y);
    const float* from = picture.samples.data() + static_cast<size_t>(y) * width * stride;
    for (int x = 0; x < width; ++x, from += stride) {
      // The document stores 1 for no ink; a CMYK bitmap holds the ink.
      for (int c = 0; c < 4; ++c) {
        if (depth == 8) {
          row[4 * x + c] = Quantise<BYTE>(1 - from[c], 255);
        } else {
          reinterpret_cast<uint16_t*>(row)[4 * x + c] = Quantise<uint16_t>(1 - from[c], 65535);
        }
      }
    }
  }
  return image;
}

Bitmap CmykCompositeToRgb(const LayerPixels& picture, uint16_t depth, Bitmap converted) {
  if (picture.colours != 4 || (depth != 8 && depth != 16)) return {};
  const auto width = static_cast<int>(picture.region.Width());
  const auto height = static_cast<int>(picture.region.Height());
  const bool alpha = !IsOpaque(picture, depth);
  Bitmap image = depth == 8
                     ? Bitmap(FreeImage_Allocate(width, height, alpha ? 32 : 24, FI_RGBA_RED_MASK,
                                                 FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK))
                     : Bitmap(FreeImage_AllocateT(alpha ? FIT_RGBA16 : FIT_RGB16, width, height));
  if (!image) return {};
  if (converted && (FreeImage_GetWidth(converted.get()) != static_cast<unsigned>(width) ||
                    FreeImage_GetHeight(converted.get()) != static_cast<unsigned>(height))) {
    return {};
  }
  const int stride = picture.Stride();
  const int channels = alpha ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image.get(), height - 1 - y);
    const BYTE* through =
        converted ? FreeImage_GetScanLine(converted.get(), height - 1 - y) : nullptr;
    const float* from = picture.samples.data() + static_cast<size_t>(y) * width * stride;
    for (int x = 0; x < width; ++x, from += stride) {
      // Without a profile, the plain conversion: each colour is its ink's complement times the
      // black's, in the stored values where 1 is no ink.
      float rgb[3] = {from[0] * from[3], from[1] * from[3], from[2] * from[3]};
      if (depth == 8) {
        BYTE* pixel = row + x * channels;
        if (through) {
          std::copy(through + 3 * x, through + 3 * x + 3, pixel);  // both B, G, R here
        } else {
          pixel[FI_RGBA_RED] = Quantise<BYTE>(rgb[0], 255);
          pixel[FI_RGBA_GREEN] = Quantise<BYTE>(rgb[1], 255);
          pixel[FI_RGBA_BLUE] = Quantise<BYTE>(rgb[2], 255);
        }
        if (alpha) pixel[FI_RGBA_ALPHA] = Quantise<BYTE>(from[4], 255);
      } else {
        auto* pixel = reinterpret_cast<uint16_t*>(row) + x * channels;
        for (int c = 0; c < 3; ++c) {
          pixel[c] = through ? reinterpret_cast<const uint16_t*>(through)[3 * x + c]
                             : Quantise<uint16_t>(rgb[c], 65535);
        }
        if (alpha) pixel[3] = Quantise<uint16_t>(from[4], 65535);
      }
    }
  }
  return image;
}
