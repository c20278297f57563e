#include "engine/image/image_header.h"

#include "engine/image/bitmap.h"

uint64_t DecodedBitmapBytes(uint32_t width, uint32_t height, uint32_t bpp) {
  uint64_t bits = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(width), bpp, &bits)) return UINT64_MAX;
  const uint64_t pitch = (bits + 31) / 32 * 4;
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(pitch, static_cast<uint64_t>(height), &bytes)) return UINT64_MAX;
  return bytes;
}

bool KeepsBound(const ImageHeader& header, const DecodeBound& bound) {
  if (header.width == 0 || header.height == 0) return false;
  if (header.width > bound.max_side || header.height > bound.max_side) return false;
  return DecodedBitmapBytes(header.width, header.height, header.bpp) <= bound.max_decoded_bytes;
}

FREE_IMAGE_FORMAT SniffImageFormat(FreeImageIO* io, fi_handle handle, FREE_IMAGE_FORMAT hint) {
  FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromHandle(io, handle, 0);
  if (io->seek_proc(handle, 0, SEEK_SET) != 0) return FIF_UNKNOWN;
  if (format == FIF_UNKNOWN) format = hint;
  if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) return FIF_UNKNOWN;
  return format;
}

std::optional<ImageHeader> LookAtImageHeader(FREE_IMAGE_FORMAT format, FreeImageIO* io,
                                             fi_handle handle) {
  if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsNoPixels(format)) return std::nullopt;
  const Bitmap header(FreeImage_LoadFromHandle(format, io, handle, FIF_LOAD_NOPIXELS));
  if (io->seek_proc(handle, 0, SEEK_SET) != 0 || !header) return std::nullopt;
  return ImageHeader{FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get()),
                     FreeImage_GetBPP(header.get())};
}
