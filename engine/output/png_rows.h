#pragma once

// The rows of a bitmap in PNG form, filtered: what the PNG writer compresses.

#include <FreeImage.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/output/png_encoder.h"

/// How a FreeImage row becomes a PNG row.
enum class PngRowForm {
  Copy,               // palette indices, grey, 16-bit samples already swapped by the caller
  Invert,             // grey stored white-is-zero
  Bgr,                // 24-bit BGR to RGB
  Bgra,               // 32-bit BGRA to RGBA
  BgraToRgb,          // 32-bit with opaque alpha to RGB
  Swap16,             // 16-bit little-endian samples to big-endian
  Rgba16ToRgb16,      // 16-bit RGBA with opaque alpha to RGB, big-endian
  BgraToGrey,         // 32-bit BGRA of grey pixels with opaque alpha to grey
  BgraToGreyAlpha,    // 32-bit BGRA of grey pixels to grey and alpha
  Rgba16ToGreyAlpha,  // 16-bit RGBA of grey pixels to grey and alpha, big-endian
};

/// The PNG form of a bitmap, as FreeImage's PNG writer chooses it.
struct PngLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  int bit_depth = 8;
  int color_type = 0;      // PNG_COLOR_TYPE_*
  int bits_per_pixel = 8;  // of the PNG's pixels
  size_t row_bytes = 0;    // one PNG row, without its filter byte
  size_t pixel_bytes = 1;  // bytes of one whole pixel, at least 1: the distance Sub looks back
  PngRowForm form = PngRowForm::Copy;
  bool transparent = false;  // a palette with a transparency table
};

/// The PNG form of `image`; none when FreeImage's PNG writer cannot write it either. With
/// `grey_from_rgba`, RGBA of 8 or 16 bits per channel is grey with alpha (grey alone where
/// FreeImage finds 8-bit alpha all opaque), its red taken as the grey: the caller vouches that
/// every pixel's red, green and blue are alike.
std::optional<PngLayout> DescribePng(FIBITMAP* image, bool grey_from_rgba = false);

/// Converts row `row` of the PNG (top first) into `out` (layout.row_bytes).
void ConvertPngRow(FIBITMAP* image, const PngLayout& layout, uint32_t row, uint8_t* out);

/// Produces filtered rows in order, from any starting row. Each result is the filter-type byte
/// followed by the filtered row; it stays valid until the next call.
class PngRowFilter {
 public:
  PngRowFilter(FIBITMAP* image, const PngLayout& layout, PngFilter filter);

  /// Starts at `row`: the next call of Next gives that row.
  void Seek(uint32_t row);
  const uint8_t* Next();
  size_t FilteredBytes() const { return layout_.row_bytes + 1; }

 private:
  const uint8_t* Filter(PngFilter filter, size_t slot);

  FIBITMAP* image_;
  PngLayout layout_;
  PngFilter filter_;
  uint32_t row_ = 0;
  bool advanced_ = false;            // a row was given since Seek: it becomes the row above
  std::vector<uint8_t> previous_;    // the row above, unfiltered (zeros above the first)
  std::vector<uint8_t> current_;     // filter byte 0 and the row unfiltered: the None result
  std::vector<uint8_t> candidates_;  // one filtered row for each other filter tried
};
