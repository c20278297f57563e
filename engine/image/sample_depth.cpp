#include "engine/image/sample_depth.h"

#include <algorithm>
#include <cmath>

namespace {

uint16_t LinearAlpha(float alpha) {
  if (!(alpha > 0.0f)) return 0;  // also NaN
  if (alpha >= 1.0f) return 65535;
  return static_cast<uint16_t>(std::lround(alpha * 65535.0f));
}

// Encodes rows of `channels` float samples a pixel into 16-bit samples; with four channels the
// last is alpha, which stays linear.
void EncodeRows(const Bitmap& from, Bitmap& to, unsigned channels) {
  const unsigned width = FreeImage_GetWidth(from.get());
  const unsigned height = FreeImage_GetHeight(from.get());
  const unsigned colours = channels == 4 ? 3 : channels;
  for (unsigned y = 0; y < height; ++y) {
    const auto* in = reinterpret_cast<const float*>(FreeImage_GetScanLine(from.get(), y));
    auto* out = reinterpret_cast<uint16_t*>(FreeImage_GetScanLine(to.get(), y));
    for (unsigned x = 0; x < width; ++x, in += channels, out += channels) {
      for (unsigned c = 0; c < colours; ++c) out[c] = EncodeLinearSample(in[c]);
      if (channels == 4) out[3] = LinearAlpha(in[3]);
    }
  }
}

}  // namespace

Bitmap ReduceToEightBitChannels(Bitmap image) {
  if (!image) return image;
  switch (FreeImage_GetImageType(image.get())) {
    case FIT_BITMAP:
      return image;
    case FIT_UINT16:
      // By the high byte: stretching to the full range would brighten a document that does not
      // use it all.
      return Bitmap(FreeImage_ConvertTo8Bits(image.get()));
    case FIT_RGB16:
      return Bitmap(FreeImage_ConvertTo24Bits(image.get()));
    case FIT_RGBA16:
      return Bitmap(FreeImage_ConvertTo32Bits(image.get()));
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF: {
      Bitmap encoded = EncodeFloatSamples(std::move(image));
      if (!encoded) return encoded;
      return ReduceToEightBitChannels(std::move(encoded));
    }
    case FIT_INT16:
    case FIT_UINT32:
    case FIT_INT32:
    case FIT_DOUBLE:
    case FIT_COMPLEX:
      // No document stores these; they have no natural range, so they take the whole of 8 bits.
      return Bitmap(FreeImage_ConvertToStandardType(image.get(), TRUE));
    default:
      return {};
  }
}

Bitmap ToPlainRgb(Bitmap image) {
  if (!image) return image;
  if (FreeImage_GetBPP(image.get()) == 24 && FreeImage_GetImageType(image.get()) == FIT_BITMAP) {
    return image;
  }
  return Bitmap(FreeImage_ConvertTo24Bits(image.get()));
}

uint16_t EncodeLinearSample(float linear) {
  if (!(linear > 0.0f)) return 0;  // also NaN
  if (linear >= 1.0f) return 65535;
  const float encoded =
      linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
  return static_cast<uint16_t>(std::lround(std::clamp(encoded, 0.0f, 1.0f) * 65535.0f));
}

Bitmap EncodeFloatSamples(Bitmap image) {
  if (!image) return image;
  FREE_IMAGE_TYPE type = FIT_UNKNOWN;
  unsigned count = 0;
  switch (FreeImage_GetImageType(image.get())) {
    case FIT_FLOAT:
      type = FIT_UINT16;
      count = 1;
      break;
    case FIT_RGBF:
      type = FIT_RGB16;
      count = 3;
      break;
    case FIT_RGBAF:
      type = FIT_RGBA16;
      count = 4;
      break;
    default:
      return image;  // no floating-point samples
  }
  Bitmap encoded(FreeImage_AllocateT(type, static_cast<int>(FreeImage_GetWidth(image.get())),
                                     static_cast<int>(FreeImage_GetHeight(image.get()))));
  if (!encoded) return encoded;
  // FreeImage's float RGB(A) holds red, green, blue (alpha), as its 16-bit RGB(A) does.
  EncodeRows(image, encoded, count);
  // Metadata and resolution stay; the profile, which describes linear samples, does not.
  FreeImage_CloneMetadata(encoded.get(), image.get());
  return encoded;
}
