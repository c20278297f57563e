#include "engine/loading/merged_alpha.h"

#include <optional>
#include <vector>

#include "engine/image/byte_cursor.h"
#include "engine/psd/psd_channels.h"

namespace {

// Conversions keep the pixels; the metadata, resolution and profile come along here.
Bitmap WithInfoOf(Bitmap converted, FIBITMAP* source) {
  if (!converted) return converted;
  FreeImage_CloneMetadata(converted.get(), source);
  const FIICCPROFILE* icc = FreeImage_GetICCProfile(source);
  if (icc && icc->data && icc->size > 0) {
    FIICCPROFILE* copy = FreeImage_CreateICCProfile(converted.get(), icc->data, icc->size);
    if (copy) copy->flags = icc->flags;
  }
  return converted;
}

Bitmap WithoutAlpha(Bitmap image) {
  FIBITMAP* dib = image.get();
  switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP:
      if (FreeImage_GetBPP(dib) != 32) return image;
      return WithInfoOf(Bitmap(FreeImage_ConvertTo24Bits(dib)), dib);
    case FIT_RGBA16:
      return WithInfoOf(Bitmap(FreeImage_ConvertToRGB16(dib)), dib);
    case FIT_RGBAF:
      return WithInfoOf(Bitmap(FreeImage_ConvertToRGBF(dib)), dib);
    default:
      return image;  // no alpha
  }
}

// Widens 8- or 16-bit colour to carry alpha and fills it from `plane` (top row first, stored
// samples of `depth` bits).
Bitmap WithAlphaPlane(Bitmap image, const std::vector<uint8_t>& plane, uint64_t row_bytes,
                      uint16_t depth) {
  FIBITMAP* dib = image.get();
  Bitmap widened;
  switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP:
      if (depth != 8) return {};
      widened = FreeImage_GetBPP(dib) == 32
                    ? std::move(image)
                    : WithInfoOf(Bitmap(FreeImage_ConvertTo32Bits(dib)), dib);
      break;
    case FIT_RGB16:
    case FIT_RGBA16:
      if (depth != 16) return {};
      widened = FreeImage_GetImageType(dib) == FIT_RGBA16
                    ? std::move(image)
                    : WithInfoOf(Bitmap(FreeImage_ConvertToRGBA16(dib)), dib);
      break;
    default:
      return {};  // a CMYK document gives no other kind
  }
  if (!widened) return widened;
  const unsigned width = FreeImage_GetWidth(widened.get());
  const unsigned height = FreeImage_GetHeight(widened.get());
  if (plane.size() < row_bytes * height) return {};
  for (unsigned y = 0; y < height; ++y) {
    // FreeImage stores the bottom row first; the document the top row.
    BYTE* row = FreeImage_GetScanLine(widened.get(), static_cast<int>(height - 1 - y));
    const uint8_t* alpha = plane.data() + y * row_bytes;
    if (depth == 8) {
      for (unsigned x = 0; x < width; ++x) row[4 * x + FI_RGBA_ALPHA] = alpha[x];
    } else {
      auto* pixels = reinterpret_cast<FIRGBA16*>(row);
      for (unsigned x = 0; x < width; ++x) pixels[x].alpha = BigEndian16(alpha + 2 * x);
    }
  }
  return widened;
}

}  // namespace

Bitmap KeepMergedTransparency(Bitmap image, std::span<const uint8_t> file, const PsdLayout& layout,
                              bool transparent) {
  if (!image) return image;
  switch (layout.mode) {
    case PsdModeRgb:
    case PsdModeLab:
      // FreeImage's alpha is the first extra channel: right exactly when it is the transparency.
      return transparent ? std::move(image) : WithoutAlpha(std::move(image));
    case PsdModeCmyk: {
      if (!transparent) return WithoutAlpha(std::move(image));
      const std::optional<std::vector<uint8_t>> plane =
          ReadPsdChannel(file, layout, layout.ColourChannels());
      if (!plane) return {};
      return WithAlphaPlane(std::move(image), *plane, layout.row_bytes, layout.depth);
    }
    default:
      return image;  // greyscale alpha is attached on its own; other modes have none
  }
}
