#include "engine/image/white_matte.h"

#include <algorithm>
#include <cstring>

namespace {

// Every 8-bit answer, by alpha and stored value: twelve million pixels need no divisions.
struct UnmatteTable {
  uint8_t values[256][256];
  UnmatteTable() {
    for (uint32_t alpha = 0; alpha < 256; ++alpha) {
      for (uint32_t stored = 0; stored < 256; ++stored) {
        values[alpha][stored] = static_cast<uint8_t>(UnmatteSample(stored, alpha, 255));
      }
    }
  }
};

const UnmatteTable& Table() {
  static const UnmatteTable table;
  return table;
}

// One pixel of 8-bit RGBA, unless it is opaque or fully transparent.
void UnmattePixel8(BYTE* pixel, const UnmatteTable& table) {
  const BYTE alpha = pixel[FI_RGBA_ALPHA];
  if (alpha == 0 || alpha == 255) return;
  const uint8_t* answers = table.values[alpha];
  pixel[FI_RGBA_RED] = answers[pixel[FI_RGBA_RED]];
  pixel[FI_RGBA_GREEN] = answers[pixel[FI_RGBA_GREEN]];
  pixel[FI_RGBA_BLUE] = answers[pixel[FI_RGBA_BLUE]];
}

// One row of 8-bit RGBA. Most pixels of a real document are opaque or fully transparent, so
// eight bytes (two pixels) are looked at first and skipped together when neither needs work.
void UnmatteRow8(BYTE* row, unsigned width, const UnmatteTable& table) {
  constexpr unsigned Shift = FI_RGBA_ALPHA * 8;
  constexpr uint64_t Alphas = uint64_t{0xFF} << Shift | uint64_t{0xFF} << (Shift + 32);
  unsigned x = 0;
  for (; x + 2 <= width; x += 2) {
    uint64_t pair = 0;
    std::memcpy(&pair, row + 4 * x, sizeof pair);
    const uint64_t alphas = pair & Alphas;
    if (alphas == Alphas || alphas == 0) continue;
    UnmattePixel8(row + 4 * x, table);
    UnmattePixel8(row + 4 * x + 4, table);
  }
  if (x < width) UnmattePixel8(row + 4 * x, table);
}

void UnmatteRow16(FIRGBA16* row, unsigned width) {
  for (FIRGBA16* pixel = row; pixel != row + width; ++pixel) {
    if (pixel->alpha == 0 || pixel->alpha == 65535) continue;
    pixel->red = UnmatteSample(pixel->red, pixel->alpha, 65535);
    pixel->green = UnmatteSample(pixel->green, pixel->alpha, 65535);
    pixel->blue = UnmatteSample(pixel->blue, pixel->alpha, 65535);
  }
}

void UnmatteRowFloat(FIRGBAF* row, unsigned width) {
  for (FIRGBAF* pixel = row; pixel != row + width; ++pixel) {
    if (!(pixel->alpha > 0.0f && pixel->alpha < 1.0f)) continue;
    for (float* value : {&pixel->red, &pixel->green, &pixel->blue}) {
      *value = (*value - (1.0f - pixel->alpha)) / pixel->alpha;
    }
  }
}

}  // namespace

uint16_t UnmatteSample(uint32_t stored, uint32_t alpha, uint32_t full) {
  if (alpha == 0) return static_cast<uint16_t>(stored);
  const int64_t numerator =
      (static_cast<int64_t>(stored) - static_cast<int64_t>(full - alpha)) * full;
  if (numerator <= 0) return 0;
  const int64_t value = (numerator + alpha / 2) / alpha;
  return static_cast<uint16_t>(std::min<int64_t>(value, full));
}

uint8_t UnmatteSample8(uint8_t stored, uint8_t alpha) { return Table().values[alpha][stored]; }

bool RemoveWhiteMatteInPlace(FIBITMAP* image) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
  if (type == FIT_BITMAP && FreeImage_GetBPP(image) != 32) return false;
  if (type != FIT_BITMAP && type != FIT_RGBA16 && type != FIT_RGBAF) return false;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  const UnmatteTable& table = Table();
  for (unsigned y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
    switch (type) {
      case FIT_BITMAP:
        UnmatteRow8(row, width, table);
        break;
      case FIT_RGBA16:
        UnmatteRow16(reinterpret_cast<FIRGBA16*>(row), width);
        break;
      default:
        UnmatteRowFloat(reinterpret_cast<FIRGBAF*>(row), width);
        break;
    }
  }
  return true;
}
