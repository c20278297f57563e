#include "engine/psd/psd_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/image/byte_cursor.h"
#include "engine/image/memory_budget.h"
#include "engine/psd/packbits.h"

namespace {

constexpr size_t ResourceHeaderBytes = 28;  // thumbnail resources: format .. planes
constexpr uint16_t ThumbnailResourceId = 1036;
constexpr uint16_t OldThumbnailResourceId = 1033;
constexpr uint16_t ColourCountResourceId = 1046;
constexpr uint16_t TransparentIndexResourceId = 1047;
constexpr uint16_t AlphaNamesResourceId = 1006;
constexpr uint16_t UnicodeAlphaNamesResourceId = 1045;
constexpr uint16_t AlphaIdentifiersResourceId = 1053;
constexpr uint16_t VersionInfoResourceId = 1057;
constexpr uint16_t ResolutionResourceId = 1005;
constexpr uint64_t PaletteBytes = 768;

bool Multiply(uint64_t a, uint64_t b, uint64_t& result) {
  return !__builtin_mul_overflow(a, b, &result);
}

bool Add(uint64_t a, uint64_t b, uint64_t& result) {
  return !__builtin_add_overflow(a, b, &result);
}

// Collects the resources we use. Decoders trust the thumbnail's own header, so its compressed
// size must fit in the block too.
bool CheckResources(std::span<const uint8_t> file, PsdLayout& layout) {
  return ForEachPsdResource(
      file, layout, [&](uint16_t id, uint64_t offset, std::span<const uint8_t> data) {
        const uint64_t size = data.size();
        if ((id == ColourCountResourceId || id == TransparentIndexResourceId) && size >= 2) {
          const uint16_t value = BigEndian16(data.data());
          if (id == ColourCountResourceId) layout.colour_count = value;
          if (id == TransparentIndexResourceId) layout.transparent_index = value;
        }
        // Version info: a four-byte version, then whether the composite holds the real picture.
        if (id == VersionInfoResourceId && size >= 5) layout.placeholder_composite = data[4] == 0;
        const PsdLayout::Block block{offset, size};
        if (id == PsdIccProfileResourceId) layout.icc_profile = block;
        if (id == AlphaNamesResourceId) layout.alpha_names = block;
        if (id == UnicodeAlphaNamesResourceId) layout.unicode_alpha_names = block;
        if (id == AlphaIdentifiersResourceId) layout.alpha_identifiers = block;
        if (id == ResolutionResourceId) layout.resolution = block;
        if (id == ThumbnailResourceId || id == OldThumbnailResourceId) {
          if (size < ResourceHeaderBytes) return false;
          ByteCursor header(data);
          uint64_t field = 0, compressed = 0;
          for (int i = 0; i < 5; ++i) header.Read(4, field);
          header.Read(4, compressed);
          if (compressed > size - ResourceHeaderBytes) return false;
        }
        return true;
      });
}

// Bytes of the bitmap a decoder makes: at most four channels of the document's depth, grey with
// alpha widened to four channels, rows padded to four bytes.
bool DecodedBytes(const PsdLayout& layout, uint64_t& bytes) {
  uint64_t out_channels = std::min<uint64_t>(layout.channels, 4);
  if (layout.mode == PsdModeBitmap) out_channels = 1;
  if (layout.mode == PsdModeGreyscale && layout.channels >= 2) out_channels = 4;
  uint64_t row_bits = 0;
  if (!Multiply(layout.width, out_channels * layout.depth, row_bits)) return false;
  uint64_t pitch = 0;
  if (!Add(row_bits, 31, pitch)) return false;
  pitch = pitch / 32 * 4;
  return Multiply(pitch, layout.height, bytes);
}

bool CheckImageData(ByteCursor& cursor, PsdLayout& layout) {
  uint64_t compression = 0;
  if (!cursor.Read(2, compression)) return false;
  layout.compression = static_cast<uint16_t>(compression);
  uint64_t rows = 0;
  if (!Multiply(layout.channels, layout.height, rows)) return false;
  if (compression == 0) {
    layout.pixels_offset = cursor.position();
    uint64_t size = 0;
    return Multiply(rows, layout.row_bytes, size) && size <= cursor.remaining();
  }
  if (compression != 1) return false;  // ZIP never holds a merged image we can decode

  const size_t count_bytes = layout.version == 2 ? 4 : 2;
  uint64_t table_size = 0;
  if (!Multiply(rows, count_bytes, table_size) || table_size > cursor.remaining()) return false;
  layout.rle_counts_offset = cursor.position();
  layout.pixels_offset = layout.rle_counts_offset + table_size;
  // A packed row is at least one header and one byte, and even a careless encoder needs no more
  // than a header per byte.
  const uint64_t max_count = 2 * layout.row_bytes + 2;
  const uint64_t available = cursor.remaining() - table_size;
  uint64_t total = 0;
  for (uint64_t row = 0; row < rows; ++row) {
    uint64_t count = 0;
    cursor.Read(count_bytes, count);
    if (count < 2 || count > max_count) return false;
    total += count;  // at most rows * max_count, checked against the file below as it grows
    if (total > available) return false;
  }
  return true;
}

}  // namespace

std::optional<PsdLayout> CheckPsdStructure(std::span<const uint8_t> bytes,
                                           uint64_t available_memory) {
  const std::optional<PsdHeader> header = ReadPsdHeader(bytes);
  if (!header) return std::nullopt;
  PsdLayout layout;
  static_cast<PsdHeader&>(layout) = *header;
  layout.file_size = bytes.size();
  layout.row_bytes = (uint64_t{layout.width} * layout.depth + 7) / 8;  // no overflow at 300000
  if (layout.mode == PsdModeIndexed && layout.colour_mode_size < PaletteBytes) return std::nullopt;
  if (!CheckResources(bytes, layout)) return std::nullopt;

  ByteCursor cursor(bytes);
  cursor.Skip(layout.ImageDataOffset());
  if (!CheckImageData(cursor, layout)) {
    // A document whose composite cannot be read may still be built from its layers.
    layout.composite_missing = true;
    layout.compression = 0;
    layout.rle_counts_offset = layout.pixels_offset = 0;
    if (!layout.RebuildsFromLayers()) return std::nullopt;
  }

  const bool planned = layout.RebuildsFromLayers() ? PlanLayerRebuild(layout, available_memory)
                                                   : PlanStoredDecode(layout, available_memory);
  if (!planned) return std::nullopt;
  return layout;
}

bool PlanLayerRebuild(PsdLayout& layout, uint64_t available_memory) {
  // Rebuilt, a document with transparency is RGBA (grey too), whatever channels it stores.
  PsdLayout widened = layout;
  widened.channels = 4;
  if (!DecodedBytes(widened, layout.decoded_bytes)) return false;
  const uint64_t work_channels = layout.mode == PsdModeGreyscale ? 2
                                 : layout.mode == PsdModeCmyk    ? 5
                                                                 : 4;
  uint64_t pixels = 0, work = 0;
  if (!Multiply(layout.width, layout.height, pixels) ||
      !Multiply(pixels, 3 * sizeof(float) * work_channels, work) ||
      !Add(work, layout.decoded_bytes, layout.rebuild_bytes)) {
    return false;
  }
  return available_memory == 0 || layout.rebuild_bytes <= available_memory;
}

bool PlanStoredDecode(PsdLayout& layout, uint64_t available_memory) {
  layout.rebuild_bytes = 0;
  if (!DecodedBytes(layout, layout.decoded_bytes)) return false;
  return FitsDecodeMemory(layout.decoded_bytes, available_memory);
}

bool CompositeIsUniform(std::span<const uint8_t> bytes, const PsdLayout& layout) {
  if (layout.composite_missing || bytes.size() != layout.file_size) return false;
  if (layout.compression == 1 && !PackedRowsFit(bytes, layout)) return false;
  const uint64_t sample = std::max<uint64_t>(layout.depth / 8, 1);
  const uint64_t colours = std::min<uint64_t>(layout.ColourChannels(), layout.channels);
  const size_t count_bytes = layout.version == 2 ? 4 : 2;
  std::vector<uint8_t> unpacked(layout.row_bytes);
  uint64_t packed_at = layout.pixels_offset;
  for (uint64_t channel = 0; channel < colours; ++channel) {
    const uint8_t* first = nullptr;
    uint8_t first_sample[4] = {};
    for (uint64_t y = 0; y < layout.height; ++y) {
      const uint64_t row_index = channel * layout.height + y;
      const uint8_t* row = nullptr;
      if (layout.compression == 0) {
        row = bytes.data() + layout.pixels_offset + row_index * layout.row_bytes;
      } else {
        const uint64_t count = BigEndian(
            bytes.data() + layout.rle_counts_offset + row_index * count_bytes, count_bytes);
        if (!UnpackBitsRow(bytes.subspan(packed_at, count), unpacked)) return false;
        packed_at += count;
        row = unpacked.data();
      }
      if (!first) {
        std::memcpy(first_sample, row, sample);
        first = first_sample;
      }
      for (uint64_t x = 0; x + sample <= layout.row_bytes; x += sample) {
        if (std::memcmp(row + x, first, sample) != 0) return false;
      }
    }
  }
  return true;
}

bool PackedRowsFit(std::span<const uint8_t> bytes, const PsdLayout& layout) {
  if (layout.composite_missing || layout.compression != 1) return true;
  if (bytes.size() != layout.file_size) return false;
  const size_t count_bytes = layout.version == 2 ? 4 : 2;
  const uint64_t rows = static_cast<uint64_t>(layout.channels) * layout.height;
  // The check bounded the table and the sum of the counts by the file.
  uint64_t offset = layout.pixels_offset;
  for (uint64_t row = 0; row < rows; ++row) {
    const uint64_t count =
        BigEndian(bytes.data() + layout.rle_counts_offset + row * count_bytes, count_bytes);
    if (offset > bytes.size() || bytes.size() - offset < count) return false;
    if (!PackedRowFits(bytes.subspan(offset, count), layout.row_bytes)) return false;
    offset += count;
  }
  return true;
}
