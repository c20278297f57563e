#include "engine/steps/normalise.h"

#include "engine/image/sample_depth.h"

namespace {

constexpr int32_t FloatDepth = 96;

Bitmap ToneMapped(const Bitmap& image) {
  return Bitmap(FreeImage_TmoDrago03(image.get(), 1.0, 0.0));
}

}  // namespace

bool NeedsEightBitChannels(const ProgramSettings& settings, int32_t output_bpp) {
  return output_bpp <= 32 || StepsNeedEightBitChannels(settings);
}

bool KeepsDeepGrey(FIBITMAP* image, int32_t output_bpp) {
  return image && output_bpp == 16 && FreeImage_GetImageType(image) == FIT_UINT16;
}

bool StepsNeedEightBitChannels(const ProgramSettings& settings) {
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
      if (!eight_bits_needed) return image;
      return ReduceToEightBitChannels(std::move(image));
    case FIT_FLOAT:
      return image;  // encoded with the other floating-point images
    case FIT_INT16:
    case FIT_UINT32:
    case FIT_INT32:
    case FIT_DOUBLE:
    case FIT_COMPLEX:
      return ReduceToEightBitChannels(std::move(image));
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
    case FIT_RGBA16:
      if (!eight_bits_needed) return image;
      return ReduceToEightBitChannels(std::move(image));
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF: {
      if (!eight_bits_needed && output_bpp == FloatDepth) return image;
      Bitmap encoded = EncodeFloatSamples(std::move(image));
      if (!encoded) return encoded;
      if (FreeImage_GetImageType(encoded.get()) == FIT_UINT16) {
        return NormaliseGreyscale(std::move(encoded), eight_bits_needed);
      }
      return ReduceDeepColour(std::move(encoded), eight_bits_needed, output_bpp);
    }
    default:
      // Other deep types have no linear path to 8 bits; the tone mapper decides what it takes.
      if (FreeImage_GetBPP(image.get()) <= 32) return image;
      return ToneMapped(image);
  }
}
