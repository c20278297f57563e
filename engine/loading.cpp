#include "engine/loading.h"

Bitmap LoadInputImage(const std::string& path) {
  // FreeImage's wide-character entry points are stubs on Linux: the plain ones take UTF-8.
  Bitmap image(FreeImage_Load(FIF_PSD, path.c_str(), 0));
  if (!image) return image;
  if (FreeImage_GetWidth(image.get()) == 0 || FreeImage_GetHeight(image.get()) == 0) return {};
  return image;
}
