#include "decoder/layer_rebuild.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "decoder/cmyk_profile.h"
#include "decoder/compositor.h"
#include "decoder/psd_layers.h"
#include "engine/psd/psd_header.h"

namespace {

class Mapping {
 public:
  explicit Mapping(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      void* data = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (data != MAP_FAILED) {
        data_ = static_cast<const uint8_t*>(data);
        size_ = static_cast<size_t>(info.st_size);
      }
    }
    close(fd);
  }
  ~Mapping() {
    if (data_) munmap(const_cast<uint8_t*>(data_), size_);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A CMYK composite in RGB: through the document's profile as its stored composite would be, else
// by the plain conversion.
Bitmap CmykToRgb(std::span<const uint8_t> file, const LayerPixels& picture, uint16_t depth) {
  Bitmap converted;
  const std::optional<PsdHeader> header = ReadPsdHeader(file);
  const std::span<const uint8_t> profile =
      header ? FindPsdResource(file, *header, PsdIccProfileResourceId) : std::span<const uint8_t>();
  if (!profile.empty()) {
    Bitmap cmyk = CompositeToCmykBitmap(picture, depth);
    if (!cmyk) return {};
    if (FreeImage_CreateICCProfile(cmyk.get(), const_cast<uint8_t*>(profile.data()),
                                   static_cast<long>(profile.size()))) {
      converted = ConvertCmykThroughProfile(cmyk.get());
    }
  }
  return CmykCompositeToRgb(picture, depth, std::move(converted));
}

}  // namespace

Bitmap RebuildFromLayers(const char* path, bool& nothing_to_build) {
  nothing_to_build = false;
  const Mapping file(path);
  if (file.bytes().empty()) return {};
  const std::optional<LayeredDocument> document = ReadLayeredDocument(file.bytes());
  if (!document) return {};
  if (!HasVisiblePixels(*document, BuildLayerTree(*document))) {
    nothing_to_build = true;
    return {};
  }
  // The address-space limit turns a document too large for it into a failed allocation.
  try {
    const std::optional<LayerPixels> picture = CompositeLayers(file.bytes(), *document);
    if (!picture) return {};
    if (picture->colours == 4) return CmykToRgb(file.bytes(), *picture, document->depth);
    return CompositeToBitmap(*picture, document->depth);
  } catch (const std::bad_alloc&) {
    return {};
  }
}
