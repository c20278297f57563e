#pragma once

// The model the pixels of layered documents (tests/engine/layer_documents.h) are checked
// against: W3C source-over with blending, straight colour, written out here and never taken from
// the code under test.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/image/bitmap.h"
#include "tests/engine/layer_documents.h"

/// A pixel the model expects: colour and alpha in 0..1.
struct Expected {
  Colour colour{};
  double alpha = 0;
};

/// A sample as the document stores it: 8 and 16 bits quantised, 32 bits as a float.
double Stored(double value, uint16_t depth);

/// Source-over with blending: cs' = (1 - ab) cs + ab B(cb, cs); co = as cs' + (1 - as) ab cb.
Expected Over(const Expected& backdrop, const Colour& source, double as,
              const std::function<Colour(const Colour&, const Colour&)>& blend = nullptr);

/// Checks the pixel at `x`, `y` of `image` against `expected` within `levels` of 8 bits; with
/// `srgb` the expected colour is linear light that the picture holds sRGB-encoded.
void ExpectPixel(const Bitmap& image, int x, int y, const Expected& expected, double levels = 1.0,
                 bool srgb = false);
