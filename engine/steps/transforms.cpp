#include "engine/steps/transforms.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/image/image_header.h"
#include "engine/image/memory_budget.h"
#include "engine/image/sample_depth.h"
#include "engine/steps/hex_colour.h"

namespace {

// Rotation fills its corners with a plain RGB colour, so it works on 24 or 32 bits: 16 bits per
// channel are reduced first (transparency kept), and grey and palette images widened.
Bitmap WidenForRotation(Bitmap image) {
  image = ReduceToEightBitChannels(std::move(image));
  if (!image || FreeImage_GetBPP(image.get()) > 16) return image;
  return Bitmap(FreeImage_ConvertTo24Bits(image.get()));
}

// Halves to even, independent of the floating-point rounding mode.
double RoundHalfToEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  if (fraction < 0.5) return floor;
  if (fraction > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

// Sizes beyond int32 cannot be allocated anyway; clamping keeps the conversion defined.
int32_t ToSide(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(value);
}

int32_t TargetSide(int32_t value, int8_t unit, int32_t current) {
  switch (unit) {
    case ToValue(SizeUnit::Pixels):
      return value;
    case ToValue(SizeUnit::Percent):
      return ToSide(RoundHalfToEven(value / 100.0 * current));
    default:
      return 0;
  }
}

// The side that follows from the other one at the ratio `ratio` (>= 1), halves away from zero.
// A very long, thin image must not collapse to 0 pixels: FreeImage refuses that size.
int32_t DependentSide(int32_t side, float ratio) {
  const int32_t result = ToSide(std::round(side / ratio));
  return result < 1 ? 1 : result;
}

FREE_IMAGE_FILTER ResizeFilter(int8_t algorithm) {
  switch (algorithm) {
    case ToValue(ResizeAlgorithm::Box):
      return FILTER_BOX;
    case ToValue(ResizeAlgorithm::Bilinear):
      return FILTER_BILINEAR;
    case ToValue(ResizeAlgorithm::BSpline):
      return FILTER_BSPLINE;
    case ToValue(ResizeAlgorithm::Bicubic):
      return FILTER_BICUBIC;
    case ToValue(ResizeAlgorithm::CatmullRom):
      return FILTER_CATMULLROM;
    case ToValue(ResizeAlgorithm::Lanczos):
      return FILTER_LANCZOS3;
    default:
      return FILTER_BICUBIC;
  }
}

}  // namespace

Bitmap RotateImage(Bitmap image, const ProgramSettings& settings) {
  const TransformSettings& transform = settings.transform;
  if (!image || !transform.do_image_rotation) return image;
  if (transform.image_rotation < 1 || transform.image_rotation > 359) return image;

  image = WidenForRotation(std::move(image));
  if (!image) return image;

  // FreeImage turns counter-clockwise for positive angles; the angle goes to it unchanged.
  const double angle = transform.image_rotation;
  switch (transform.image_rotation_type) {
    case ToValue(RotationType::Simple): {  // the canvas grows; corners take the background
      const RGBQUAD back = ToRgbQuad(ParseHexColour(transform.image_rotation_back_color));
      return Bitmap(FreeImage_Rotate(image.get(), angle, &back));
    }
    case ToValue(RotationType::Advanced):  // same canvas about the centre; corners mirrored
      return Bitmap(FreeImage_RotateEx(image.get(), angle, 0.0, 0.0,
                                       FreeImage_GetWidth(image.get()) / 2.0,
                                       FreeImage_GetHeight(image.get()) / 2.0, FALSE));
    default:
      return image;
  }
}

Bitmap ResizeImage(Bitmap image, const ProgramSettings& settings, uint64_t available_memory) {
  const TransformSettings& transform = settings.transform;
  if (!image || !transform.do_image_resize) return image;
  const auto width = static_cast<int32_t>(FreeImage_GetWidth(image.get()));
  const auto height = static_cast<int32_t>(FreeImage_GetHeight(image.get()));
  if (width < 1 || height < 1) return image;

  const int32_t target_width = TargetSide(transform.image_width, transform.image_width_unit, width);
  const int32_t target_height =
      TargetSide(transform.image_height, transform.image_height_unit, height);
  if (target_width < 1 || target_height < 1) return image;
  if (target_width == width && target_height == height) return image;

  if (transform.image_resize_type == ToValue(ResizeType::LargeImages) && width < target_width &&
      height < target_height) {
    return image;
  }

  int32_t new_width = target_width;
  int32_t new_height = target_height;
  if (transform.keep_aspect_ratio) {
    // Single precision on purpose: it decides how borderline sizes round.
    if (width >= height) {
      new_height = DependentSide(target_width, static_cast<float>(width) / height);
    } else {
      new_width = DependentSide(target_height, static_cast<float>(height) / width);
    }
  }

  // Reckoned at no less than 32 bits a pixel: FreeImage widens palette images on the way.
  const uint32_t bpp = std::max(FreeImage_GetBPP(image.get()), 32u);
  const uint64_t result_bytes =
      DecodedBitmapBytes(static_cast<uint32_t>(new_width), static_cast<uint32_t>(new_height), bpp);
  if (!FitsDecodeMemory(result_bytes, available_memory)) return {};
  return Bitmap(FreeImage_Rescale(image.get(), new_width, new_height,
                                  ResizeFilter(transform.image_resize_algorithm)));
}

Bitmap FlipImage(Bitmap image, const ProgramSettings& settings) {
  if (!image) return image;
  if (settings.transform.do_image_flip_horizontal) FreeImage_FlipHorizontal(image.get());
  if (settings.transform.do_image_flip_vertical) FreeImage_FlipVertical(image.get());
  return image;
}
