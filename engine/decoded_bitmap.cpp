#include "engine/decoded_bitmap.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char RecordMagic[8] = {'Q', 'V', 'X', 'B', 'M', 'P', '2', '\0'};
constexpr uint32_t MaxPaletteEntries = 256;
// Rows copied into the record start on a page of their own; rows left where the decoder wrote
// them are at least aligned for any pixel type.
constexpr uint64_t PageBytes = 4096;
constexpr uint64_t PixelAlignment = 16;

uint64_t AlignUp(uint64_t offset, uint64_t alignment) {
  return (offset + alignment - 1) / alignment * alignment;
}

struct RecordHeader {
  char magic[8];
  uint32_t type;
  uint32_t width;
  uint32_t height;
  uint32_t bpp;
  uint32_t pitch;
  uint32_t red_mask;
  uint32_t green_mask;
  uint32_t blue_mask;
  uint32_t palette_entries;
  uint32_t transparent;
  uint32_t transparency_count;
  uint32_t dots_per_meter_x;
  uint32_t dots_per_meter_y;
  uint32_t icc_flags;
  uint32_t reserved;
  uint64_t icc_size;
  uint64_t bits_size;
  uint64_t bits_offset;    // where the rows lie
  uint64_t extras_offset;  // palette, transparency table and ICC profile, in that order
};
static_assert(sizeof(RecordHeader) <= DecodedRecordDataStart);

// True when [offset, offset + size) lies inside [start, limit).
bool Inside(uint64_t offset, uint64_t size, uint64_t start, uint64_t limit) {
  return offset >= start && offset <= limit && size <= limit - offset;
}

bool WriteAll(int fd, const void* data, size_t size, off_t offset) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = pwrite(fd, bytes, size, offset);
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
    offset += written;
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size, off_t offset) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = pread(fd, bytes, size, offset);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
    offset += got;
  }
  return true;
}

// The bits per pixel FreeImage allows for each image type.
bool TypeAllowsBpp(uint32_t type, uint32_t bpp) {
  switch (type) {
    case FIT_BITMAP:
      return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
    case FIT_UINT16:
    case FIT_INT16:
      return bpp == 16;
    case FIT_UINT32:
    case FIT_INT32:
    case FIT_FLOAT:
      return bpp == 32;
    case FIT_DOUBLE:
    case FIT_COMPLEX:
      return bpp == 64 || bpp == 128;
    case FIT_RGB16:
      return bpp == 48;
    case FIT_RGBA16:
      return bpp == 64;
    case FIT_RGBF:
      return bpp == 96;
    case FIT_RGBAF:
      return bpp == 128;
    default:
      return false;
  }
}

}  // namespace

RecordMapping::RecordMapping(int fd, uint64_t length) {
  if (length == 0 || length > SIZE_MAX) return;
  void* mapped = mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_POPULATE, fd, 0);
  if (mapped == MAP_FAILED) return;
  address_ = mapped;
  length_ = length;
}

RecordMapping::~RecordMapping() {
  if (address_) munmap(address_, static_cast<size_t>(length_));
}

RecordMapping::RecordMapping(RecordMapping&& other) noexcept
    : address_(other.address_), length_(other.length_) {
  other.Release();
}

RecordMapping& RecordMapping::operator=(RecordMapping&& other) noexcept {
  if (this != &other) {
    if (address_) munmap(address_, static_cast<size_t>(length_));
    address_ = other.address_;
    length_ = other.length_;
    other.Release();
  }
  return *this;
}

void RecordMapping::Release() {
  address_ = nullptr;
  length_ = 0;
}

bool WriteDecodedBitmap(int fd, FIBITMAP* image, PixelsInFile in_file) {
  if (!image || !FreeImage_HasPixels(image)) return false;
  RecordHeader header{};
  std::memcpy(header.magic, RecordMagic, sizeof RecordMagic);
  header.type = FreeImage_GetImageType(image);
  header.width = FreeImage_GetWidth(image);
  header.height = FreeImage_GetHeight(image);
  header.bpp = FreeImage_GetBPP(image);
  header.pitch = FreeImage_GetPitch(image);
  header.red_mask = FreeImage_GetRedMask(image);
  header.green_mask = FreeImage_GetGreenMask(image);
  header.blue_mask = FreeImage_GetBlueMask(image);
  header.palette_entries = FreeImage_GetPalette(image) ? FreeImage_GetColorsUsed(image) : 0;
  header.transparent = FreeImage_IsTransparent(image) ? 1 : 0;
  header.transparency_count = FreeImage_GetTransparencyCount(image);
  header.dots_per_meter_x = FreeImage_GetDotsPerMeterX(image);
  header.dots_per_meter_y = FreeImage_GetDotsPerMeterY(image);
  const FIICCPROFILE* icc = FreeImage_GetICCProfile(image);
  header.icc_flags = icc ? icc->flags : 0;
  header.icc_size = icc && icc->data ? icc->size : 0;
  header.bits_size = static_cast<uint64_t>(header.pitch) * header.height;
  if (header.palette_entries > MaxPaletteEntries || header.transparency_count > 256) return false;
  const size_t palette_bytes = header.palette_entries * sizeof(RGBQUAD);
  const uint64_t extras_size = palette_bytes + header.transparency_count + header.icc_size;

  if (in_file.offset != 0) {
    header.bits_offset = in_file.offset;
    header.extras_offset = AlignUp(in_file.end, PixelAlignment);
  } else {
    // Past whatever the file holds (an arena the rows did not end up in), not over it.
    struct stat info {};
    if (fstat(fd, &info) != 0) return false;
    header.extras_offset = AlignUp(
        std::max<uint64_t>(static_cast<uint64_t>(info.st_size), DecodedRecordDataStart), PageBytes);
    header.bits_offset = AlignUp(header.extras_offset + extras_size, PageBytes);
  }

  off_t offset = static_cast<off_t>(header.extras_offset);
  if (palette_bytes && !WriteAll(fd, FreeImage_GetPalette(image), palette_bytes, offset)) {
    return false;
  }
  offset += static_cast<off_t>(palette_bytes);
  if (header.transparency_count &&
      !WriteAll(fd, FreeImage_GetTransparencyTable(image), header.transparency_count, offset)) {
    return false;
  }
  offset += header.transparency_count;
  if (header.icc_size && !WriteAll(fd, icc->data, header.icc_size, offset)) return false;
  // FreeImage keeps the rows of a bitmap in one block, bottom row first.
  if (in_file.offset == 0 &&
      !WriteAll(fd, FreeImage_GetBits(image), header.bits_size,
                static_cast<off_t>(header.bits_offset))) {
    return false;
  }
  // The header goes last: a record cut short by a failure never looks complete.
  return WriteAll(fd, &header, sizeof header, 0);
}

Bitmap ReadDecodedBitmap(int fd, const DecodedBitmapLimits& limits, RecordMapping mapping) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(sizeof(RecordHeader))) return {};
  const uint64_t file_size = static_cast<uint64_t>(info.st_size);
  RecordHeader header{};
  if (!ReadAll(fd, &header, sizeof header, 0)) return {};
  if (std::memcmp(header.magic, RecordMagic, sizeof RecordMagic) != 0) return {};
  if (header.width != limits.width || header.height != limits.height) return {};
  if (!TypeAllowsBpp(header.type, header.bpp)) return {};
  if (header.palette_entries > MaxPaletteEntries || header.transparency_count > 256) return {};
  if (header.palette_entries && header.bpp > 8) return {};
  if (header.icc_size > limits.max_icc_bytes) return {};

  // Rows of a 4-byte-aligned pitch, as FreeImage itself lays them out.
  const uint64_t row_bytes = (static_cast<uint64_t>(header.width) * header.bpp + 7) / 8;
  const uint64_t pitch = (row_bytes + 3) / 4 * 4;
  const uint64_t bits_size = pitch * header.height;
  if (header.pitch != pitch || header.bits_size != bits_size) return {};
  const uint64_t palette_bytes = header.palette_entries * sizeof(RGBQUAD);
  const uint64_t extras_size = palette_bytes + header.transparency_count + header.icc_size;
  if (header.bits_offset % PixelAlignment != 0) return {};
  if (!Inside(header.bits_offset, bits_size, DecodedRecordDataStart, file_size)) return {};
  if (extras_size != 0) {
    if (!Inside(header.extras_offset, extras_size, DecodedRecordDataStart, file_size)) return {};
    const bool apart = header.extras_offset >= header.bits_offset + bits_size ||
                       header.bits_offset >= header.extras_offset + extras_size;
    if (!apart) return {};
  }

  // Wrap the rows where they lie instead of copying them into a freshly cleared bitmap: the
  // record is ours alone once the decoder has ended, and the mapping goes with the bitmap.
  if (mapping.length() < file_size) mapping = RecordMapping(fd, file_size);
  if (!mapping.address()) return {};
  BYTE* bits = static_cast<BYTE*>(mapping.address()) + header.bits_offset;
  Bitmap image(FreeImage_ConvertFromRawBitsEx(
      FALSE, bits, static_cast<FREE_IMAGE_TYPE>(header.type), static_cast<int>(header.width),
      static_cast<int>(header.height), static_cast<int>(header.pitch), header.bpp,
      header.red_mask, header.green_mask, header.blue_mask, FALSE));
  if (!image) return {};
  AttachPixelMapping(image.get(), mapping.address(), static_cast<size_t>(mapping.length()));
  mapping.Release();
  if (FreeImage_GetPitch(image.get()) != header.pitch || FreeImage_GetBits(image.get()) != bits) {
    return {};
  }

  off_t offset = static_cast<off_t>(header.extras_offset);
  RGBQUAD* palette = FreeImage_GetPalette(image.get());
  if (palette_bytes) {
    if (!palette || header.palette_entries > FreeImage_GetColorsUsed(image.get())) return {};
    if (!ReadAll(fd, palette, palette_bytes, offset)) return {};
  }
  offset += static_cast<off_t>(palette_bytes);
  if (header.transparency_count) {
    BYTE table[256];
    if (!ReadAll(fd, table, header.transparency_count, offset)) return {};
    FreeImage_SetTransparencyTable(image.get(), table, static_cast<int>(header.transparency_count));
  }
  offset += header.transparency_count;
  if (header.icc_size) {
    std::vector<uint8_t> icc(header.icc_size);
    if (!ReadAll(fd, icc.data(), icc.size(), offset)) return {};
    FIICCPROFILE* profile =
        FreeImage_CreateICCProfile(image.get(), icc.data(), static_cast<long>(icc.size()));
    if (profile) profile->flags = static_cast<WORD>(header.icc_flags);
  } else if (header.icc_flags) {
    FreeImage_GetICCProfile(image.get())->flags = static_cast<WORD>(header.icc_flags);
  }
  FreeImage_SetTransparent(image.get(), header.transparent ? TRUE : FALSE);
  FreeImage_SetDotsPerMeterX(image.get(), header.dots_per_meter_x);
  FreeImage_SetDotsPerMeterY(image.get(), header.dots_per_meter_y);
  return image;
}
