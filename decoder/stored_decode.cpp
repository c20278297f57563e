#include "decoder/stored_decode.h"

#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "decoder/cmyk_profile.h"
#include "decoder/colour_profile.h"
#include "engine/psd/psd_check.h"
#include "platform/mapped_file.h"

namespace {

// FreeImage trusts every packed row of the merged image to unpack within its own bytes, and reads
// past them when one does not: such a document is refused before FreeImage sees it. Its colour
// mode and profile come from the same look.
struct MergedLook {
  bool rows_fit = false;
  uint16_t mode = 0;
  std::vector<uint8_t> profile;
};

MergedLook LookAtMerged(const char* path) {
  const MappedFile file(path);
  const std::optional<PsdLayout> layout = CheckPsdStructure(file.bytes(), 0);
  MergedLook look;
  if (!layout || !PackedRowsFit(file.bytes(), *layout)) return look;
  look.mode = layout->mode;
  const std::span<const uint8_t> profile =
      file.bytes().subspan(layout->icc_profile.offset, layout->icc_profile.size);
  look.profile.assign(profile.begin(), profile.end());
  look.rows_fit = file.Intact();
  return look;
}

// FreeImage's own Lab conversion lands far from the colorimetric one: the L, a, b samples go
// through LittleCMS instead.
Bitmap LoadLabThroughProfile(FileStream& input, std::span<const uint8_t> profile) {
  Bitmap lab(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), PSD_LAB));
  return ConvertToSrgb(std::move(lab), profile, DocumentColours::Lab);
}

// The document's CMYK samples, converted through its profile; empty, with the stream back at its
// start, when that cannot be done.
Bitmap LoadCmykThroughProfile(FileStream& input) {
  Bitmap cmyk(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), PSD_CMYK));
  Bitmap rgb = ConvertCmykThroughProfile(cmyk.get());
  if (!rgb) input.io()->seek_proc(input.handle(), 0, SEEK_SET);
  return rgb;
}

}  // namespace

// FreeImage hands a 32-bit BMP on with the unused fourth byte as alpha, usually all zero; such a
// file has no transparency, and an invisible watermark is never what was meant.
void MakeUnusedAlphaOpaque(FIBITMAP* image) {
  if (FreeImage_GetBPP(image) != 32 || FreeImage_GetImageType(image) != FIT_BITMAP) return;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) {
      if (row[x * 4 + FI_RGBA_ALPHA] != 0) return;
    }
  }
  for (unsigned y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) row[x * 4 + FI_RGBA_ALPHA] = 255;
  }
}

AnyFormatDecode DecodeAnyFormat(FileStream& input, FREE_IMAGE_FORMAT hint, const DecodeBound& bound,
                                Bitmap& image) {
  const FREE_IMAGE_FORMAT format = SniffImageFormat(input.io(), input.handle(), hint);
  if (format == FIF_UNKNOWN || format == FIF_PSD) return AnyFormatDecode::Unreadable;
  // Formats without a header-only reading are held by the address-space limit alone.
  const std::optional<ImageHeader> header = LookAtImageHeader(format, input.io(), input.handle());
  if (header && !KeepsBound(*header, bound)) return AnyFormatDecode::BeyondBound;
  image = Bitmap(FreeImage_LoadFromHandle(format, input.io(), input.handle(), 0));
  if (!image || !FreeImage_HasPixels(image.get())) return AnyFormatDecode::Unreadable;
  const ImageHeader decoded{FreeImage_GetWidth(image.get()), FreeImage_GetHeight(image.get()),
                            FreeImage_GetBPP(image.get())};
  if (!KeepsBound(decoded, bound)) return AnyFormatDecode::BeyondBound;
  if (format == FIF_BMP) MakeUnusedAlphaOpaque(image.get());
  return AnyFormatDecode::Decoded;
}

Bitmap DecodeStoredComposite(const char* path, FileStream& input, bool through_profile,
                             bool to_srgb) {
  const MergedLook look = LookAtMerged(path);
  if (!look.rows_fit) return {};
  if (look.mode == PsdModeLab) return LoadLabThroughProfile(input, look.profile);
  Bitmap image;
  if (through_profile) image = LoadCmykThroughProfile(input);
  if (image) return image;
  image = Bitmap(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), 0));
  if (!to_srgb) return image;
  switch (look.mode) {
    case PsdModeGreyscale:
      return ConvertToSrgb(std::move(image), look.profile, DocumentColours::Grey);
    case PsdModeRgb:
      return ConvertToSrgb(std::move(image), look.profile, DocumentColours::Rgb);
    default:
      return image;  // CMYK converts above or not at all; indexed is coloured by the program
  }
}
