#include "tests/support/image_layers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/support/icc_profiles.h"
#include "tests/support/image_bitmaps.h"

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
