#include "engine/psd/psd_header.h"

#include "engine/image/byte_cursor.h"

namespace {

constexpr uint64_t HeaderBytes = 26;

uint16_t MinimumChannels(uint16_t mode) {
  switch (mode) {
    case PsdModeRgb:
    case PsdModeLab:
      return 3;
    case PsdModeCmyk:
      return 4;
    default:
      return 1;
  }
}

bool DepthFitsMode(uint16_t depth, uint16_t mode) {
  switch (mode) {
    case PsdModeBitmap:
      return depth == 1;
    case PsdModeIndexed:
      return depth == 8;
    case PsdModeGreyscale:
    case PsdModeDuotone:
    case PsdModeRgb:
    case PsdModeCmyk:
    case PsdModeLab:
    case PsdModeMultichannel:
      return depth == 8 || depth == 16 || depth == 32;
    default:
      return false;
  }
}

bool KnownResourceSignature(const ByteCursor& cursor) {
  return cursor.Matches("8BIM") || cursor.Matches("MeSa") || cursor.Matches("AgHg") ||
         cursor.Matches("PHUT") || cursor.Matches("DCSR");
}

}  // namespace

uint16_t PsdHeader::ColourChannels() const { return MinimumChannels(mode); }

std::optional<PsdHeader> ReadPsdHeader(std::span<const uint8_t> file) {
  if (file.size() < HeaderBytes) return std::nullopt;
  ByteCursor cursor(file);
  if (!cursor.Matches("8BPS") || !cursor.Skip(4)) return std::nullopt;
  uint64_t version = 0, channels = 0, height = 0, width = 0, depth = 0, mode = 0;
  cursor.Read(2, version);
  cursor.Skip(6);
  cursor.Read(2, channels);
  cursor.Read(4, height);
  cursor.Read(4, width);
  cursor.Read(2, depth);
  cursor.Read(2, mode);
  if (version != 1 && version != 2) return std::nullopt;
  const uint64_t max_side = version == 2 ? MaxPsbSide : MaxPsdSide;
  if (channels < 1 || channels > MaxPsdChannels) return std::nullopt;
  if (width < 1 || width > max_side || height < 1 || height > max_side) return std::nullopt;
  PsdHeader header;
  header.version = static_cast<uint16_t>(version);
  header.channels = static_cast<uint16_t>(channels);
  header.width = static_cast<uint32_t>(width);
  header.height = static_cast<uint32_t>(height);
  header.depth = static_cast<uint16_t>(depth);
  header.mode = static_cast<uint16_t>(mode);
  if (!DepthFitsMode(header.depth, header.mode)) return std::nullopt;
  if (header.channels < MinimumChannels(header.mode)) return std::nullopt;

  uint64_t length = 0;
  if (!cursor.Read(4, length)) return std::nullopt;
  header.colour_mode_offset = cursor.position();
  header.colour_mode_size = length;
  if (!cursor.Skip(length)) return std::nullopt;
  if (!cursor.Read(4, length)) return std::nullopt;
  header.resources_offset = cursor.position();
  header.resources_size = length;
  if (!cursor.Skip(length)) return std::nullopt;
  if (!cursor.Read(header.version == 2 ? 8 : 4, length)) return std::nullopt;
  header.layers_offset = cursor.position();
  header.layers_size = length;
  if (!cursor.Skip(length)) return std::nullopt;
  return header;
}

bool ForEachPsdResource(
    std::span<const uint8_t> file, const PsdHeader& header,
    const std::function<bool(uint16_t id, uint64_t offset, std::span<const uint8_t> data)>& visit) {
  if (header.resources_offset > file.size() ||
      header.resources_size > file.size() - header.resources_offset) {
    return false;
  }
  const std::span<const uint8_t> section =
      file.subspan(header.resources_offset, header.resources_size);
  ByteCursor cursor(section);
  while (cursor.remaining() > 0) {
    if (!KnownResourceSignature(cursor) || !cursor.Skip(4)) return false;
    uint64_t id = 0, name_length = 0, size = 0;
    if (!cursor.Read(2, id) || !cursor.Read(1, name_length)) return false;
    // The Pascal name with its length byte is padded to an even length.
    if (!cursor.Skip(name_length + (name_length % 2 == 0 ? 1 : 0))) return false;
    if (!cursor.Read(4, size) || size > cursor.remaining()) return false;
    if (!visit(static_cast<uint16_t>(id), header.resources_offset + cursor.position(),
               section.subspan(cursor.position(), size))) {
      return false;
    }
    cursor.Skip(size);
    // The data is padded to an even length; the last block may omit its pad byte.
    if (size % 2 && cursor.remaining() > 0) cursor.Skip(1);
  }
  return true;
}

std::span<const uint8_t> FindPsdResource(std::span<const uint8_t> file, const PsdHeader& header,
                                         uint16_t id) {
  std::span<const uint8_t> found;
  ForEachPsdResource(file, header, [&](uint16_t block, uint64_t, std::span<const uint8_t> data) {
    if (block != id) return true;
    found = data;
    return false;
  });
  return found;
}
