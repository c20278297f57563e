// The decoder's layer reader and compositor on arbitrary bytes: the header, the records, every
// compression of the channel data, masks, vector mask paths (read for every layer, drawn for the
// visible ones), clipping and groups.

#include <cstddef>
#include <cstdint>
#include <span>

#include "decoder/composite_bitmap.h"
#include "decoder/compositor.h"
#include "decoder/psd_layers.h"
#include "decoder/vector_mask.h"

namespace {
// The canvas is the compositor's own work: keep it small so a slow input shows a real fault.
constexpr uint64_t FuzzMaxPixels = 1u << 16;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::optional<LayeredDocument> document = ReadLayeredDocument(bytes);
  if (!document) return 0;
  if (static_cast<uint64_t>(document->width) * document->height > FuzzMaxPixels) return 0;
  for (const LayerRecord& layer : document->layers) {
    const LayerVectorMask& mask = layer.vector_mask;
    if (mask.present) {
      ReadVectorPath(bytes.subspan(mask.offset, mask.length), document->width, document->height);
    }
  }
  HasVisiblePixels(*document, BuildLayerTree(*document));
  const std::optional<LayerPixels> picture = CompositeLayers(bytes, *document);
  if (picture) CompositeToBitmap(*picture, document->depth);
  return 0;
}
