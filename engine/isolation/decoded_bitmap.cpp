#include "engine/isolation/decoded_bitmap.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "engine/image/byte_cursor.h"
#include "platform/file_descriptor.h"

namespace {

constexpr char RecordMagic[8] = {'Q', 'V', 'X', 'B', 'M', 'P', '5', '\0'};
constexpr uint32_t MaxPaletteEntries = 256;

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
  uint64_t rows_address;
  uint64_t metadata_bytes;
  uint32_t metadata_tags;
  uint32_t padding;
};

// How each tag of the metadata block starts; its key and value follow.
struct TagHeader {
  uint32_t model;
  uint16_t id;
  uint16_t type;
  uint32_t count;
  uint32_t length;
  uint32_t key_length;
};

constexpr uint32_t MaxTags = 1 << 16;
constexpr uint32_t MaxKeyLength = 1024;

// Hands `size` bytes to a pipe by reference rather than by copy: the reader's copy is the only
// one. Falls back to plain writes where `fd` is no pipe. The memory must stay as it is until the
// reader has it, which it does: the decoder ends after writing.
bool SpliceAll(int fd, const void* data, uint64_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    iovec piece{const_cast<char*>(bytes), size};
    const ssize_t given = vmsplice(fd, &piece, 1, 0);
    if (given < 0 && errno == EINTR) continue;
    if (given < 0 && bytes == data && (errno == EBADF || errno == EINVAL)) {
      return WriteAll(fd, data, size);
    }
    if (given <= 0) return false;
    bytes += given;
    size -= static_cast<uint64_t>(given);
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

// Bytes of one value of a tag type; 0 for a type FreeImage does not know.
uint32_t TagTypeWidth(uint32_t type) {
  switch (type) {
    case FIDT_BYTE:
    case FIDT_ASCII:
    case FIDT_SBYTE:
    case FIDT_UNDEFINED:
      return 1;
    case FIDT_SHORT:
    case FIDT_SSHORT:
      return 2;
    case FIDT_LONG:
    case FIDT_SLONG:
    case FIDT_FLOAT:
    case FIDT_IFD:
    case FIDT_PALETTE:
      return 4;
    case FIDT_RATIONAL:
    case FIDT_SRATIONAL:
    case FIDT_DOUBLE:
    case FIDT_LONG8:
    case FIDT_SLONG8:
    case FIDT_IFD8:
      return 8;
    default:
      return 0;
  }
}

// Every tag of every metadata model of `image`, as the metadata block of a record.
std::string MetadataBlock(FIBITMAP* image, uint32_t& tags) {
  std::string block;
  tags = 0;
  for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model) {
    FITAG* tag = nullptr;
    FIMETADATA* found =
        FreeImage_FindFirstMetadata(static_cast<FREE_IMAGE_MDMODEL>(model), image, &tag);
    if (!found) continue;
    do {
      const char* key = FreeImage_GetTagKey(tag);
      const size_t key_length = key ? std::strlen(key) : 0;
      TagHeader header{static_cast<uint32_t>(model),
                       FreeImage_GetTagID(tag),
                       static_cast<uint16_t>(FreeImage_GetTagType(tag)),
                       FreeImage_GetTagCount(tag),
                       FreeImage_GetTagLength(tag),
                       static_cast<uint32_t>(key_length)};
      const void* value = FreeImage_GetTagValue(tag);
      if (key_length > MaxKeyLength || tags == MaxTags || (header.length && !value)) continue;
      block.append(reinterpret_cast<const char*>(&header), sizeof header);
      block.append(key ? key : "", key_length);
      block.append(static_cast<const char*>(value), header.length);
      ++tags;
    } while (FreeImage_FindNextMetadata(found, &tag));
    FreeImage_FindCloseMetadata(found);
  }
  return block;
}

// The tags of a metadata block; std::nullopt when it does not hold exactly `tags` whole tags
// that FreeImage could take.
std::optional<std::vector<DecodedTag>> ParseMetadata(const std::vector<BYTE>& block,
                                                     uint32_t tags) {
  std::vector<DecodedTag> parsed;
  size_t at = 0;
  for (uint32_t i = 0; i < tags; ++i) {
    TagHeader header{};
    if (block.size() - at < sizeof header) return std::nullopt;
    std::memcpy(&header, block.data() + at, sizeof header);
    at += sizeof header;
    const uint32_t width = TagTypeWidth(header.type);
    if (header.model > FIMD_EXIF_RAW || header.key_length > MaxKeyLength || width == 0 ||
        uint64_t{header.count} * width != header.length) {
      return std::nullopt;
    }
    if (block.size() - at < uint64_t{header.key_length} + header.length) return std::nullopt;
    DecodedTag tag;
    tag.model = header.model;
    tag.key.assign(reinterpret_cast<const char*>(block.data() + at), header.key_length);
    at += header.key_length;
    tag.id = header.id;
    tag.type = header.type;
    tag.count = header.count;
    tag.value.assign(block.begin() + static_cast<std::ptrdiff_t>(at),
                     block.begin() + static_cast<std::ptrdiff_t>(at + header.length));
    at += header.length;
    parsed.push_back(std::move(tag));
  }
  if (at != block.size()) return std::nullopt;
  return parsed;
}

}  // namespace

bool WriteDecodedHead(int fd, FIBITMAP* image) {
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
  // FreeImage keeps the rows of a bitmap in one block, bottom row first.
  header.rows_address = reinterpret_cast<uintptr_t>(FreeImage_GetBits(image));
  if (header.palette_entries > MaxPaletteEntries || header.transparency_count > 256) return false;
  const std::string metadata = MetadataBlock(image, header.metadata_tags);
  header.metadata_bytes = metadata.size();

  if (!WriteAll(fd, &header, sizeof header)) return false;
  if (header.palette_entries &&
      !WriteAll(fd, FreeImage_GetPalette(image), header.palette_entries * sizeof(RGBQUAD))) {
    return false;
  }
  if (header.transparency_count &&
      !WriteAll(fd, FreeImage_GetTransparencyTable(image), header.transparency_count)) {
    return false;
  }
  if (header.icc_size && !WriteAll(fd, icc->data, header.icc_size)) return false;
  return WriteAll(fd, metadata.data(), metadata.size());
}

bool WriteDecodedRows(int fd, FIBITMAP* image) {
  if (!image || !FreeImage_HasPixels(image)) return false;
  return SpliceAll(fd, FreeImage_GetBits(image),
                   static_cast<uint64_t>(FreeImage_GetPitch(image)) * FreeImage_GetHeight(image));
}

bool WriteDecodedBitmap(int fd, FIBITMAP* image) {
  return WriteDecodedHead(fd, image) && WriteDecodedRows(fd, image);
}

bool IsSaneIccProfile(std::span<const BYTE> profile) {
  constexpr size_t HeaderBytes = 128;
  constexpr size_t TagBytes = 12;
  const auto big_endian = [&](size_t at) { return BigEndian32(profile.data() + at); };
  if (profile.size() < HeaderBytes + 4) return false;
  if (big_endian(0) != profile.size()) return false;
  if (std::memcmp(profile.data() + 36, "acsp", 4) != 0) return false;
  const uint64_t tags = big_endian(HeaderBytes);
  if (tags > (profile.size() - HeaderBytes - 4) / TagBytes) return false;
  for (uint64_t i = 0; i < tags; ++i) {
    const size_t entry = HeaderBytes + 4 + static_cast<size_t>(i) * TagBytes;
    const uint64_t offset = big_endian(entry + 4);
    const uint64_t size = big_endian(entry + 8);
    if (offset < HeaderBytes || offset > profile.size() || size > profile.size() - offset) {
      return false;
    }
  }
  return true;
}

std::optional<DecodedHead> ReadDecodedHead(int fd, const DecodedBitmapLimits& limits,
                                           std::chrono::steady_clock::time_point deadline) {
  RecordHeader header{};
  if (!ReadAll(fd, &header, sizeof header, deadline)) return std::nullopt;
  if (std::memcmp(header.magic, RecordMagic, sizeof RecordMagic) != 0) return std::nullopt;
  if (limits.size_is_bound) {
    if (header.width == 0 || header.height == 0) return std::nullopt;
    if (header.width > limits.width || header.height > limits.height) return std::nullopt;
  } else if (header.width != limits.width || header.height != limits.height) {
    return std::nullopt;
  }
  if (!TypeAllowsBpp(header.type, header.bpp)) return std::nullopt;
  if (header.palette_entries > MaxPaletteEntries || header.transparency_count > 256) {
    return std::nullopt;
  }
  if (header.palette_entries && header.bpp > 8) return std::nullopt;
  if (header.icc_size > limits.max_icc_bytes) return std::nullopt;
  if (header.metadata_bytes > limits.max_metadata_bytes || header.metadata_tags > MaxTags) {
    return std::nullopt;
  }
  // Rows of a 4-byte-aligned pitch, as FreeImage itself lays them out.
  const uint64_t row_bytes = (static_cast<uint64_t>(header.width) * header.bpp + 7) / 8;
  const uint64_t pitch = (row_bytes + 3) / 4 * 4;
  const uint64_t bits_size = pitch * header.height;
  if (header.pitch != pitch || header.bits_size != bits_size) return std::nullopt;
  if (bits_size > limits.max_rows_bytes) return std::nullopt;

  DecodedHead head;
  head.type = header.type;
  head.width = header.width;
  head.height = header.height;
  head.bpp = header.bpp;
  head.pitch = header.pitch;
  head.masks[0] = header.red_mask;
  head.masks[1] = header.green_mask;
  head.masks[2] = header.blue_mask;
  head.transparent = header.transparent != 0;
  head.dots_per_meter_x = header.dots_per_meter_x;
  head.dots_per_meter_y = header.dots_per_meter_y;
  head.icc_flags = header.icc_flags;
  head.rows_size = bits_size;
  head.rows_address = header.rows_address;
  head.palette.resize(header.palette_entries);
  head.transparency.resize(header.transparency_count);
  head.icc.resize(header.icc_size);
  std::vector<BYTE> metadata(header.metadata_bytes);
  if (!ReadAll(fd, head.palette.data(), head.palette.size() * sizeof(RGBQUAD), deadline) ||
      !ReadAll(fd, head.transparency.data(), head.transparency.size(), deadline) ||
      !ReadAll(fd, head.icc.data(), head.icc.size(), deadline) ||
      !ReadAll(fd, metadata.data(), metadata.size(), deadline)) {
    return std::nullopt;
  }
  std::optional<std::vector<DecodedTag>> tags = ParseMetadata(metadata, header.metadata_tags);
  if (!tags) return std::nullopt;
  head.metadata = std::move(*tags);
  return head;
}

bool ReadDecodedRows(int fd, void* rows, uint64_t size,
                     std::chrono::steady_clock::time_point deadline) {
  return ReadAll(fd, rows, size, deadline);
}

PixelMemory RowMemoryFor(const DecodedHead& head, PixelMemory memory) {
  // The prepared memory was sized from the document's header; FreeImage may make less of it
  // (a dropped channel) or, for a kind we did not foresee, more.
  if (memory.length() < head.rows_size) memory = PixelMemory(head.rows_size);
  memory.Shrink(head.rows_size);
  return memory;
}

Bitmap MakeDecodedBitmap(const DecodedHead& head, PixelMemory rows) {
  if (!rows.address() || rows.length() < head.rows_size) return {};
  BYTE* bits = static_cast<BYTE*>(rows.address());
  Bitmap image(FreeImage_ConvertFromRawBitsEx(
      FALSE, bits, static_cast<FREE_IMAGE_TYPE>(head.type), static_cast<int>(head.width),
      static_cast<int>(head.height), static_cast<int>(head.pitch), head.bpp, head.masks[0],
      head.masks[1], head.masks[2], FALSE));
  if (!image) return {};
  // The rows stay where they were read; the memory goes with the bitmap.
  AttachPixelMapping(image.get(), rows.address(), static_cast<size_t>(rows.length()));
  rows.Release();
  if (FreeImage_GetPitch(image.get()) != head.pitch || FreeImage_GetBits(image.get()) != bits) {
    return {};
  }

  if (!head.palette.empty()) {
    RGBQUAD* own = FreeImage_GetPalette(image.get());
    if (!own || head.palette.size() > FreeImage_GetColorsUsed(image.get())) return {};
    std::memcpy(own, head.palette.data(), head.palette.size() * sizeof(RGBQUAD));
  }
  if (!head.transparency.empty()) {
    FreeImage_SetTransparencyTable(image.get(), const_cast<BYTE*>(head.transparency.data()),
                                   static_cast<int>(head.transparency.size()));
  }
  // A damaged profile is dropped rather than failing the save of good pixels with it.
  if (!head.icc.empty() && IsSaneIccProfile(head.icc)) {
    FIICCPROFILE* profile = FreeImage_CreateICCProfile(
        image.get(), const_cast<BYTE*>(head.icc.data()), static_cast<long>(head.icc.size()));
    if (profile) profile->flags = static_cast<WORD>(head.icc_flags);
  } else if (head.icc.empty() && head.icc_flags) {
    FreeImage_GetICCProfile(image.get())->flags = static_cast<WORD>(head.icc_flags);
  }
  for (const DecodedTag& decoded : head.metadata) {
    FITAG* tag = FreeImage_CreateTag();
    if (!tag) return {};
    static const BYTE no_value = 0;
    const bool made =
        FreeImage_SetTagKey(tag, decoded.key.c_str()) && FreeImage_SetTagID(tag, decoded.id) &&
        FreeImage_SetTagType(tag, static_cast<FREE_IMAGE_MDTYPE>(decoded.type)) &&
        FreeImage_SetTagCount(tag, decoded.count) &&
        FreeImage_SetTagLength(tag, static_cast<DWORD>(decoded.value.size())) &&
        FreeImage_SetTagValue(tag, decoded.value.empty() ? &no_value : decoded.value.data());
    // A tag FreeImage will not take is left out; the image is still whole.
    if (made) {
      FreeImage_SetMetadata(static_cast<FREE_IMAGE_MDMODEL>(decoded.model), image.get(),
                            decoded.key.c_str(), tag);
    }
    FreeImage_DeleteTag(tag);
  }
  FreeImage_SetTransparent(image.get(), head.transparent ? TRUE : FALSE);
  FreeImage_SetDotsPerMeterX(image.get(), head.dots_per_meter_x);
  FreeImage_SetDotsPerMeterY(image.get(), head.dots_per_meter_y);
  return image;
}

Bitmap ReadDecodedBitmap(int fd, const DecodedBitmapLimits& limits,
                         std::chrono::steady_clock::time_point deadline, PixelMemory memory) {
  const std::optional<DecodedHead> head = ReadDecodedHead(fd, limits, deadline);
  if (!head) return {};
  PixelMemory rows = RowMemoryFor(*head, std::move(memory));
  if (!rows.address() || !ReadDecodedRows(fd, rows.address(), head->rows_size, deadline)) {
    return {};
  }
  return MakeDecodedBitmap(*head, std::move(rows));
}
