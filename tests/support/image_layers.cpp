#include "tests/support/image_layers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/support/icc_profiles.h"
#include "tests/support/image_bitmaps.h"

PsdSpec PlaceholderDocument(PsdMode mode, uint16_t depth, uint32_t width, uint32_t height) {
  const uint16_t colours = mode == PsdMode::Greyscale ? 1 : 3;
  PsdSpec spec = MakePsdSpec(mode, depth, width, height, colours);
  FillPsdPlanes(spec, [depth](uint32_t, uint32_t, uint32_t) { return PsdSampleOf(1.0, depth); });
  spec.resources.push_back(PsdVersionInfoResource(false));
  spec.layers_in_tagged_block = depth > 8;
  return spec;
}

PsdLayer SolidLayer(const PsdSpec& spec, std::array<int32_t, 4> rect, Colour colour, double alpha) {
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

void AddGroup(PsdSpec& spec, std::vector<PsdLayer> members, const char* mode, uint8_t opacity) {
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

double Stored(double value, uint16_t depth) {
  switch (depth) {
    case 8:
      return std::round(value * 255) / 255;
    case 16:
      return std::round(value * 65535) / 65535;
    default:
      return static_cast<float>(value);
  }
}

Expected Over(const Expected& backdrop, const Colour& source, double as,
              const std::function<Colour(const Colour&, const Colour&)>& blend) {
  const double ab = backdrop.alpha;
  const double ao = as + ab * (1 - as);
  if (ao <= 0) return backdrop;
  const Colour mixed = blend && ab > 0 ? blend(backdrop.colour, source) : source;
  Expected out{{}, ao};
  for (int c = 0; c < 3; ++c) {
    const double cs = (1 - ab) * source[c] + ab * mixed[c];
    out.colour[c] = (as * cs + (1 - as) * ab * backdrop.colour[c]) / ao;
  }
  return out;
}

void ExpectPixel(const Bitmap& image, int x, int y, const Expected& expected, double levels,
                 bool srgb) {
  const Rgba16 pixel = ReadPixel(image, x, y);
  const uint16_t values[3] = {pixel.red, pixel.green, pixel.blue};
  for (int c = 0; c < 3; ++c) {
    const double want = srgb ? SrgbLevel(expected.colour[c]) / 255 : expected.colour[c];
    EXPECT_NEAR(values[c] / 65535.0 * 255, want * 255, levels)
        << "channel " << c << " at " << x << "," << y;
  }
  EXPECT_NEAR(pixel.alpha / 65535.0 * 255, expected.alpha * 255, levels) << x << "," << y;
}
