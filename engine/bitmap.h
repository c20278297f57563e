#pragma once

// The one owner of an image in work. Empty means "no image": a step failed.

#include <FreeImage.h>

#include <memory>

struct BitmapUnload {
  void operator()(FIBITMAP* bitmap) const noexcept { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapUnload>;
