#include "engine/output/png_rows.h"

#include <png.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace {

// The filter-type byte of each filter in the PNG stream.
enum : uint8_t { TypeNone = 0, TypeSub = 1, TypeUp = 2, TypeAverage = 3, TypePaeth = 4 };

void FilterSub(const uint8_t* row, size_t length, size_t unit, uint8_t* out) {
  for (size_t i = 0; i < unit && i < length; ++i) out[i] = row[i];
  for (size_t i = unit; i < length; ++i) out[i] = static_cast<uint8_t>(row[i] - row[i - unit]);
}

void FilterUp(const uint8_t* row, const uint8_t* above, size_t length, uint8_t* out) {
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(row[i] - above[i]);
}

void FilterAverage(const uint8_t* row, const uint8_t* above, size_t length, size_t unit,
                   uint8_t* out) {
  for (size_t i = 0; i < unit && i < length; ++i) {
    out[i] = static_cast<uint8_t>(row[i] - (above[i] >> 1));
  }
  for (size_t i = unit; i < length; ++i) {
    out[i] = static_cast<uint8_t>(row[i] - ((row[i - unit] + above[i]) >> 1));
  }
}

void FilterPaeth(const uint8_t* row, const uint8_t* above, size_t length, size_t unit,
                 uint8_t* out) {
  // Left of the first pixel is 0 on both rows, where the predictor is the byte above.
  for (size_t i = 0; i < unit && i < length; ++i) {
    out[i] = static_cast<uint8_t>(row[i] - above[i]);
  }
  for (size_t i = unit; i < length; ++i) {
    const int a = row[i - unit];
    const int b = above[i];
    const int c = above[i - unit];
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    const int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
    out[i] = static_cast<uint8_t>(row[i] - predictor);
  }
}

// libpng's measure of how well a filtered row will compress: the bytes read as signed, summed
// by magnitude; the least wins.
uint64_t FilteredCost(const uint8_t* row, size_t length) {
  uint64_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum += row[i] < 128 ? row[i] : 256 - row[i];
  return sum;
}

size_t CandidateCount(PngFilter filter) {
  switch (filter) {
    case PngFilter::None:
      return 0;
    case PngFilter::Sub:
    case PngFilter::Up:
    case PngFilter::Average:
    case PngFilter::Paeth:
      return 1;
    case PngFilter::Adaptive:
      return 2;
    case PngFilter::AdaptiveAll:
      return 4;
  }
  return 0;
}

}  // namespace

std::optional<PngLayout> DescribePng(FIBITMAP* image, bool grey_from_rgba) {
  if (!image || !FreeImage_HasPixels(image)) return std::nullopt;
  PngLayout layout;
  layout.width = FreeImage_GetWidth(image);
  layout.height = FreeImage_GetHeight(image);
  if (layout.width == 0 || layout.height == 0) return std::nullopt;

  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
  const unsigned bpp = FreeImage_GetBPP(image);
  switch (type) {
    case FIT_BITMAP:
      if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return std::nullopt;
      layout.bit_depth = bpp > 8 ? 8 : static_cast<int>(bpp);
      break;
    case FIT_UINT16:
    case FIT_RGB16:
    case FIT_RGBA16:
      layout.bit_depth = 16;
      break;
    default:
      return std::nullopt;
  }
  layout.transparent = type == FIT_BITMAP && FreeImage_IsTransparent(image) &&
                       FreeImage_GetTransparencyCount(image) > 0;

  int channels = 1;
  const FREE_IMAGE_COLOR_TYPE colour = FreeImage_GetColorType(image);
  const bool deep_rgba = type == FIT_RGBA16;
  const bool grey_rgba = grey_from_rgba && ((type == FIT_BITMAP && bpp == 32) || deep_rgba);
  switch (colour) {
    case FIC_MINISWHITE:
    case FIC_MINISBLACK:
      if (!layout.transparent) {
        layout.color_type = PNG_COLOR_TYPE_GRAY;
        if (type == FIT_UINT16) {
          layout.form = PngRowForm::Swap16;
        } else if (type == FIT_BITMAP && bpp <= 8) {
          layout.form = colour == FIC_MINISWHITE ? PngRowForm::Invert : PngRowForm::Copy;
        } else {
          return std::nullopt;
        }
        break;
      }
      // A transparent grey image goes out with its palette, where the table applies.
      [[fallthrough]];
    case FIC_PALETTE:
      if (type != FIT_BITMAP || bpp > 8) return std::nullopt;
      layout.color_type = PNG_COLOR_TYPE_PALETTE;
      layout.form = PngRowForm::Copy;
      break;
    case FIC_RGB:
      // What FreeImage calls 32-bit colour whose alpha is all opaque (it calls RGBA16 RGBA).
      if (grey_rgba && !deep_rgba) {
        layout.color_type = PNG_COLOR_TYPE_GRAY;
        layout.form = PngRowForm::BgraToGrey;
        break;
      }
      channels = 3;
      layout.color_type = PNG_COLOR_TYPE_RGB;
      if (type == FIT_BITMAP && bpp == 24) {
        layout.form = PngRowForm::Bgr;
      } else if (type == FIT_BITMAP && bpp == 32) {
        layout.form = PngRowForm::BgraToRgb;
      } else if (type == FIT_RGB16) {
        layout.form = PngRowForm::Swap16;
      } else if (type == FIT_RGBA16) {
        layout.form = PngRowForm::Rgba16ToRgb16;
      } else {
        return std::nullopt;
      }
      break;
    case FIC_RGBALPHA:
      if (grey_rgba) {
        channels = 2;
        layout.color_type = PNG_COLOR_TYPE_GRAY_ALPHA;
        layout.form = deep_rgba ? PngRowForm::Rgba16ToGreyAlpha : PngRowForm::BgraToGreyAlpha;
        break;
      }
      channels = 4;
      layout.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
      if (type == FIT_BITMAP && bpp == 32) {
        layout.form = PngRowForm::Bgra;
      } else if (type == FIT_RGBA16) {
        layout.form = PngRowForm::Swap16;
      } else {
        return std::nullopt;
      }
      break;
    default:  // CMYK has no PNG form
      return std::nullopt;
  }
  layout.bits_per_pixel = channels * layout.bit_depth;
  const size_t bits = static_cast<size_t>(layout.bits_per_pixel);
  layout.row_bytes = (static_cast<size_t>(layout.width) * bits + 7) / 8;
  layout.pixel_bytes = std::max<size_t>(1, bits / 8);
  return layout;
}

void ConvertPngRow(FIBITMAP* image, const PngLayout& layout, uint32_t row, uint8_t* out) {
  const uint8_t* source = FreeImage_GetScanLine(image, static_cast<int>(layout.height - 1 - row));
  const size_t width = layout.width;
  switch (layout.form) {
    case PngRowForm::Copy:
      std::memcpy(out, source, layout.row_bytes);
      return;
    case PngRowForm::Invert:
      for (size_t i = 0; i < layout.row_bytes; ++i) out[i] = static_cast<uint8_t>(~source[i]);
      return;
    case PngRowForm::Bgr:
      // A plain copy streams the row in at full speed; red and blue then swap in the cache.
      std::memcpy(out, source, layout.row_bytes);
      if constexpr (FI_RGBA_RED != 0) {
        for (size_t x = 0; x < width; ++x, out += 3) std::swap(out[0], out[2]);
      }
      return;
    case PngRowForm::Bgra:
      std::memcpy(out, source, layout.row_bytes);
      if constexpr (FI_RGBA_RED != 0 && std::endian::native != std::endian::little) {
        for (size_t x = 0; x < width; ++x, out += 4) std::swap(out[0], out[2]);
      } else if constexpr (FI_RGBA_RED != 0) {
        // Whole pixels as words, which the compiler turns into vector shifts and masks.
        for (size_t x = 0; x < width; ++x, out += 4) {
          uint32_t pixel;
          std::memcpy(&pixel, out, 4);
          pixel = (pixel & 0xFF00FF00u) | (pixel >> 16 & 0xFFu) | (pixel & 0xFFu) << 16;
          std::memcpy(out, &pixel, 4);
        }
      }
      return;
    case PngRowForm::BgraToRgb:
      for (size_t x = 0; x < width; ++x, source += 4, out += 3) {
        out[0] = source[FI_RGBA_RED];
        out[1] = source[FI_RGBA_GREEN];
        out[2] = source[FI_RGBA_BLUE];
      }
      return;
    case PngRowForm::Swap16:
      for (size_t i = 0; i + 1 < layout.row_bytes; i += 2) {
        out[i] = source[i + 1];
        out[i + 1] = source[i];
      }
      return;
    case PngRowForm::Rgba16ToRgb16:
      for (size_t x = 0; x < width; ++x, source += 8, out += 6) {
        for (size_t i = 0; i < 6; i += 2) {
          out[i] = source[i + 1];
          out[i + 1] = source[i];
        }
      }
      return;
    case PngRowForm::BgraToGrey:
      for (size_t x = 0; x < width; ++x, source += 4) *out++ = source[FI_RGBA_RED];
      return;
    case PngRowForm::BgraToGreyAlpha:
      for (size_t x = 0; x < width; ++x, source += 4, out += 2) {
        out[0] = source[FI_RGBA_RED];
        out[1] = source[FI_RGBA_ALPHA];
      }
      return;
    case PngRowForm::Rgba16ToGreyAlpha:
      // Red (bytes 0 and 1) and alpha (bytes 6 and 7), each swapped to big-endian.
      for (size_t x = 0; x < width; ++x, source += 8, out += 4) {
        out[0] = source[1];
        out[1] = source[0];
        out[2] = source[7];
        out[3] = source[6];
      }
      return;
  }
}

PngRowFilter::PngRowFilter(FIBITMAP* image, const PngLayout& layout, PngFilter filter)
    : image_(image),
      layout_(layout),
      filter_(filter),
      previous_(layout.row_bytes + 1, 0),
      current_(layout.row_bytes + 1, 0),
      candidates_(CandidateCount(filter) * (layout.row_bytes + 1), 0) {}

void PngRowFilter::Seek(uint32_t row) {
  row_ = row;
  if (row > 0) {
    ConvertPngRow(image_, layout_, row - 1, previous_.data() + 1);
  } else {
    std::fill(previous_.begin(), previous_.end(), 0);
  }
  advanced_ = false;
}

const uint8_t* PngRowFilter::Next() {
  if (advanced_) std::swap(previous_, current_);
  advanced_ = true;
  ConvertPngRow(image_, layout_, row_++, current_.data() + 1);
  current_[0] = TypeNone;

  switch (filter_) {
    case PngFilter::None:
      return current_.data();
    case PngFilter::Sub:
    case PngFilter::Up:
    case PngFilter::Average:
    case PngFilter::Paeth:
      return Filter(filter_, 0);
    case PngFilter::Adaptive:
    case PngFilter::AdaptiveAll:
      break;
  }
  const size_t length = layout_.row_bytes;
  const uint8_t* best = current_.data();
  uint64_t best_cost = FilteredCost(best + 1, length);
  const PngFilter tried[4] = {PngFilter::Sub, PngFilter::Paeth, PngFilter::Up, PngFilter::Average};
  const size_t count = CandidateCount(filter_);
  for (size_t slot = 0; slot < count; ++slot) {
    const uint8_t* candidate = Filter(tried[slot], slot);
    const uint64_t cost = FilteredCost(candidate + 1, length);
    if (cost < best_cost) {
      best = candidate;
      best_cost = cost;
    }
  }
  return best;
}

const uint8_t* PngRowFilter::Filter(PngFilter filter, size_t slot) {
  uint8_t* out = candidates_.data() + slot * (layout_.row_bytes + 1);
  const uint8_t* row = current_.data() + 1;
  const uint8_t* above = previous_.data() + 1;
  const size_t length = layout_.row_bytes;
  const size_t unit = layout_.pixel_bytes;
  switch (filter) {
    case PngFilter::Sub:
      out[0] = TypeSub;
      FilterSub(row, length, unit, out + 1);
      break;
    case PngFilter::Up:
      out[0] = TypeUp;
      FilterUp(row, above, length, out + 1);
      break;
    case PngFilter::Average:
      out[0] = TypeAverage;
      FilterAverage(row, above, length, unit, out + 1);
      break;
    case PngFilter::Paeth:
      out[0] = TypePaeth;
      FilterPaeth(row, above, length, unit, out + 1);
      break;
    case PngFilter::None:
    case PngFilter::Adaptive:
    case PngFilter::AdaptiveAll:
      return current_.data();
  }
  return out;
}
