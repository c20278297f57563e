// The least any converter must do: decode the document and encode it as PNG with the same flags,
// optionally rescaled by a percentage, with nothing in between. With --unmatte, also the least a
// converter must do to give the same pixels as quorvix for a transparent 8-bit document: undo
// the white matte of the merged image before encoding; with --rgb24, for a 16-bit grey one:
// convert it to 24-bit RGB, the depth quorvix chooses for it.
//   bench_floor [--unmatte | --rgb24] IN.psd OUT.png FLAGS [PERCENT]

#include <FreeImage.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// c = (stored - 255 * (1 - a)) / a, rounded and clamped, for every alpha and stored value.
struct UnmatteTable {
  BYTE values[256][256];
  UnmatteTable() {
    for (int alpha = 0; alpha < 256; ++alpha) {
      for (int stored = 0; stored < 256; ++stored) {
        const int numerator = (stored - (255 - alpha)) * 255;
        int value = alpha == 0 ? stored : numerator <= 0 ? 0 : (numerator + alpha / 2) / alpha;
        values[alpha][stored] = static_cast<BYTE>(value > 255 ? 255 : value);
      }
    }
  }
};

void Unmatte(FIBITMAP* image) {
  if (FreeImage_GetImageType(image) != FIT_BITMAP || FreeImage_GetBPP(image) != 32) return;
  static const UnmatteTable table;
  const unsigned width = FreeImage_GetWidth(image);
  for (unsigned y = 0; y < FreeImage_GetHeight(image); ++y) {
    BYTE* pixel = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x, pixel += 4) {
      const BYTE alpha = pixel[FI_RGBA_ALPHA];
      if (alpha == 0 || alpha == 255) continue;
      for (int channel : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE}) {
        pixel[channel] = table.values[alpha][pixel[channel]];
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool unmatte = argc > 1 && std::strcmp(argv[1], "--unmatte") == 0;
  const bool rgb24 = argc > 1 && std::strcmp(argv[1], "--rgb24") == 0;
  if (unmatte || rgb24) {
    --argc;
    ++argv;
  }
  if (argc < 4) return 2;
  const int flags = std::atoi(argv[3]);
  FIBITMAP* image = FreeImage_Load(FIF_PSD, argv[1], 0);
  if (!image) return 1;
  if (unmatte) Unmatte(image);
  if (rgb24) {
    // FreeImage converts 16-bit grey to 24 bits only by way of 8-bit grey.
    FIBITMAP* grey = FreeImage_ConvertTo8Bits(image);
    FreeImage_Unload(image);
    if (!grey) return 1;
    image = FreeImage_ConvertTo24Bits(grey);
    FreeImage_Unload(grey);
    if (!image) return 1;
  }
  if (argc > 4) {
    const double percent = std::atof(argv[4]);
    const int width = static_cast<int>(FreeImage_GetWidth(image) * percent / 100.0 + 0.5);
    const int height = static_cast<int>(FreeImage_GetHeight(image) * percent / 100.0 + 0.5);
    FIBITMAP* scaled = FreeImage_Rescale(image, width, height, FILTER_BICUBIC);
    FreeImage_Unload(image);
    if (!scaled) return 1;
    image = scaled;
  }
  const bool saved = FreeImage_Save(FIF_PNG, image, argv[2], flags);
  FreeImage_Unload(image);
  return saved ? 0 : 1;
}
