#include "engine/psd/psd_channels.h"

#include <cstring>

#include "engine/image/byte_cursor.h"
#include "engine/psd/packbits.h"

std::optional<std::vector<uint8_t>> ReadPsdChannel(std::span<const uint8_t> file,
                                                   const PsdLayout& layout, uint16_t channel) {
  if (channel >= layout.channels || file.size() != layout.file_size) return std::nullopt;
  const uint64_t row_bytes = layout.row_bytes;
  // The check bounded every size below by the file and the machine's memory.
  std::vector<uint8_t> plane(static_cast<size_t>(row_bytes * layout.height));
  if (layout.compression == 0) {
    const uint64_t start = layout.pixels_offset + channel * row_bytes * layout.height;
    if (start > file.size() || file.size() - start < plane.size()) return std::nullopt;
    std::memcpy(plane.data(), file.data() + start, plane.size());
    return plane;
  }
  if (layout.compression != 1) return std::nullopt;

  const size_t count_bytes = layout.version == 2 ? 4 : 2;
  const uint64_t table_end = layout.rle_counts_offset +
                             static_cast<uint64_t>(layout.channels) * layout.height * count_bytes;
  if (table_end > file.size() || table_end != layout.pixels_offset) return std::nullopt;
  // Rows of earlier channels come first: skip their packed bytes.
  uint64_t offset = layout.pixels_offset;
  const uint64_t first_row = static_cast<uint64_t>(channel) * layout.height;
  for (uint64_t row = 0; row < first_row; ++row) {
    offset += BigEndian(file.data() + layout.rle_counts_offset + row * count_bytes, count_bytes);
  }
  for (uint32_t y = 0; y < layout.height; ++y) {
    const uint64_t count = BigEndian(
        file.data() + layout.rle_counts_offset + (first_row + y) * count_bytes, count_bytes);
    if (offset > file.size() || file.size() - offset < count) return std::nullopt;
    const std::span<uint8_t> out(plane.data() + y * row_bytes, static_cast<size_t>(row_bytes));
    if (!UnpackBitsRow(file.subspan(offset, count), out)) return std::nullopt;
    offset += count;
  }
  return plane;
}

std::optional<std::vector<uint32_t>> ReadPsdPalette(std::span<const uint8_t> file,
                                                    const PsdLayout& layout) {
  if (layout.mode != PsdModeIndexed || layout.colour_mode_size < 768) return std::nullopt;
  if (layout.colour_mode_offset > file.size() || file.size() - layout.colour_mode_offset < 768) {
    return std::nullopt;
  }
  const uint8_t* data = file.data() + layout.colour_mode_offset;
  std::vector<uint32_t> palette(256);
  for (size_t i = 0; i < 256; ++i) {
    palette[i] = static_cast<uint32_t>(data[i]) << 16 | static_cast<uint32_t>(data[256 + i]) << 8 |
                 data[512 + i];
  }
  return palette;
}
