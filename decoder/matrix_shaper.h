#pragma once

// RGB matrix-shaper profiles (three curves and three colorants: Adobe RGB, ProPhoto, Display P3
// and most working spaces) to sRGB by tables, for 8-bit pictures: the curves to linear light for
// every level, one 3 x 3 matrix, and sRGB's curve over 16384 steps of linear light. That is what
// LittleCMS's optimised path does too, but through calls per pixel; this loop takes a fifth of its
// time and stays within 0.75 of a level of its exact transform.

#include <lcms2.h>

#include <array>
#include <cstdint>
#include <memory>

#include "engine/image/bitmap.h"

class MatrixShaperToSrgb {
 public:
  /// The conversion from `source` to `srgb` (sRGB, whose three curves are alike), relative
  /// colorimetric with black-point compensation; null unless `source` is an RGB matrix-shaper
  /// without lookup tables (LittleCMS would use those) whose curves all start at black, where the
  /// compensation changes nothing.
  static std::unique_ptr<MatrixShaperToSrgb> Between(cmsHPROFILE source, cmsHPROFILE srgb);

  /// Converts `count` pixels of 8-bit blue, green, red in place, `step` bytes apart (3, or 4 with
  /// alpha, which is left alone).
  void ConvertPixels(BYTE* pixels, unsigned count, unsigned step) const;

  /// Steps of linear light in the table back to sRGB.
  static constexpr int LinearSteps = 16384;

 private:
  MatrixShaperToSrgb() = default;

  std::array<std::array<float, 256>, 3> linear_{};  // red, green, blue levels to linear light
  std::array<std::array<float, 3>, 3> matrix_{};    // linear source to linear sRGB
  std::array<uint8_t, LinearSteps + 1> encode_{};   // linear sRGB to its levels
};
