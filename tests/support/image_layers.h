#pragma once

// Layered documents for the tests of the layer reader and compositor, and the model their pixels
// are checked against: W3C source-over with blending, straight colour, written out here and never
// taken from the code under test.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/image/bitmap.h"
#include "tests/support/psd_writer.h"

using Colour = std::array<double, 3>;

/// A pixel the model expects: colour and alpha in 0..1.
struct Expected {
  Colour colour{};
  double alpha = 0;
};

/// A document whose stored composite is a white placeholder, as saved without compatibility;
/// deep documents keep their layers in a tagged block, as Photoshop writes them.
PsdSpec PlaceholderDocument(PsdMode mode, uint16_t depth, uint32_t width, uint32_t height);

/// A layer over `rect` (top, left, bottom, right) whose every pixel is `colour` with `alpha`; no
/// transparency channel when alpha is 1. Grey documents take the first colour.
PsdLayer SolidLayer(const PsdSpec& spec, std::array<int32_t, 4> rect, Colour colour,
                    double alpha = 1.0);

/// A group's records around `members`: the end marker below them, the group record above.
void AddGroup(PsdSpec& spec, std::vector<PsdLayer> members, const char* mode, uint8_t opacity);

/// A sample as the document stores it: 8 and 16 bits quantised, 32 bits as a float.
double Stored(double value, uint16_t depth);

/// Source-over with blending: cs' = (1 - ab) cs + ab B(cb, cs); co = as cs' + (1 - as) ab cb.
Expected Over(const Expected& backdrop, const Colour& source, double as,
              const std::function<Colour(const Colour&, const Colour&)>& blend = nullptr);

/// Checks the pixel at `x`, `y` of `image` against `expected` within `levels` of 8 bits; with
/// `srgb` the expected colour is linear light that the picture holds sRGB-encoded.
void ExpectPixel(const Bitmap& image, int x, int y, const Expected& expected, double levels = 1.0,
                 bool srgb = false);
