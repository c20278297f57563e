#include "engine/normalise.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t FloatDepth = 96;

Bitmap ToneMapped(const Bitmap& image) {
  return Bitmap(FreeImage_TmoDrago03(image.get(), 1.0, 0.0));
}

// The tone mapper has no alpha channel: copy the float alpha of the source onto the 8-bit result.
Bitmap ToneMappedWithAlpha(const Bitmap& image) {
  Bitmap mapped = ToneMapped(image);
  if (!mapped) return mapped;
  Bitmap result(FreeImage_ConvertTo32Bits(mapped.get()));
  if (!result) return result;
  const unsigned width = FreeImage_GetWidth(image.get());
  const unsigned height = FreeImage_GetHeight(image.get());
  for (unsigned y = 0; y < height; ++y) {
    const auto* source = reinterpret_cast<const FIRGBAF*>(FreeImage_GetScanLine(image.get(), y));
    BYTE* target = FreeImage_GetScanLine(result.get(), y);
    for (unsigned x = 0; x < width; ++x) {
      const float alpha = std::isfinite(source[x].alpha) ? source[x].alpha : 0.0f;
      target[x * 4 + FI_RGBA_ALPHA] =
          static_cast<BYTE>(std::lround(std::clamp(alpha, 0.0f, 1.0f) * 255.0f));
    }
  }
  return result;
}

}  // namespace

bool NeedsEightBitChannels(const ProgramSettings& settings, int32_t output_bpp) {
  if (output_bpp <= 32) return true;
  return settings.transform.do_image_rotation != 0 ||
         settings.adjustment.do_image_color_correction != 0 ||
         settings.adjustment.do_image_greyscale != 0 ||
         settings.adjustment.do_image_threshold != 0 || settings.frame.do_frame != 0 ||
         settings.watermark.do_watermark != 0;
}

Bitmap NormaliseGreyscale(Bitmap image, bool eight_bits_needed) {
  if (!image) return image;
  const FREE_IMAGE_COLOR_TYPE colour = FreeImage_GetColorType(image.get());
  if (colour != FIC_MINISWHITE && colour != FIC_MINISBLACK) return image;

  switch (FreeImage_GetImageType(image.get())) {
    case FIT_BITMAP:
      return image;  // already a standard type
    case FIT_UINT16:
      // Stretching to the full range would brighten a document that does not use it all.
      if (!eight_bits_needed) return image;
      return Bitmap(FreeImage_ConvertTo8Bits(image.get()));
    case FIT_FLOAT:
      return image;  // tone-mapped with the other floating-point images
    case FIT_INT16:
    case FIT_UINT32:
    case FIT_INT32:
    case FIT_DOUBLE:
    case FIT_COMPLEX:
      return Bitmap(FreeImage_ConvertToStandardType(image.get(), TRUE));
    default:
      return image;
  }
}

Bitmap ReduceDeepColour(Bitmap image, bool eight_bits_needed, int32_t output_bpp) {
  if (!image) return image;
  switch (FreeImage_GetImageType(image.get())) {
    case FIT_BITMAP:
    case FIT_UINT16:
      return image;
    case FIT_RGB16:
      if (!eight_bits_needed) return image;
      return Bitmap(FreeImage_ConvertTo24Bits(image.get()));
    case FIT_RGBA16:
      if (!eight_bits_needed) return image;
      return Bitmap(FreeImage_ConvertTo32Bits(image.get()));
    case FIT_FLOAT:
    case FIT_RGBF:
      if (!eight_bits_needed && output_bpp == FloatDepth) return image;
      return ToneMapped(image);
    case FIT_RGBAF:
      if (!eight_bits_needed && output_bpp == FloatDepth) return image;
      return ToneMappedWithAlpha(image);
    default:
      // Other deep types have no linear path to 8 bits; the tone mapper decides what it takes.
      if (FreeImage_GetBPP(image.get()) <= 32) return image;
      return ToneMapped(image);
  }
}
