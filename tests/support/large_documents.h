#pragma once

// Large layered documents for the tests of the decoder's bounds on memory and work. They are cheap
// to make and small on disk: flat colours that ZIP packs to almost nothing, and records without
// pixel data. Each is an 8-bit RGB document saved without its composite, so its picture is
// rebuilt from the layers.

#include <cstdint>
#include <string>

/// The group a nesting document repeats at every level.
enum class NestedGroupKind {
  PassThroughFaded,   // pass-through below full opacity
  PassThroughMasked,  // pass-through with a layer mask
  Normal,             // isolated, normal mode
  NormalMasked,       // isolated, normal mode, with a layer mask
};

/// What the canvas-wide layer inside the innermost group holds, and the groups' own values.
struct NestedGroupValues {
  static constexpr uint8_t Red = 51, Green = 128, Blue = 204, Alpha = 191;
  static constexpr uint8_t FadedOpacity = 230;  // of PassThroughFaded groups; the others 255
  static constexpr uint32_t SquareSide = 32;    // the small layer beside each inner group
  static constexpr uint32_t MaskSide = 64;      // a mask's own rectangle at the top left
};

/// `levels` groups of `kind`, each inside the one before, over a `width` x `height` canvas (both
/// at least 128): the innermost holds one layer over the whole canvas, every other level a
/// square layer near the top left beside its inner group. A mask is a gradient over its own
/// small rectangle at the top left and lets everything through elsewhere.
std::string NestedGroupsDocument(NestedGroupKind kind, int levels, uint32_t width, uint32_t height);

/// The alpha, 0..1, the canvas-wide layer of a nesting document of `levels` groups of `kind` ends
/// with where the groups' masks let `mask` through (its colour stays as stored).
double NestedGroupsAlpha(NestedGroupKind kind, int levels, double mask = 1.0);

/// The small layer with pixels at the bottom of an empty-layers document: a square of this
/// colour, opaque, at the top left.
struct EmptyLayersValues {
  static constexpr uint8_t Red = 200, Green = 40, Blue = 90;
  static constexpr uint32_t SquareSide = 16;
};

/// `count` layer records (at least 2) over a `width` x `height` canvas: the small square layer at
/// the bottom, then records that cover the whole canvas but carry no channel at all. 19999 such
/// records take about 920 KB.
std::string EmptyLayersDocument(uint32_t count, uint32_t width, uint32_t height);

/// A readable name of `kind`, for test output.
const char* NestedGroupKindName(NestedGroupKind kind);
