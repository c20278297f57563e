#pragma once

// Helpers for the tests of drawn layers: 8-bit pixel access, small images, and golden images.
//
// Golden images: with QUORVIX_UPDATE_GOLDEN=1, or when tests/golden/<name>.png does not exist yet,
// the image is written there and the check fails, asking for a look and a commit. Otherwise the
// image must match: a pixel counts as different when any channel (alpha included) differs by more
// than GoldenChannelTolerance, and at most GoldenPixelShare of the pixels may differ (font
// rasterisers of other versions move a few edge pixels). On a mismatch <name>.actual.png and
// <name>.diff.png go to the build folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/image/bitmap.h"

namespace drawn {

struct Rgba {
  int red = 0;
  int green = 0;
  int blue = 0;
  int alpha = 255;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rgba& c) {
  return out << "(" << c.red << ", " << c.green << ", " << c.blue << ", " << c.alpha << ")";
}

inline constexpr int GoldenChannelTolerance = 8;
inline constexpr double GoldenPixelShare = 0.005;

/// The pixel at x, y (top row 0) of a 24- or 32-bit image.
inline Rgba At(FIBITMAP* image, int x, int y) {
  const int row = static_cast<int>(FreeImage_GetHeight(image)) - 1 - y;
  const unsigned bytes = FreeImage_GetBPP(image) / 8;
  const BYTE* pixel = FreeImage_GetScanLine(image, row) + x * bytes;
  return {pixel[FI_RGBA_RED], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_BLUE],
          bytes == 4 ? pixel[FI_RGBA_ALPHA] : 255};
}
inline Rgba At(const Bitmap& image, int x, int y) { return At(image.get(), x, y); }

inline void Put(FIBITMAP* image, int x, int y, Rgba colour) {
  const int row = static_cast<int>(FreeImage_GetHeight(image)) - 1 - y;
  const unsigned bytes = FreeImage_GetBPP(image) / 8;
  BYTE* pixel = FreeImage_GetScanLine(image, row) + x * bytes;
  pixel[FI_RGBA_RED] = static_cast<BYTE>(colour.red);
  pixel[FI_RGBA_GREEN] = static_cast<BYTE>(colour.green);
  pixel[FI_RGBA_BLUE] = static_cast<BYTE>(colour.blue);
  if (bytes == 4) pixel[FI_RGBA_ALPHA] = static_cast<BYTE>(colour.alpha);
}

/// A `bpp` (24 or 32) image filled with one colour.
inline Bitmap Uniform(int width, int height, int bpp, Rgba colour) {
  Bitmap image(FreeImage_Allocate(width, height, bpp, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                  FI_RGBA_BLUE_MASK));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) Put(image.get(), x, y, colour);
  return image;
}

/// A 24-bit backdrop with a diagonal colour ramp, so a golden image shows what lies beneath.
inline Bitmap Backdrop(int width, int height) {
  Bitmap image = Uniform(width, height, 24, {});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      Put(image.get(), x, y, {40 + 160 * x / width, 90, 40 + 160 * y / height, 255});
  return image;
}

inline std::filesystem::path BuildFolder() {
  return std::filesystem::path(QUORVIX_BIN_DIR).parent_path();
}

inline bool SavePng(FIBITMAP* image, const std::filesystem::path& path) {
  return FreeImage_Save(FIF_PNG, image, path.c_str(), 0);
}

/// Compares `image` with tests/golden/<name>.png as the header says.
inline ::testing::AssertionResult MatchesGolden(const Bitmap& image, const std::string& name) {
  if (!image) return ::testing::AssertionFailure() << "no image for golden " << name;
  const std::filesystem::path golden =
      std::filesystem::path(QUORVIX_SOURCE_DIR) / "tests" / "golden" / (name + ".png");
  const char* update = std::getenv("QUORVIX_UPDATE_GOLDEN");
  if ((update && std::string(update) == "1") || !std::filesystem::exists(golden)) {
    std::filesystem::create_directories(golden.parent_path());
    if (!SavePng(image.get(), golden))
      return ::testing::AssertionFailure() << "cannot write " << golden;
    return ::testing::AssertionFailure()
           << "wrote " << golden << ": look at it and commit it, then run again";
  }
  const Bitmap expected(FreeImage_Load(FIF_PNG, golden.c_str(), 0));
  const Bitmap actual(FreeImage_ConvertTo32Bits(image.get()));
  const Bitmap wanted(expected ? FreeImage_ConvertTo32Bits(expected.get()) : nullptr);
  if (!wanted) return ::testing::AssertionFailure() << "cannot read " << golden;
  const int width = static_cast<int>(FreeImage_GetWidth(actual.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(actual.get()));
  if (width != static_cast<int>(FreeImage_GetWidth(wanted.get())) ||
      height != static_cast<int>(FreeImage_GetHeight(wanted.get()))) {
    SavePng(image.get(), BuildFolder() / (name + ".actual.png"));
    return ::testing::AssertionFailure()
           << name << ": size " << width << "x" << height << " differs from the golden image";
  }
  Bitmap diff = Uniform(width, height, 24, {});
  long differing = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgba a = At(actual, x, y);
      const Rgba b = At(wanted, x, y);
      const int d = std::max({std::abs(a.red - b.red), std::abs(a.green - b.green),
                              std::abs(a.blue - b.blue), std::abs(a.alpha - b.alpha)});
      if (d > GoldenChannelTolerance) {
        ++differing;
        Put(diff.get(), x, y, {255, 0, 255, 255});
      }
    }
  }
  if (differing > GoldenPixelShare * width * height) {
    SavePng(image.get(), BuildFolder() / (name + ".actual.png"));
    SavePng(diff.get(), BuildFolder() / (name + ".diff.png"));
    return ::testing::AssertionFailure() << name << ": " << differing << " of " << width * height
                                         << " pixels differ; see " << BuildFolder();
  }
  return ::testing::AssertionSuccess();
}

}  // namespace drawn
