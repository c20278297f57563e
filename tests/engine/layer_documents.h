#pragma once

// Small documents saved without their composite, for the tests of rebuilds from the layers.

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "tests/support/psd_writer.h"

using Colour = std::array<double, 3>;

// A document whose stored composite is a white placeholder, as saved without compatibility.
inline PsdSpec PlaceholderDocument(PsdMode mode, uint16_t depth, uint32_t width, uint32_t height) {
  const uint16_t colours = mode == PsdMode::Greyscale ? 1 : 3;
  PsdSpec spec = MakePsdSpec(mode, depth, width, height, colours);
  FillPsdPlanes(spec, [depth](uint32_t, uint32_t, uint32_t) { return PsdSampleOf(1.0, depth); });
  spec.resources.push_back(PsdVersionInfoResource(false));
  spec.layers_in_tagged_block = depth > 8;
  return spec;
}

// A layer over `rect` (top, left, bottom, right) whose every pixel is `colour` with `alpha`; no
// transparency channel when alpha is 1.
inline PsdLayer SolidLayer(const PsdSpec& spec, std::array<int32_t, 4> rect, Colour colour,
                           double alpha = 1.0) {
  PsdLayer layer;
  layer.top = rect[0];
  layer.left = rect[1];
  layer.bottom = rect[2];
  layer.right = rect[3];
  const auto width = static_cast<uint32_t>(layer.right - layer.left);
  const auto height = static_cast<uint32_t>(layer.bottom - layer.top);
  const int colours = spec.mode == PsdMode::Greyscale ? 1 : 3;
  if (alpha < 1.0) {
    layer.channels.push_back({-1, PsdLayerPlane(width, height, spec.depth, [&](uint32_t, uint32_t) {
                                return PsdSampleOf(alpha, spec.depth);
                              })});
  }
  for (int c = 0; c < colours; ++c) {
    layer.channels.push_back(
        {static_cast<int16_t>(c), PsdLayerPlane(width, height, spec.depth, [&](uint32_t, uint32_t) {
           return PsdSampleOf(colour[c], spec.depth);
         })});
  }
  return layer;
}

// A group's records: the end marker below its members and the group record above them.
inline void AddGroup(PsdSpec& spec, std::vector<PsdLayer> members, const char* mode,
                     uint8_t opacity) {
  PsdLayer end;
  end.section = 3;
  spec.layers.push_back(end);
  for (PsdLayer& member : members) spec.layers.push_back(std::move(member));
  PsdLayer group;
  group.section = 1;
  std::copy(mode, mode + 5, group.blend_key);
  group.opacity = opacity;
  spec.layers.push_back(group);
}
