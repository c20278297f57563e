#include "engine/steps/colour.h"

#include "engine/image/sample_depth.h"

Bitmap CorrectColours(Bitmap image, const ProgramSettings& settings) {
  const AdjustmentSettings& adjustment = settings.adjustment;
  if (!image || !adjustment.do_image_color_correction) return image;

  // The colour steps work on 8 bits per channel.
  image = ReduceToEightBitChannels(std::move(image));
  if (!image) return image;

  // FreeImage adjusts only 8, 24 and 32 bits and would leave anything else silently unchanged.
  switch (FreeImage_GetBPP(image.get())) {
    case 8:
    case 24:
    case 32:
      break;
    default:
      image = Bitmap(FreeImage_ConvertTo24Bits(image.get()));
      if (!image) return image;
      break;
  }

  // The call reports FALSE also when there is nothing to change, so its result says nothing.
  FreeImage_AdjustColors(image.get(), adjustment.image_brightness, adjustment.image_contrast,
                         adjustment.image_gamma, adjustment.image_invert ? TRUE : FALSE);
  return image;
}

Bitmap MakeGreyscale(Bitmap image, const ProgramSettings& settings) {
  if (!image || !settings.adjustment.do_image_greyscale) return image;

  image = ReduceToEightBitChannels(std::move(image));
  if (!image) return image;
  return Bitmap(FreeImage_ConvertToGreyscale(image.get()));
}

Bitmap ApplyThreshold(Bitmap image, const ProgramSettings& settings) {
  const AdjustmentSettings& adjustment = settings.adjustment;
  if (!image || !adjustment.do_image_threshold) return image;

  image = ReduceToEightBitChannels(std::move(image));
  if (!image) return image;
  // The level is a byte: only the low eight bits of the setting count.
  const BYTE level = static_cast<BYTE>(static_cast<uint32_t>(adjustment.image_threshold) & 0xFFu);
  return Bitmap(FreeImage_Threshold(image.get(), level));
}
