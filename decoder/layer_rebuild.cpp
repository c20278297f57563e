#include "decoder/layer_rebuild.h"

#include <new>
#include <utility>

#include "decoder/cmyk_profile.h"
#include "decoder/colour_profile.h"
#include "decoder/composite_bitmap.h"
#include "decoder/compositor.h"
#include "decoder/layer_names.h"
#include "decoder/psd_layers.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/psd/psd_header.h"
#include "platform/file_descriptor.h"
#include "platform/mapped_file.h"

namespace {

// A CMYK composite in RGB: through the document's profile as its stored composite would be, else
// by the plain conversion.
Bitmap CmykToRgb(std::span<const uint8_t> file, const LayerPixels& picture, uint16_t depth) {
  Bitmap converted;
  const std::optional<PsdHeader> header = ReadPsdHeader(file);
  const std::span<const uint8_t> profile =
      header ? FindPsdResource(file, *header, PsdIccProfileResourceId) : std::span<const uint8_t>();
  if (!profile.empty()) {
    Bitmap cmyk = CompositeToCmykBitmap(picture, depth);
    if (!cmyk) return {};
    if (FreeImage_CreateICCProfile(cmyk.get(), const_cast<uint8_t*>(profile.data()),
                                   static_cast<long>(profile.size()))) {
      converted = ConvertCmykThroughProfile(cmyk.get());
    }
  }
  return CmykCompositeToRgb(picture, depth, std::move(converted));
}

// A Lab composite in sRGB, by the conversion a stored Lab composite takes (ConvertToSrgb through
// the document's profile, else Lab D50): its bitmap holds L, a, b in memory order, as FreeImage
// loads a stored one, at the document's depth.
Bitmap LabToSrgb(std::span<const uint8_t> file, LayerPixels& picture, uint16_t depth) {
  // FreeImage writes 8-bit colour as blue, green, red where red comes last: the picture's first
  // and third channels trade places so that L lands first in memory.
  if (depth == 8 && FI_RGBA_RED == 2) {
    const int stride = picture.Stride();
    for (size_t i = 0; i < picture.samples.size(); i += static_cast<size_t>(stride)) {
      std::swap(picture.samples[i], picture.samples[i + 2]);
    }
  }
  Bitmap lab = CompositeToBitmap(picture, depth);
  const std::optional<PsdHeader> header = ReadPsdHeader(file);
  const std::span<const uint8_t> profile =
      header ? FindPsdResource(file, *header, PsdIccProfileResourceId) : std::span<const uint8_t>();
  return ConvertToSrgb(std::move(lab), profile, DocumentColours::Lab);
}

}  // namespace

Bitmap RebuildFromLayers(std::span<const uint8_t> file, int64_t band_rows, bool& nothing_to_build,
                         const std::function<bool(const CompositePlan&)>& planned,
                         const std::vector<std::string>& hidden_layers) {
  nothing_to_build = false;
  if (file.empty()) return {};
  std::optional<LayeredDocument> document = ReadLayeredDocument(file);
  if (!document) return {};
  const size_t hidden = HideLayersByName(*document, hidden_layers);
  const std::vector<LayerNode> tree = BuildLayerTree(*document);
  const bool empty = !HasVisiblePixels(*document, tree);
  // Hiding every layer that draws leaves a transparent canvas, not the stored picture.
  if (empty && hidden == 0) {
    nothing_to_build = true;
    return {};
  }
  const CompositePlan plan = PlanComposite(file, *document, tree, band_rows);
  if (planned && !planned(plan)) return {};
  // The address-space limit turns a document too large for it into a failed allocation.
  try {
    std::optional<LayerPixels> picture;
    if (empty) {
      picture.emplace();
      picture->region = {0, 0, document->height, document->width};
      picture->colours = document->colour_channels;
      picture->samples.ResizeZeroed(LayerArea(picture->region) *
                                    static_cast<size_t>(picture->Stride()));
    } else {
      picture = CompositeLayers(file, *document, tree, plan);
    }
    if (!picture) return {};
    if (picture->colours == 4) return CmykToRgb(file, *picture, document->depth);
    if (document->mode == PsdModeLab) return LabToSrgb(file, *picture, document->depth);
    return CompositeToBitmap(*picture, document->depth);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

Bitmap RebuildFromLayers(const char* path, int64_t band_rows, int work_fd, bool& nothing_to_build,
                         const std::vector<std::string>& hidden_layers) {
  nothing_to_build = false;
  const MappedFile file(path);
  Bitmap picture = RebuildFromLayers(
      file.bytes(), band_rows, nothing_to_build,
      [work_fd](const CompositePlan& plan) {
        const DecoderWorkRecord work{plan.work, plan.left_out};
        return WriteAll(work_fd, &work, sizeof work);
      },
      hidden_layers);
  // A file cut short while it was read gave zeros instead of its layers.
  if (!file.Intact()) return {};
  return picture;
}
