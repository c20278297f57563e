#pragma once

// Rebuilds a document's picture from its layers, for documents saved without a usable composite.
// Works in floats, one colour channel (grey) or three (RGB) plus alpha, straight colour, and
// decodes one layer at a time, so memory is the canvas, one layer and the output.
//
// Drawn: visibility, opacity and fill opacity, the transparency channel, layer masks (own
// rectangle, default colour, disabled flag), vector masks drawn from their paths (times the
// user's mask; without a drawable path, the mask channels alone), clipping groups (on a layer or
// a group), groups (nested, pass-through or isolated with their own mode, opacity and mask) and
// every blend mode of blend_modes.h.
// Not drawn: adjustment and fill layers' effect, layer effects, "blend if" ranges.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoder/psd_layers.h"
#include "engine/image/bitmap.h"

/// Floats in memory of their own, asked for in huge pages where the system has them: a
/// 12-megapixel canvas is 48 million floats, and faulting them in 4 KiB at a time costs more than
/// compositing into them. Throws std::bad_alloc when the memory cannot be had.
class FloatBuffer {
 public:
  FloatBuffer() = default;
  /// `size` zeros.
  explicit FloatBuffer(size_t size);
  ~FloatBuffer();
  FloatBuffer(const FloatBuffer& other);
  FloatBuffer& operator=(const FloatBuffer&) = delete;
  FloatBuffer(FloatBuffer&& other) noexcept;
  FloatBuffer& operator=(FloatBuffer&& other) noexcept;

  /// Makes room for `size` floats; what they hold is unspecified (zeros when new memory).
  void Resize(size_t size);
  float* data() { return data_; }
  const float* data() const { return data_; }
  size_t size() const { return size_; }
  float& operator[](size_t i) { return data_[i]; }
  float operator[](size_t i) const { return data_[i]; }

 private:
  float* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

/// A picture in work: `colours` channels and alpha per pixel, straight colour, row by row over
/// `region`.
struct LayerPixels {
  LayerRect region;
  int colours = 3;
  FloatBuffer samples;

  int Stride() const { return colours + 1; }
  float* At(int64_t x, int64_t y) {
    return samples.data() + ((y - region.top) * region.Width() + (x - region.left)) * Stride();
  }
};

/// A group, or a layer when it has no members: the tree the flat, bottom-first list of records
/// stands for.
struct LayerNode {
  const LayerRecord* record = nullptr;
  bool group = false;
  std::vector<LayerNode> members;  // bottom first
};

/// The tree of `document`'s records; unbalanced group markers are taken as best they can be.
std::vector<LayerNode> BuildLayerTree(const LayeredDocument& document);

/// True when some layer that would be drawn has colour pixels on the canvas.
bool HasVisiblePixels(const LayeredDocument& document, const std::vector<LayerNode>& tree);

/// The composite of `document` (read from `file`) over a transparent canvas; std::nullopt when a
/// channel's data is damaged or the mode is one we do not composite.
std::optional<LayerPixels> CompositeLayers(std::span<const uint8_t> file,
                                           const LayeredDocument& document);

/// The ink of a CMYK composite as FreeImage loads CMYK samples (8 bits: 32-bit C, M, Y, K bytes;
/// 16 bits: RGBA16 holding C, M, Y, K; 0 = no ink), for a conversion through the document's
/// profile. Empty for other pictures.
Bitmap CompositeToCmykBitmap(const LayerPixels& picture, uint16_t depth);

/// The RGB bitmap of a CMYK composite: `converted` (its colours through the document's profile,
/// 24- or 48-bit, as ConvertCmykThroughProfile makes them) when given, else the plain conversion;
/// with the composite's alpha when some pixel is not opaque. Empty when memory runs out or
/// `converted` does not fit.
Bitmap CmykCompositeToRgb(const LayerPixels& picture, uint16_t depth, Bitmap converted);

/// The composite as the bitmap a decoder makes of a stored picture at the document's depth:
/// 8-bit grey or 24-bit RGB, 16-bit grey or RGB16, float grey or RGBF, and the RGBA kind of
/// each when some pixel is not opaque. Empty when memory runs out.
Bitmap CompositeToBitmap(const LayerPixels& picture, uint16_t depth);
