#pragma once

// "Blend if" ranges of a layer record: for the composite grey and each colour channel, a range
// for the layer's own value ("this layer") and one for the value beneath it ("underlying
// layer"). A pixel of the layer shows where every value lies within its range; split sliders
// fade it in between their halves.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

/// One range, in levels 0..255: fully shown from `black_high` to `white_low`, hidden below
/// `black_low` and above `white_high`, and linear in between.
struct BlendIfRange {
  uint8_t black_low = 0;
  uint8_t black_high = 0;
  uint8_t white_low = 255;
  uint8_t white_high = 255;

  bool Whole() const {
    return black_low == 0 && black_high == 0 && white_low == 255 && white_high == 255;
  }
  /// How much of the layer shows (0..1) at value `value` (0..1).
  float Weight(float value) const;
};

/// The ranges of one record: the grey's first, then each channel's, each a pair of this layer's
/// and the underlying layer's.
struct BlendIfRanges {
  std::vector<std::array<BlendIfRange, 2>> pairs;

  /// True when some range leaves out part of the values.
  bool Any() const;
};

/// Reads the record's blending ranges (four bytes a range: black low, black high, white low,
/// white high; this layer's before the underlying layer's), at most `channels` besides the grey.
BlendIfRanges ReadBlendIfRanges(std::span<const uint8_t> bytes, int channels);

/// How much of the layer's pixel `source` shows over `backdrop` (both `colours` straight
/// samples, 0..1, CMYK as stored).
float BlendIfWeight(const BlendIfRanges& ranges, const float* source, const float* backdrop,
                    int colours);
