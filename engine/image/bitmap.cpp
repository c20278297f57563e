#include "engine/image/bitmap.h"

#include <sys/mman.h>

#include <mutex>
#include <string_view>
#include <unordered_map>

namespace {

struct PixelMapping {
  void* address;
  size_t length;
};

// Few bitmaps wrap a mapping (the decoded document of each file), so a locked map is cheap.
std::mutex mappings_lock;
std::unordered_map<FIBITMAP*, PixelMapping>& Mappings() {
  static std::unordered_map<FIBITMAP*, PixelMapping> mappings;
  return mappings;
}

}  // namespace

void AttachPixelMapping(FIBITMAP* bitmap, void* address, size_t length) {
  std::lock_guard<std::mutex> hold(mappings_lock);
  Mappings()[bitmap] = PixelMapping{address, length};
}

void BitmapUnload::operator()(FIBITMAP* bitmap) const noexcept {
  if (!bitmap) return;
  PixelMapping mapping{nullptr, 0};
  {
    std::lock_guard<std::mutex> hold(mappings_lock);
    auto found = Mappings().find(bitmap);
    if (found != Mappings().end()) {
      mapping = found->second;
      Mappings().erase(found);
    }
  }
  FreeImage_Unload(bitmap);
  if (mapping.address) munmap(mapping.address, mapping.length);
}

RGBQUAD ToRgbQuad(uint32_t colour) {
  RGBQUAD quad{};
  quad.rgbRed = static_cast<BYTE>(colour & 0xFF);
  quad.rgbGreen = static_cast<BYTE>(colour >> 8 & 0xFF);
  quad.rgbBlue = static_cast<BYTE>(colour >> 16 & 0xFF);
  quad.rgbReserved = 0;
  return quad;
}

std::string IccProfileOf(FIBITMAP* image) {
  const FIICCPROFILE* profile = image ? FreeImage_GetICCProfile(image) : nullptr;
  if (!profile || !profile->data || profile->size == 0) return {};
  return std::string(static_cast<const char*>(profile->data), profile->size);
}

bool IccProfileFits(const std::string& profile, FIBITMAP* image, bool grey_in_rgba) {
  if (!image) return true;
  if (profile.size() < 20) return false;
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
  const bool rgba = (type == FIT_BITMAP && FreeImage_GetBPP(image) == 32) || type == FIT_RGBA16;
  const bool grey = (type == FIT_BITMAP && FreeImage_GetColorType(image) == FIC_MINISBLACK) ||
                    type == FIT_UINT16 || (grey_in_rgba && rgba);
  const std::string_view colour_space = std::string_view(profile).substr(16, 4);
  if (colour_space == "GRAY") return grey;
  if (colour_space == "RGB ") return !grey;
  return false;
}

Bitmap WithIccProfile(Bitmap image, const std::string& profile, bool grey_in_rgba) {
  if (!image || profile.empty() || !IccProfileOf(image.get()).empty()) return image;
  if (!IccProfileFits(profile, image.get(), grey_in_rgba)) return image;
  FreeImage_CreateICCProfile(image.get(), const_cast<char*>(profile.data()),
                             static_cast<long>(profile.size()));
  return image;
}
