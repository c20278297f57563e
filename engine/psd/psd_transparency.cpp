#include "engine/psd/psd_transparency.h"

#include <array>
#include <string_view>

#include "engine/image/byte_cursor.h"

namespace {

constexpr std::string_view TransparencyName = "Transparency";

std::span<const uint8_t> BlockBytes(std::span<const uint8_t> file, const PsdLayout::Block& block) {
  if (block.size == 0 || block.offset > file.size() || file.size() - block.offset < block.size) {
    return {};
  }
  return file.subspan(block.offset, block.size);
}

// The layer count at the start of a layer-info record; 0 when it is missing.
int16_t LayerCount(ByteCursor cursor) {
  uint64_t count = 0;
  if (!cursor.Read(2, count)) return 0;
  return static_cast<int16_t>(count);
}

// Keys whose tagged blocks have an eight-byte length in the large-document variant.
bool HasWideLength(std::span<const uint8_t> key) {
  static constexpr std::array<std::string_view, 13> Wide = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16",
                                                            "Mt32", "Mtrn", "Alph", "FMsk", "lnk2",
                                                            "FEid", "FXid", "PxSD"};
  const std::string_view text(reinterpret_cast<const char*>(key.data()), key.size());
  for (std::string_view wide : Wide) {
    if (text == wide) return true;
  }
  return false;
}

// The layer count of the layer section. 16- and 32-bit documents leave the layer info empty and
// keep their layers in a tagged block ("Lr16", "Lr32") after the global mask.
int16_t DocumentLayerCount(std::span<const uint8_t> file, const PsdLayout& layout) {
  const std::span<const uint8_t> section =
      BlockBytes(file, {layout.layers_offset, layout.layers_size});
  ByteCursor cursor(section);
  const size_t length_bytes = layout.version == 2 ? 8 : 4;
  uint64_t info_length = 0;
  if (!cursor.Read(length_bytes, info_length) || info_length > cursor.remaining()) return 0;
  if (info_length >= 2) return LayerCount(cursor);
  uint64_t mask_length = 0;
  if (!cursor.Skip(info_length) || !cursor.Read(4, mask_length) || !cursor.Skip(mask_length)) {
    return 0;
  }
  while (cursor.Matches("8BIM") || cursor.Matches("8B64")) {
    cursor.Skip(4);
    const std::span<const uint8_t> key = cursor.Peek(4);
    if (key.empty()) return 0;
    cursor.Skip(4);
    uint64_t size = 0;
    if (!cursor.Read(layout.version == 2 && HasWideLength(key) ? 8 : 4, size)) return 0;
    const std::string_view name(reinterpret_cast<const char*>(key.data()), key.size());
    if (name == "Lr16" || name == "Lr32" || name == "Layr") {
      return size >= 2 ? LayerCount(cursor) : 0;
    }
    if (!cursor.Skip(size)) return 0;
    // Writers pad blocks to an even length, some to a multiple of four.
    for (int pad = 0; pad < 3 && cursor.remaining() > 0 && cursor.Peek(1)[0] == 0; ++pad) {
      cursor.Skip(1);
    }
  }
  return 0;
}

bool FirstNameIsTransparency(std::span<const uint8_t> file, const PsdLayout& layout) {
  // The Unicode names, where present, are the newer record of the same names.
  ByteCursor unicode(BlockBytes(file, layout.unicode_alpha_names));
  uint64_t length = 0;
  if (unicode.Read(4, length)) {
    constexpr std::u16string_view expected = u"Transparency";
    uint64_t unit = 0;
    size_t matched = 0;
    for (uint64_t i = 0; i < length && unicode.Read(2, unit); ++i) {
      if (unit == 0 && i + 1 == length) break;  // a trailing terminator
      if (matched >= expected.size() || unit != expected[matched]) return false;
      ++matched;
    }
    return matched == expected.size();
  }
  const std::span<const uint8_t> names = BlockBytes(file, layout.alpha_names);
  const size_t name_length = names.empty() ? 0 : names[0];
  if (name_length != TransparencyName.size() || names.size() < 1 + name_length) return false;
  return std::string_view(reinterpret_cast<const char*>(names.data() + 1), name_length) ==
         TransparencyName;
}

bool FirstIdentifierIsZero(std::span<const uint8_t> file, const PsdLayout& layout) {
  ByteCursor identifiers(BlockBytes(file, layout.alpha_identifiers));
  uint64_t first = 0;
  return identifiers.Read(4, first) && first == 0;
}

}  // namespace

bool HasMergedTransparency(std::span<const uint8_t> file, const PsdLayout& layout) {
  switch (layout.mode) {
    case PsdModeGreyscale:
    case PsdModeRgb:
    case PsdModeCmyk:
    case PsdModeLab:
      break;
    default:
      return false;  // no extra channel of these modes is ever shown as transparency
  }
  if (layout.channels <= layout.ColourChannels()) return false;
  return DocumentLayerCount(file, layout) < 0 || FirstNameIsTransparency(file, layout) ||
         FirstIdentifierIsZero(file, layout);
}
