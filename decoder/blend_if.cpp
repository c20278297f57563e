#include "decoder/blend_if.h"

#include <algorithm>
#include <cmath>

namespace {

// The grey a "blend if" range of the composite compares: the luminance of RGB (and of CMYK's
// stored values, which are 1 - ink, darkened by black), or the grey itself.
float Grey(const float* pixel, int colours) {
  if (colours < 3) return pixel[0];
  const float grey = 0.3f * pixel[0] + 0.59f * pixel[1] + 0.11f * pixel[2];
  return colours == 4 ? grey * pixel[3] : grey;
}

}  // namespace

float BlendIfRange::Weight(float value) const {
  const float level = std::clamp(std::isfinite(value) ? value : 0.0f, 0.0f, 1.0f) * 255;
  float weight = 1;
  if (level < black_low) return 0;
  if (level < black_high) weight = (level - black_low) / static_cast<float>(black_high - black_low);
  if (level > white_high) return 0;
  if (level > white_low) {
    weight = std::min(weight, (white_high - level) / static_cast<float>(white_high - white_low));
  }
  return weight;
}

bool BlendIfRanges::Any() const {
  return std::any_of(pairs.begin(), pairs.end(), [](const std::array<BlendIfRange, 2>& pair) {
    return !pair[0].Whole() || !pair[1].Whole();
  });
}

BlendIfRanges ReadBlendIfRanges(std::span<const uint8_t> bytes, int channels) {
  BlendIfRanges ranges;
  const size_t count = std::min(bytes.size() / 8, static_cast<size_t>(std::max(channels, 0) + 1));
  for (size_t i = 0; i < count; ++i) {
    std::array<BlendIfRange, 2> pair;
    for (size_t side = 0; side < 2; ++side) {
      const uint8_t* range = bytes.data() + i * 8 + side * 4;
      // A range whose halves cross is taken as its halves in order.
      std::array<uint8_t, 4> values{range[0], range[1], range[2], range[3]};
      values[1] = std::max(values[0], values[1]);
      values[3] = std::max(values[2], values[3]);
      pair[side] = {values[0], values[1], values[2], values[3]};
    }
    ranges.pairs.push_back(pair);
  }
  return ranges;
}

float BlendIfWeight(const BlendIfRanges& ranges, const float* source, const float* backdrop,
                    int colours) {
  float weight = 1;
  for (size_t i = 0; i < ranges.pairs.size() && weight > 0; ++i) {
    const auto& [own, under] = ranges.pairs[i];
    const bool grey = i == 0;
    const int channel = static_cast<int>(i) - 1;
    if (!grey && channel >= colours) break;
    const float mine = grey ? Grey(source, colours) : source[channel];
    const float below = grey ? Grey(backdrop, colours) : backdrop[channel];
    if (!own.Whole()) weight *= own.Weight(mine);
    if (!under.Whole()) weight *= under.Weight(below);
  }
  return weight;
}
