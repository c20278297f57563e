#include "engine/loading/loading.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/image/byte_cursor.h"
#include "engine/image/memory_budget.h"
#include "engine/image/sample_depth.h"
#include "engine/image/white_matte.h"
#include "engine/isolation/decoded_bitmap.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/isolation/isolated_decode.h"
#include "engine/loading/merged_alpha.h"
#include "engine/psd/psd_channels.h"
#include "engine/psd/psd_check.h"
#include "engine/psd/psd_transparency.h"
#include "platform/mapped_file.h"

namespace {

// The decoder leaves an indexed document grey unless it carries a colour count: the palette is
// always in the colour-mode data.
Bitmap ApplyPalette(Bitmap image, std::span<const uint8_t> file, const PsdLayout& layout) {
  if (!image || layout.mode != PsdModeIndexed) return image;
  if (FreeImage_GetImageType(image.get()) != FIT_BITMAP || FreeImage_GetBPP(image.get()) != 8) {
    return image;
  }
  const std::optional<std::vector<uint32_t>> colours = ReadPsdPalette(file, layout);
  RGBQUAD* palette = FreeImage_GetPalette(image.get());
  if (!colours || !palette) return {};
  const unsigned entries = std::min(FreeImage_GetColorsUsed(image.get()), 256u);
  for (unsigned i = 0; i < entries; ++i) {
    palette[i].rgbRed = static_cast<BYTE>((*colours)[i] >> 16);
    palette[i].rgbGreen = static_cast<BYTE>((*colours)[i] >> 8);
    palette[i].rgbBlue = static_cast<BYTE>((*colours)[i]);
    palette[i].rgbReserved = 0;
  }
  if (layout.transparent_index && *layout.transparent_index < entries) {
    FreeImage_SetTransparentIndex(image.get(), *layout.transparent_index);
  }
  return image;
}

// The decoder drops a greyscale document's alpha: read it from the merged image ourselves and
// widen the grey to an RGBA bitmap of the same depth, which can carry it. A kept grey profile
// goes along: the pixels stay grey, and a grey PNG with alpha can hold it.
Bitmap AttachGreyAlpha(Bitmap image, std::span<const uint8_t> file, const PsdLayout& layout) {
  if (!image || layout.mode != PsdModeGreyscale || layout.channels < 2) return image;
  const std::optional<std::vector<uint8_t>> alpha = ReadPsdChannel(file, layout, 1);
  if (!alpha) return {};
  const unsigned width = FreeImage_GetWidth(image.get());
  const unsigned height = FreeImage_GetHeight(image.get());
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image.get());
  Bitmap widened;
  switch (type) {
    case FIT_BITMAP:
      if (FreeImage_GetBPP(image.get()) != 8 || layout.depth != 8) return image;
      widened = Bitmap(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 32,
                                          FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
      break;
    case FIT_UINT16:
      if (layout.depth != 16) return image;
      widened = Bitmap(
          FreeImage_AllocateT(FIT_RGBA16, static_cast<int>(width), static_cast<int>(height)));
      break;
    case FIT_FLOAT:
      if (layout.depth != 32) return image;
      widened =
          Bitmap(FreeImage_AllocateT(FIT_RGBAF, static_cast<int>(width), static_cast<int>(height)));
      break;
    default:
      return image;  // no other grey type comes from a greyscale document
  }
  if (!widened) return {};
  const size_t row_bytes = static_cast<size_t>(layout.row_bytes);
  for (unsigned y = 0; y < height; ++y) {
    // FreeImage stores the bottom row first; the document the top row.
    const BYTE* grey = FreeImage_GetScanLine(image.get(), static_cast<int>(height - 1 - y));
    BYTE* out = FreeImage_GetScanLine(widened.get(), static_cast<int>(height - 1 - y));
    const uint8_t* a = alpha->data() + y * row_bytes;
    for (unsigned x = 0; x < width; ++x) {
      switch (type) {
        case FIT_BITMAP:
          out[4 * x + FI_RGBA_RED] = out[4 * x + FI_RGBA_GREEN] = out[4 * x + FI_RGBA_BLUE] =
              grey[x];
          out[4 * x + FI_RGBA_ALPHA] = a[x];
          break;
        case FIT_UINT16: {
          const uint16_t value = reinterpret_cast<const uint16_t*>(grey)[x];
          reinterpret_cast<FIRGBA16*>(out)[x] = {value, value, value, BigEndian16(a + 2 * x)};
          break;
        }
        default: {
          const float value = reinterpret_cast<const float*>(grey)[x];
          reinterpret_cast<FIRGBAF*>(out)[x] = {value, value, value, BigEndianFloat(a + 4 * x)};
          break;
        }
      }
    }
  }
  const std::string profile = IccProfileOf(image.get());
  if (!profile.empty() &&
      !FreeImage_CreateICCProfile(widened.get(), const_cast<char*>(profile.data()),
                                  static_cast<long>(profile.size()))) {
    return {};
  }
  FreeImage_SetDotsPerMeterX(widened.get(), FreeImage_GetDotsPerMeterX(image.get()));
  FreeImage_SetDotsPerMeterY(widened.get(), FreeImage_GetDotsPerMeterY(image.get()));
  return widened;
}

// The merged image of a transparent document is matted against white; undo it so soft edges keep
// their true colour, unless the decoder did so already, before it converted the colours.
Bitmap RemoveWhiteMatte(Bitmap image, const PsdLayout& layout, bool transparent) {
  if (!image || !transparent) return image;
  if (layout.mode != PsdModeRgb && layout.mode != PsdModeGreyscale && layout.mode != PsdModeCmyk) {
    return image;
  }
  RemoveWhiteMatteInPlace(image.get());  // a kind without alpha has nothing to undo
  return image;
}

// Whether the decoder undid the white matte of `image`; the mark is taken off the bitmap.
bool TakeMatteRemovedMark(FIBITMAP* image) {
  FIICCPROFILE* icc = image ? FreeImage_GetICCProfile(image) : nullptr;
  if (!icc || (icc->flags & DecodedMatteRemoved) == 0) return false;
  icc->flags = static_cast<WORD>(icc->flags & ~DecodedMatteRemoved);
  return true;
}

// A rebuilt picture whose colours were kept carries the document's profile; grey widened to RGBA
// for its transparency too, as it does from the stored composite.
Bitmap AttachDocumentProfile(Bitmap image, std::span<const uint8_t> file, const PsdLayout& layout) {
  // A CMYK or Lab document's picture comes through its profile already, as sRGB.
  if (!image || layout.icc_profile.size == 0 || layout.mode == PsdModeCmyk ||
      layout.mode == PsdModeLab) {
    return image;
  }
  const std::span<const uint8_t> profile =
      file.subspan(layout.icc_profile.offset, layout.icc_profile.size);
  // A damaged profile is dropped and the pixels kept, as for a stored composite.
  if (!IsSaneIccProfile(profile)) return image;
  if (!FreeImage_CreateICCProfile(image.get(), const_cast<uint8_t*>(profile.data()),
                                  static_cast<long>(profile.size()))) {
    return {};
  }
  return image;
}

// Resource 1005: horizontal and vertical resolution, 16.16 fixed point, each followed by its unit
// (1 pixels per inch, 2 pixels per centimetre) and a display unit.
void SetDocumentResolution(FIBITMAP* image, std::span<const uint8_t> file,
                           const PsdLayout& layout) {
  if (layout.resolution.size < 16) return;
  const uint8_t* data = file.data() + layout.resolution.offset;
  const auto dots_per_metre = [](const uint8_t* field) {
    const uint32_t fixed = BigEndian32(field);
    const double per_unit = fixed / 65536.0;
    const double metres = BigEndian16(field + 4) == 2 ? 0.01 : 0.0254;
    return static_cast<unsigned>(std::lround(per_unit / metres));
  };
  FreeImage_SetDotsPerMeterX(image, dots_per_metre(data));
  FreeImage_SetDotsPerMeterY(image, dots_per_metre(data + 8));
}

}  // namespace

namespace {

// What the decoder makes of the colours: kept, grey with transparency too, whose picture stays
// grey pixels in an RGBA bitmap. Should the steps make them colour, the run converts that file
// as by default.
PsdColours ColoursFor(bool keep_profile) {
  return keep_profile ? PsdColours::Keep : PsdColours::ToSrgb;
}

bool HasPsdSignature(std::span<const uint8_t> bytes) {
  return bytes.size() >= 4 && std::memcmp(bytes.data(), "8BPS", 4) == 0;
}

// Why the structure check refused `bytes`: no document at all, one too large for the memory
// there is (it passes without the memory bound), or a damaged one.
LoadFault ClassifyRefusal(std::span<const uint8_t> bytes) {
  if (!HasPsdSignature(bytes)) return LoadFault::NotDocument;
  if (CheckPsdStructure(bytes, 0)) return LoadFault::TooLarge;
  return LoadFault::Damaged;
}

// Whether the picture comes from the layers: when `layers` asks for it, the composite is missing,
// or it is flagged as a placeholder and is one indeed (the flag alone does not make one: some
// writers clear it over a genuine picture). A choice other than the check's is planned here, as
// the check planned its own; false in `fits` when that breaks `memory`.
bool ChooseRebuild(std::span<const uint8_t> bytes, PsdLayout& layout, const LayerRequest& layers,
                   uint64_t memory, bool& fits) {
  const bool rebuild = layout.CanRebuildFromLayers() &&
                       (layers.ForcesRebuild() || layout.composite_missing ||
                        (layout.placeholder_composite && CompositeIsUniform(bytes, layout)));
  fits = true;
  if (rebuild != layout.RebuildsFromLayers()) {
    fits = rebuild ? PlanLayerRebuild(layout, memory) : PlanStoredDecode(layout, memory);
  }
  return rebuild;
}

// A Photoshop document through our structure check and the decoder process; with `bound`, one
// whose declared size breaks it is refused before it is decoded.
Bitmap LoadPsd(const std::string& path, const DecodeBound* bound, const LoadRequest& request,
               LoadFault& fault, uint64_t* left_out, bool* grey) {
  fault = LoadFault::Damaged;
  const MappedFile file(path);
  if (!file.IsOpen()) return {};
  const uint64_t memory = AvailableMemoryBytes();
  std::optional<PsdLayout> layout = CheckPsdStructure(file.bytes(), memory);
  if (!layout) {
    fault = ClassifyRefusal(file.bytes());
    return {};
  }
  if (grey) *grey = layout->mode == PsdModeGreyscale;
  bool fits = true;
  const bool rebuild = ChooseRebuild(file.bytes(), *layout, request.layers, memory, fits);
  if (!fits) {
    fault = LoadFault::TooLarge;
    return {};
  }
  if (bound && (layout->width > bound->max_side || layout->height > bound->max_side ||
                layout->decoded_bytes > bound->max_decoded_bytes)) {
    return {};
  }
  // A document saved without its composite shows its layers; only when none has pixels to show is
  // its stored picture, if it has one, all there is. A rebuild that fails is a failure: the
  // placeholder is not the document's picture.
  Bitmap image;
  bool nothing_to_rebuild = false;
  if (rebuild) {
    image =
        DecodePsdIsolated(file, *layout, PsdSource::Layers, &nothing_to_rebuild,
                          ColoursFor(request.keep_profile), request.layers.hidden_layers, left_out);
    if (!image && !nothing_to_rebuild) return {};
  }
  if (image) {
    if (FreeImage_GetWidth(image.get()) != layout->width ||
        FreeImage_GetHeight(image.get()) != layout->height) {
      return {};
    }
    // The picture is straight colour with its own alpha: none of the stored composite's repairs
    // apply.
    if (request.keep_profile)
      image = AttachDocumentProfile(std::move(image), file.bytes(), *layout);
    if (image) SetDocumentResolution(image.get(), file.bytes(), *layout);
    image = EncodeFloatSamples(std::move(image));
    if (!file.Intact()) return {};
    if (image) fault = LoadFault::None;
    return image;
  }
  if (layout->composite_missing) return {};
  // Extra channels are transparency only where the document says so.
  const bool transparent = HasMergedTransparency(file.bytes(), *layout);
  image = DecodePsdIsolated(file, *layout, PsdSource::StoredComposite, nullptr,
                            ColoursFor(request.keep_profile));
  if (!image) return {};
  if (FreeImage_GetWidth(image.get()) == 0 || FreeImage_GetHeight(image.get()) == 0) return {};
  const bool matte_removed = TakeMatteRemovedMark(image.get());
  image = ApplyPalette(std::move(image), file.bytes(), *layout);
  if (transparent) image = AttachGreyAlpha(std::move(image), file.bytes(), *layout);
  image = KeepMergedTransparency(std::move(image), file.bytes(), *layout, transparent);
  image = RemoveWhiteMatte(std::move(image), *layout, transparent && !matte_removed);
  image = EncodeFloatSamples(std::move(image));
  // A file cut short underneath us has been read as zeros since: those are not its pixels.
  if (!file.Intact()) return {};
  if (image) fault = LoadFault::None;
  return image;
}

bool StartsAsPsd(int fd) {
  char signature[4] = {};
  return pread(fd, signature, sizeof signature, 0) == sizeof signature &&
         std::memcmp(signature, "8BPS", sizeof signature) == 0;
}

}  // namespace

Bitmap LoadInputImage(const std::string& path, const LoadRequest& request, LoadReport* report) {
  LoadFault fault = LoadFault::None;
  uint64_t left_out = 0;
  bool grey = false;
  Bitmap image = LoadPsd(path, nullptr, request, fault, &left_out, &grey);
  if (report) {
    report->fault = fault;
    report->left_out = image ? DescribeLeftOut(left_out) : std::string();
    report->grey = image && grey;
  }
  return image;
}

std::string DescribeLeftOut(uint64_t left_out) {
  static constexpr std::pair<uint64_t, const char*> Kinds[] = {
      {LeftOutAdjustments, "adjustment layers"}, {LeftOutFills, "fill layers"},
      {LeftOutEffects, "layer effects"},         {LeftOutSmartObjects, "smart objects"},
      {LeftOutBlendIf, "blend-if ranges"},       {LeftOutArtboards, "artboard backgrounds"},
      {LeftOutShapeStrokes, "shape strokes"},    {LeftOutKnockouts, "knockouts"},
  };
  std::string text;
  for (const auto& [bit, name] : Kinds) {
    if ((left_out & bit) == 0) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

uint64_t InputMemoryNeed(const std::string& path, const LayerRequest& layers) {
  const MappedFile file(path);
  if (!file.IsOpen()) return 0;
  std::optional<PsdLayout> layout = CheckPsdStructure(file.bytes(), 0);
  if (!layout) return 0;
  // Whether a flagged composite is a placeholder takes reading it: a rebuild that may come is
  // counted without that.
  if (layout->CanRebuildFromLayers() && layers.ForcesRebuild() && !layout->RebuildsFromLayers() &&
      !PlanLayerRebuild(*layout, 0)) {
    return UINT64_MAX;
  }
  uint64_t need = 0;
  if (__builtin_mul_overflow(layout->decoded_bytes, DecodeMemoryFactor, &need)) return UINT64_MAX;
  return std::max(need, layout->rebuild_bytes);
}

Bitmap LoadWatermarkImage(const std::string& path) {
  if (path.empty()) return {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  const bool psd = StartsAsPsd(fd);
  const FREE_IMAGE_FORMAT by_name = FreeImage_GetFIFFromFilename(path.c_str());
  Bitmap image = psd ? Bitmap() : DecodeImageIsolated(fd, by_name, WatermarkBound);
  close(fd);
  // A watermark is drawn onto sRGB pixels: its own colours go to sRGB too.
  LoadFault fault = LoadFault::None;
  if (psd) image = LoadPsd(path, &WatermarkBound, {}, fault, nullptr, nullptr);
  return image;
}
