#pragma once

// Rebuilds a document's picture from its layers, for documents saved without a usable composite.
// Works in floats, one colour channel (grey) or three (RGB) plus alpha, straight colour, and
// decodes one layer at a time. Memory is the canvas, the output, and buffers limited to the
// reach of a layer or group: a nesting deeper than those fit beside the canvas is drawn in bands
// of rows, each band through the whole tree, so memory does not grow with the depth. Work follows
// the content: layers without pixels or without any opacity, and everything below a layer that
// covers the band opaquely, are passed over.
//
// Drawn: visibility, opacity and fill opacity, the transparency channel, layer masks (own
// rectangle, default colour, disabled flag), vector masks drawn from their paths (times the
// user's mask; without a drawable path, the mask channels alone), clipping groups (on a layer or
// a group), groups (nested, pass-through or isolated with their own mode, opacity and mask) and
// every blend mode of blend_modes.h. A layer record without any colour channel has no pixels.
// Adjustment and fill layers are drawn from their settings (decoder/adjustments.h,
// decoder/gradient.h, decoder/patterns.h), pixel layers' effects from decoder/layer_effects.h.
// "Blend if" ranges are honoured on pixel layers without effects; artboards draw their background
// under their members and show them only on their board.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoder/layer_tree.h"
#include "decoder/psd_layers.h"

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
  /// Makes room for `size` floats, all zero.
  void ResizeZeroed(size_t size);
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

/// The composite of `document` (read from `file`, its tree `tree`) over a transparent canvas,
/// drawn as `plan` says; std::nullopt when a channel's data is damaged or the mode is one we do
/// not composite.
std::optional<LayerPixels> CompositeLayers(std::span<const uint8_t> file,
                                           const LayeredDocument& document,
                                           const std::vector<LayerNode>& tree,
                                           const CompositePlan& plan);

/// The same, with the tree and plan made here.
std::optional<LayerPixels> CompositeLayers(std::span<const uint8_t> file,
                                           const LayeredDocument& document);
