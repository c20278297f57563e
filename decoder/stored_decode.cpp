#include "decoder/stored_decode.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "decoder/cmyk_profile.h"
#include "decoder/colour_profile.h"
#include "engine/image/byte_cursor.h"
#include "engine/image/white_matte.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/psd/psd_channels.h"
#include "engine/psd/psd_check.h"
#include "engine/psd/psd_transparency.h"
#include "platform/mapped_file.h"

namespace {

// FreeImage trusts every packed row of the merged image to unpack within its own bytes, and reads
// past them when one does not: such a document is refused before FreeImage sees it. Its colour
// mode, profile and transparency come from the same look.
struct MergedLook {
  bool rows_fit = false;
  uint16_t mode = 0;
  std::vector<uint8_t> profile;
  std::optional<PsdLayout> layout;
  bool transparent = false;  // the merged image is matted against white
};

MergedLook LookAtMerged(const char* path) {
  const MappedFile file(path);
  const std::optional<PsdLayout> layout = CheckPsdStructure(file.bytes(), 0);
  MergedLook look;
  if (!layout || !PackedRowsFit(file.bytes(), *layout)) return look;
  look.mode = layout->mode;
  look.layout = layout;
  look.transparent = HasMergedTransparency(file.bytes(), *layout);
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

// A transparent CMYK document's composite is matted against white paper: its inks were scaled by
// alpha. They come back from the alpha plane read from the file (FreeImage drops it). False, and
// nothing done, when that plane cannot be read or does not fit.
bool RemovePaperMatte(FIBITMAP* cmyk, const char* path, const PsdLayout& layout) {
  const unsigned width = FreeImage_GetWidth(cmyk);
  const unsigned height = FreeImage_GetHeight(cmyk);
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(cmyk);
  const bool deep = type == FIT_RGBA16;
  if (width != layout.width || height != layout.height || layout.depth != (deep ? 16 : 8) ||
      (!deep && (type != FIT_BITMAP || FreeImage_GetBPP(cmyk) != 32))) {
    return false;
  }
  const MappedFile file(path);
  const std::optional<std::vector<uint8_t>> alpha = ReadPsdChannel(file.bytes(), layout, 4);
  if (!alpha || !file.Intact()) return false;
  const uint32_t full = deep ? 65535 : 255;
  for (unsigned y = 0; y < height; ++y) {
    // FreeImage keeps the bottom row first; the document the top row.
    BYTE* row = FreeImage_GetScanLine(cmyk, static_cast<int>(height - 1 - y));
    const uint8_t* a = alpha->data() + y * layout.row_bytes;
    for (unsigned x = 0; x < width; ++x) {
      const uint32_t opacity = deep ? BigEndian16(a + 2 * x) : a[x];
      if (opacity == 0 || opacity == full) continue;
      // Paper is no ink: unmatting against it is unmatting the inverted samples against white.
      for (unsigned ink = 0; ink < 4; ++ink) {
        if (deep) {
          uint16_t& sample = reinterpret_cast<uint16_t*>(row)[4 * x + ink];
          sample = static_cast<uint16_t>(full - UnmatteSample(full - sample, opacity, full));
        } else {
          BYTE& sample = row[4 * x + ink];
          sample = static_cast<BYTE>(full - UnmatteSample(full - sample, opacity, full));
        }
      }
    }
  }
  return true;
}

// Marks a picture whose white matte was undone here, before its colours were converted.
void MarkMatteRemoved(FIBITMAP* image) {
  FIICCPROFILE* icc = FreeImage_GetICCProfile(image);
  icc->flags = static_cast<WORD>(icc->flags | DecodedMatteRemoved);
}

// The document's CMYK samples, converted through its profile, the matte of a transparent one
// undone first; empty, with the stream back at its start, when that cannot be done.
Bitmap LoadCmykThroughProfile(FileStream& input, const char* path, const MergedLook& look) {
  Bitmap cmyk(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), PSD_CMYK));
  const bool matte_removed =
      cmyk && look.transparent && RemovePaperMatte(cmyk.get(), path, *look.layout);
  Bitmap rgb = ConvertCmykThroughProfile(cmyk.get());
  if (!rgb) input.io()->seek_proc(input.handle(), 0, SEEK_SET);
  if (rgb && matte_removed) MarkMatteRemoved(rgb.get());
  return rgb;
}

// FreeImage drops a grey document's alpha: the matte of its picture is undone by the plane read
// from the file. False, and nothing done, when that plane cannot be read or does not fit.
bool RemoveGreyWhiteMatte(FIBITMAP* grey, const char* path, const PsdLayout& layout) {
  const unsigned width = FreeImage_GetWidth(grey);
  const unsigned height = FreeImage_GetHeight(grey);
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(grey);
  const bool deep = type == FIT_UINT16;
  if (width != layout.width || height != layout.height || layout.depth != (deep ? 16 : 8) ||
      (!deep && (type != FIT_BITMAP || FreeImage_GetBPP(grey) != 8))) {
    return false;
  }
  const MappedFile file(path);
  const std::optional<std::vector<uint8_t>> alpha = ReadPsdChannel(file.bytes(), layout, 1);
  if (!alpha || !file.Intact()) return false;
  for (unsigned y = 0; y < height; ++y) {
    // FreeImage keeps the bottom row first; the document the top row.
    BYTE* row = FreeImage_GetScanLine(grey, static_cast<int>(height - 1 - y));
    const uint8_t* a = alpha->data() + y * layout.row_bytes;
    if (deep) {
      auto* samples = reinterpret_cast<uint16_t*>(row);
      for (unsigned x = 0; x < width; ++x) {
        samples[x] = UnmatteSample(samples[x], BigEndian16(a + 2 * x), 65535);
      }
    } else {
      for (unsigned x = 0; x < width; ++x) row[x] = UnmatteSample8(row[x], a[x]);
    }
  }
  return true;
}

// A grey or RGB picture to sRGB. The stored composite of a transparent document is matted against
// white in the document's colours: that is undone first, and the picture marked so the program
// does not undo it again. Without a conversion the program undoes it, in the same colours.
Bitmap StoredToSrgb(Bitmap image, const char* path, const MergedLook& look) {
  const bool grey = look.mode == PsdModeGreyscale;
  bool matte_removed = false;
  const auto remove_matte = [&](FIBITMAP* picture) {
    matte_removed =
        grey ? RemoveGreyWhiteMatte(picture, path, *look.layout) : RemoveWhiteMatteInPlace(picture);
  };
  image = ConvertToSrgb(std::move(image), look.profile,
                        grey ? DocumentColours::Grey : DocumentColours::Rgb,
                        look.transparent ? std::function<void(FIBITMAP*)>(remove_matte) : nullptr);
  if (image && matte_removed) MarkMatteRemoved(image.get());
  return image;
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
  if (through_profile) image = LoadCmykThroughProfile(input, path, look);
  if (image) return image;
  image = Bitmap(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), 0));
  if (!to_srgb) return image;
  switch (look.mode) {
    case PsdModeGreyscale:
    case PsdModeRgb:
      return StoredToSrgb(std::move(image), path, look);
    default:
      return image;  // CMYK converts above or not at all; indexed is coloured by the program
  }
}
