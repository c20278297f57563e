#include "tests/support/large_documents.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "tests/support/psd_writer.h"

namespace {

// An 8-bit RGB document without its composite; the planes it would need are never made.
PsdSpec RebuiltDocument(uint32_t width, uint32_t height) {
  PsdSpec spec;
  spec.mode = PsdMode::Rgb;
  spec.depth = 8;
  spec.width = width;
  spec.height = height;
  spec.channels = 3;
  spec.omit_composite = true;
  return spec;
}

// A layer of one opaque or translucent colour over a rectangle; 8-bit planes are plain bytes.
PsdLayer FlatLayer(int32_t top, int32_t left, int32_t bottom, int32_t right,
                   const uint8_t (&rgb)[3], int alpha, PsdChannelCompression compression) {
  PsdLayer layer;
  layer.top = top;
  layer.left = left;
  layer.bottom = bottom;
  layer.right = right;
  layer.compression = compression;
  const auto samples = static_cast<size_t>(bottom - top) * static_cast<size_t>(right - left);
  if (alpha < 255) layer.channels.push_back({-1, std::string(samples, static_cast<char>(alpha))});
  for (int16_t c = 0; c < 3; ++c) {
    layer.channels.push_back({c, std::string(samples, static_cast<char>(rgb[c]))});
  }
  return layer;
}

PsdLayer GroupRecord(NestedGroupKind kind) {
  PsdLayer group;
  group.section = 1;
  const bool pass =
      kind == NestedGroupKind::PassThroughFaded || kind == NestedGroupKind::PassThroughMasked;
  std::copy_n(pass ? "pass" : "norm", 5, group.blend_key);
  if (kind == NestedGroupKind::PassThroughFaded) group.opacity = NestedGroupValues::FadedOpacity;
  if (kind == NestedGroupKind::PassThroughMasked || kind == NestedGroupKind::NormalMasked) {
    constexpr uint32_t Side = NestedGroupValues::MaskSide;
    group.has_mask = true;
    group.mask.bottom = group.mask.right = static_cast<int32_t>(Side);
    group.mask.default_colour = 255;
    group.mask.plane = PsdLayerPlane(
        Side, Side, 8, [](uint32_t x, uint32_t y) { return (x + y) * 255 / (2 * Side - 2); });
    group.channels.push_back({-2, {}});
  }
  return group;
}

}  // namespace

std::string NestedGroupsDocument(NestedGroupKind kind, int levels, uint32_t width,
                                 uint32_t height) {
  PsdSpec spec = RebuiltDocument(width, height);
  using V = NestedGroupValues;
  for (int level = 0; level < levels; ++level) {
    PsdLayer end;
    end.section = 3;
    spec.layers.push_back(std::move(end));
    if (level + 1 == levels) {
      spec.layers.push_back(FlatLayer(0, 0, static_cast<int32_t>(height),
                                      static_cast<int32_t>(width), {V::Red, V::Green, V::Blue},
                                      V::Alpha, PsdChannelCompression::Zip));
      continue;
    }
    const uint8_t shade = static_cast<uint8_t>(40 + 20 * level);
    const auto at = static_cast<int32_t>(V::MaskSide + 2 * level);
    spec.layers.push_back(FlatLayer(at, at, at + static_cast<int32_t>(V::SquareSide),
                                    at + static_cast<int32_t>(V::SquareSide), {shade, 255, 0}, 255,
                                    PsdChannelCompression::Rle));
  }
  for (int level = 0; level < levels; ++level) spec.layers.push_back(GroupRecord(kind));
  return WritePsd(spec);
}

double NestedGroupsAlpha(NestedGroupKind kind, int levels, double mask) {
  using V = NestedGroupValues;
  // Over nothing, each level's opacity or mask thins what its members drew.
  const double level = kind == NestedGroupKind::PassThroughFaded ? V::FadedOpacity / 255.0
                       : kind == NestedGroupKind::Normal         ? 1.0
                                                                 : mask;
  return V::Alpha / 255.0 * std::pow(level, levels);
}

std::string EmptyLayersDocument(uint32_t count, uint32_t width, uint32_t height) {
  PsdSpec spec = RebuiltDocument(width, height);
  using V = EmptyLayersValues;
  constexpr auto Side = static_cast<int32_t>(V::SquareSide);
  spec.layers.push_back(
      FlatLayer(0, 0, Side, Side, {V::Red, V::Green, V::Blue}, 255, PsdChannelCompression::Rle));
  PsdLayer empty;
  empty.bottom = static_cast<int32_t>(height);
  empty.right = static_cast<int32_t>(width);
  spec.layers.resize(std::max<uint32_t>(count, 2), empty);
  return WritePsd(spec);
}

const char* NestedGroupKindName(NestedGroupKind kind) {
  switch (kind) {
    case NestedGroupKind::PassThroughFaded:
      return "pass-through faded";
    case NestedGroupKind::PassThroughMasked:
      return "pass-through masked";
    case NestedGroupKind::Normal:
      return "normal";
    case NestedGroupKind::NormalMasked:
      return "normal masked";
  }
  return "?";
}
