#include "engine/image/bitmap.h"

#include <sys/mman.h>

#include <mutex>
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
