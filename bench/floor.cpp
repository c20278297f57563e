// The least any converter must do: decode the document and encode it as PNG with the same flags,
// optionally rescaled by a percentage, with nothing in between.
//   bench_floor IN.psd OUT.png FLAGS [PERCENT]

#include <FreeImage.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const int flags = std::atoi(argv[3]);
  FIBITMAP* image = FreeImage_Load(FIF_PSD, argv[1], 0);
  if (!image) return 1;
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
