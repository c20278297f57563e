#include "tests/support/psd_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

void AppendBigEndian(std::string& out, uint64_t value, size_t size) {
  for (size_t i = size; i-- > 0;) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void AppendResources(std::string& out, const std::vector<PsdResource>& resources) {
  std::string section;
  for (const PsdResource& resource : resources) {
    section += "8BIM";
    AppendBigEndian(section, resource.id, 2);
    section.append(2, '\0');  // empty Pascal name, padded to an even length
    AppendBigEndian(section, resource.data.size(), 4);
    section += resource.data;
    if (resource.data.size() % 2) section.push_back('\0');
  }
  AppendBigEndian(out, section.size(), 4);
  out += section;
}

// The rows of one channel, or zeros where the plane is missing or short.
const char* PlaneRow(const PsdSpec& spec, uint32_t channel, uint32_t y, size_t row_bytes,
                     const std::string& zero_row) {
  if (channel >= spec.planes.size()) return zero_row.data();
  const std::string& plane = spec.planes[channel];
  const size_t start = row_bytes * y;
  if (start + row_bytes > plane.size()) return zero_row.data();
  return plane.data() + start;
}

// Colour channels of each mode; the rest are extra channels.
uint16_t ColourChannels(PsdMode mode) {
  switch (mode) {
    case PsdMode::Rgb:
    case PsdMode::Lab:
      return 3;
    case PsdMode::Cmyk:
      return 4;
    case PsdMode::Greyscale:
      return 1;
    default:
      return UINT16_MAX;  // no extra channel of the other modes is transparency
  }
}

void AppendRect(std::string& out, int32_t top, int32_t left, int32_t bottom, int32_t right) {
  for (int32_t side : {top, left, bottom, right}) {
    AppendBigEndian(out, static_cast<uint32_t>(side), 4);
  }
}

std::string Deflate(const std::string& bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size,
           reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()));
  out.resize(size);
  return out;
}

// The row differences of ZIP with prediction; 32-bit samples are first split into byte planes.
std::string Predict(const std::string& plane, size_t row_bytes, uint16_t depth) {
  std::string out = plane;
  for (size_t start = 0; start + row_bytes <= out.size(); start += row_bytes) {
    char* row = out.data() + start;
    if (depth == 16) {
      for (size_t i = row_bytes; i >= 4; i -= 2) {
        const auto value = static_cast<uint16_t>(static_cast<uint8_t>(row[i - 2]) << 8 |
                                                 static_cast<uint8_t>(row[i - 1]));
        const auto before = static_cast<uint16_t>(static_cast<uint8_t>(row[i - 4]) << 8 |
                                                  static_cast<uint8_t>(row[i - 3]));
        const auto delta = static_cast<uint16_t>(value - before);
        row[i - 2] = static_cast<char>(delta >> 8);
        row[i - 1] = static_cast<char>(delta);
      }
      continue;
    }
    if (depth == 32) {
      const size_t width = row_bytes / 4;
      const std::string samples(row, row_bytes);
      for (size_t x = 0; x < width; ++x) {
        for (size_t k = 0; k < 4; ++k) row[k * width + x] = samples[4 * x + k];
      }
    }
    for (size_t i = row_bytes; i-- > 1;) row[i] = static_cast<char>(row[i] - row[i - 1]);
  }
  return out;
}

// One channel's data: the compression field, then the rows as `compression` packs them.
std::string ChannelData(const std::string& plane, size_t width, size_t height, const PsdSpec& spec,
                        PsdChannelCompression compression) {
  const size_t row_bytes = PsdRowBytes(static_cast<uint32_t>(width), spec.depth);
  std::string rows = plane;
  rows.resize(row_bytes * height, '\0');
  std::string out;
  AppendBigEndian(out, static_cast<uint16_t>(compression), 2);
  if (width == 0 || height == 0) return out;
  switch (compression) {
    case PsdChannelCompression::Raw:
      return out + rows;
    case PsdChannelCompression::Rle: {
      const size_t count_bytes = spec.version == 2 ? 4 : 2;
      std::string packed;
      for (size_t y = 0; y < height; ++y) {
        const std::string row = PackBitsRow(rows.data() + y * row_bytes, row_bytes);
        AppendBigEndian(out, row.size(), count_bytes);
        packed += row;
      }
      return out + packed;
    }
    case PsdChannelCompression::Zip:
      return out + Deflate(rows);
    case PsdChannelCompression::ZipPrediction:
      return out + Deflate(Predict(rows, row_bytes, spec.depth));
  }
  return out + rows;  // a compression no reader knows, for tests of damage
}

void AppendMaskData(std::string& out, const PsdLayer& layer) {
  if (!layer.has_mask) {
    AppendBigEndian(out, 0, 4);
    return;
  }
  const PsdLayerMask& mask = layer.mask;
  AppendBigEndian(out, layer.has_real_mask ? 36 : 20, 4);
  AppendRect(out, mask.top, mask.left, mask.bottom, mask.right);
  out.push_back(static_cast<char>(mask.default_colour));
  out.push_back(static_cast<char>((mask.disabled ? 0x02 : 0) | (mask.rendered ? 0x08 : 0)));
  if (!layer.has_real_mask) {
    out.append(2, '\0');
    return;
  }
  const PsdLayerMask& real = layer.real_mask;
  out.push_back(static_cast<char>((real.disabled ? 0x02 : 0) | (real.rendered ? 0x08 : 0)));
  out.push_back(static_cast<char>(real.default_colour));
  AppendRect(out, real.top, real.left, real.bottom, real.right);
}

// The layer info: count, records, then every channel's data.
std::string LayerInfo(const PsdSpec& spec) {
  const bool psb = spec.version == 2;
  std::string info;
  std::string data;
  if (spec.layers.empty()) {
    AppendBigEndian(info, static_cast<uint16_t>(spec.layer_count), 2);
    const int layers = spec.layer_count < 0 ? -spec.layer_count : spec.layer_count;
    for (int i = 0; i < layers; ++i) {
      info.append(16, '\0');        // top, left, bottom, right
      AppendBigEndian(info, 0, 2);  // channels
      info += "8BIMnorm";
      info.push_back(static_cast<char>(255));  // opacity
      info.append(3, '\0');                    // clipping, flags, filler
      AppendBigEndian(info, 12, 4);            // extra data: mask, blending ranges, name
      AppendBigEndian(info, 0, 4);
      AppendBigEndian(info, 0, 4);
      info.append(4, '\0');  // empty name padded to four bytes
    }
    return info;
  }
  const auto count = static_cast<int16_t>(spec.layers.size());
  AppendBigEndian(info, static_cast<uint16_t>(spec.layer_count < 0 ? -count : count), 2);
  for (const PsdLayer& layer : spec.layers) {
    AppendRect(info, layer.top, layer.left, layer.bottom, layer.right);
    AppendBigEndian(info, layer.channels.size(), 2);
    for (const PsdLayer::Channel& channel : layer.channels) {
      const PsdLayerMask* mask = channel.id == -2   ? &layer.mask
                                 : channel.id == -3 ? &layer.real_mask
                                                    : nullptr;
      const size_t width = mask ? static_cast<size_t>(mask->right - mask->left)
                                : static_cast<size_t>(layer.right - layer.left);
      const size_t height = mask ? static_cast<size_t>(mask->bottom - mask->top)
                                 : static_cast<size_t>(layer.bottom - layer.top);
      const std::string bytes =
          ChannelData(mask ? mask->plane : channel.plane, width, height, spec, layer.compression);
      AppendBigEndian(info, static_cast<uint16_t>(channel.id), 2);
      AppendBigEndian(info, bytes.size(), psb ? 8 : 4);
      data += bytes;
    }
    info += "8BIM";
    info += layer.blend_key;
    info.push_back(static_cast<char>(layer.opacity));
    info.push_back(layer.clipped ? 1 : 0);
    info.push_back(static_cast<char>(layer.hidden ? 0x02 : 0));
    info.push_back('\0');
    std::string extra;
    AppendMaskData(extra, layer);
    AppendBigEndian(extra, layer.blending_ranges.size(), 4);
    extra += layer.blending_ranges;
    // The Pascal name, its length byte included, padded to four bytes.
    const size_t name_size = std::min<size_t>(layer.name.size(), 255);
    extra.push_back(static_cast<char>(name_size));
    extra += layer.name.substr(0, name_size);
    extra.append((4 - (name_size + 1) % 4) % 4, '\0');
    if (layer.section != 0) {
      extra += "8BIMlsct";
      AppendBigEndian(extra, 12, 4);
      AppendBigEndian(extra, layer.section, 4);
      extra += "8BIM";
      extra += layer.blend_key;
    }
    if (!layer.unicode_name.empty()) {
      extra += "8BIMluni";
      AppendBigEndian(extra, 4 + 2 * layer.unicode_name.size(), 4);
      AppendBigEndian(extra, layer.unicode_name.size(), 4);
      for (const char16_t unit : layer.unicode_name) AppendBigEndian(extra, unit, 2);
    }
    if (layer.fill_opacity >= 0) {
      extra += "8BIMiOpa";
      AppendBigEndian(extra, 4, 4);
      extra.push_back(static_cast<char>(layer.fill_opacity));
      extra.append(3, '\0');
    }
    for (const PsdLayer::Block& block : layer.blocks) {
      extra += "8BIM" + block.key;
      AppendBigEndian(extra, block.data.size(), 4);
      extra += block.data;
    }
    AppendBigEndian(info, extra.size(), 4);
    info += extra;
  }
  return info + data;
}

// The layer section: the layer info, or, as 16- and 32-bit documents write it, an empty layer
// info and the layers in a tagged block after the global layer mask.
void AppendLayers(std::string& out, const PsdSpec& spec) {
  const bool psb = spec.version == 2;
  const size_t width = psb ? 8 : 4;
  std::string info = LayerInfo(spec);
  if (info.size() % 2) info.push_back('\0');
  std::string section;
  if (spec.layers_in_tagged_block) {
    AppendBigEndian(section, 0, width);  // empty layer info
    AppendBigEndian(section, 0, 4);      // global layer mask
    section += "8BIMFMsk";               // an unrelated block first, as Photoshop writes
    AppendBigEndian(section, 12, psb ? 8 : 4);
    section.append(12, '\0');
    section += spec.depth == 32 ? "8BIMLr32" : "8BIMLr16";
    AppendBigEndian(section, info.size(), width);
    section += info;
  } else {
    AppendBigEndian(section, info.size(), width);
    section += info;
    AppendBigEndian(section, 0, 4);  // global layer mask
  }
  for (const PsdLayer::Block& block : spec.global_blocks) {
    std::string data = block.data;
    data.resize((data.size() + 3) / 4 * 4, '\0');
    section += "8BIM" + block.key;
    AppendBigEndian(section, data.size(), 4);
    section += data;
  }
  AppendBigEndian(out, section.size(), width);
  out += section;
}

}  // namespace

PsdSpec MakePsdSpec(PsdMode mode, uint16_t depth, uint32_t width, uint32_t height,
                    uint16_t channels) {
  PsdSpec spec;
  spec.mode = mode;
  spec.depth = depth;
  spec.width = width;
  spec.height = height;
  spec.channels = channels;
  spec.planes.assign(channels, std::string(PsdRowBytes(width, depth) * height, '\0'));
  if (channels > ColourChannels(mode)) spec.layer_count = -1;
  if (mode == PsdMode::Indexed) {
    std::vector<uint32_t> ramp;
    for (uint32_t i = 0; i < 256; ++i) ramp.push_back(i * 0x010101u);
    spec.colour_mode_data = PsdPalette(ramp);
  }
  return spec;
}

std::string PsdPalette(const std::vector<uint32_t>& colours) {
  std::string palette(768, '\0');
  for (size_t i = 0; i < colours.size() && i < 256; ++i) {
    palette[i] = static_cast<char>((colours[i] >> 16) & 0xFF);
    palette[256 + i] = static_cast<char>((colours[i] >> 8) & 0xFF);
    palette[512 + i] = static_cast<char>(colours[i] & 0xFF);
  }
  return palette;
}

PsdResource PsdColourCountResource(uint16_t count) {
  PsdResource resource{1046, {}};
  AppendBigEndian(resource.data, count, 2);
  return resource;
}

PsdResource PsdTransparentIndexResource(uint16_t index) {
  PsdResource resource{1047, {}};
  AppendBigEndian(resource.data, index, 2);
  return resource;
}

PsdResource PsdAlphaNamesResource(const std::vector<std::string>& names) {
  PsdResource resource{1006, {}};
  for (const std::string& name : names) {
    resource.data.push_back(static_cast<char>(name.size()));
    resource.data += name;
  }
  return resource;
}

PsdResource PsdAlphaIdentifiersResource(const std::vector<uint32_t>& identifiers) {
  PsdResource resource{1053, {}};
  for (uint32_t identifier : identifiers) AppendBigEndian(resource.data, identifier, 4);
  return resource;
}

PsdResource PsdIccProfileResource(const std::string& profile) { return PsdResource{1039, profile}; }

PsdResource PsdVersionInfoResource(bool has_real_merged_data) {
  PsdResource resource{1057, {}};
  AppendBigEndian(resource.data, 1, 4);
  resource.data.push_back(has_real_merged_data ? 1 : 0);
  resource.data.append(8, '\0');  // empty writer and reader names
  AppendBigEndian(resource.data, 1, 4);
  return resource;
}

namespace {

// A path record: its selector and 24 bytes of data.
void AppendPathRecord(std::string& out, uint16_t selector, const std::string& data) {
  AppendBigEndian(out, selector, 2);
  out += data;
  out.append(24 - std::min<size_t>(data.size(), 24), '\0');
}

// A point as a signed 8.24 fraction of each side, vertical first.
void AppendPathPoint(std::string& out, const PsdPathPoint& point) {
  for (const double value : {point.y, point.x}) {
    AppendBigEndian(out, static_cast<uint32_t>(static_cast<int32_t>(std::lround(value * 16777216))),
                    4);
  }
}

}  // namespace

std::string PsdVectorMaskBlock(const std::vector<PsdSubpath>& subpaths, uint32_t flags,
                               bool initial_fill) {
  std::string block;
  AppendBigEndian(block, 3, 4);  // version
  AppendBigEndian(block, flags, 4);
  AppendPathRecord(block, 6, "");
  AppendPathRecord(block, 8, std::string(1, '\0') + static_cast<char>(initial_fill ? 1 : 0));
  for (const PsdSubpath& subpath : subpaths) {
    std::string count;
    AppendBigEndian(count, subpath.knots.size(), 2);
    AppendBigEndian(count, subpath.operation, 2);
    AppendPathRecord(block, subpath.closed ? 0 : 3, count);
    for (const PsdPathKnot& knot : subpath.knots) {
      std::string points;
      for (const PsdPathPoint& point : {knot.before, knot.anchor, knot.after}) {
        AppendPathPoint(points, point);
      }
      AppendPathRecord(block, subpath.closed ? 2 : 5, points);
    }
  }
  return block;
}

uint32_t PsdSampleOf(double value, uint16_t depth) {
  switch (depth) {
    case 8:
      return static_cast<uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
    case 16:
      return static_cast<uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 65535));
    case 32:
      return PsdFloatBits(static_cast<float>(value));
    default:
      return value >= 0.5 ? 1 : 0;
  }
}

PsdResource PsdResolutionResource(uint32_t dpi) {
  // Fixed 16.16 resolution, unit 1 (pixels per inch), width unit 1 (inches), twice.
  PsdResource resource{1005, {}};
  for (int axis = 0; axis < 2; ++axis) {
    AppendBigEndian(resource.data, static_cast<uint64_t>(dpi) << 16, 4);
    AppendBigEndian(resource.data, 1, 2);
    AppendBigEndian(resource.data, 1, 2);
  }
  return resource;
}

std::string PackBitsRow(const char* row, size_t size) {
  std::string out;
  out.reserve(size + size / 128 + 2);
  size_t i = 0;
  while (i < size) {
    size_t run = 1;
    while (i + run < size && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<char>(257 - run));  // -(run - 1) as a signed byte
      out.push_back(row[i]);
      i += run;
      continue;
    }
    // Literal bytes up to the next run of three or 128 bytes, whichever comes first.
    const size_t start = i;
    while (i < size && i - start < 128) {
      if (i + 2 < size && row[i] == row[i + 1] && row[i] == row[i + 2]) break;
      ++i;
    }
    out.push_back(static_cast<char>(i - start - 1));
    out.append(row + start, i - start);
  }
  return out;
}

void PutBigEndian(std::string& bytes, size_t offset, uint64_t value, size_t size) {
  if (size == 0 || size > 8 || offset > bytes.size() || bytes.size() - offset < size) return;
  for (size_t i = 0; i < size; ++i) {
    bytes[offset + i] = static_cast<char>((value >> (8 * (size - 1 - i))) & 0xFF);
  }
}

std::string WritePsd(const PsdSpec& spec, PsdOffsets* offsets) {
  PsdOffsets at;
  const size_t row_bytes = PsdRowBytes(spec.width, spec.depth);
  const size_t rows = static_cast<size_t>(spec.channels) * spec.height;
  const bool psb = spec.version == 2;
  const std::string zero_row(row_bytes, '\0');

  std::string out;
  out.reserve(64 + spec.colour_mode_data.size() +
              (spec.omit_composite ? 0 : rows * (row_bytes + 4)));
  out += "8BPS";
  AppendBigEndian(out, spec.version, 2);
  out.append(6, '\0');
  AppendBigEndian(out, spec.channels, 2);
  AppendBigEndian(out, spec.height, 4);
  AppendBigEndian(out, spec.width, 4);
  AppendBigEndian(out, spec.depth, 2);
  AppendBigEndian(out, static_cast<uint16_t>(spec.mode), 2);

  at.colour_mode_data = out.size();
  AppendBigEndian(out, spec.colour_mode_data.size(), 4);
  out += spec.colour_mode_data;

  at.resources = out.size();
  AppendResources(out, spec.resources);

  at.layers = out.size();
  if (spec.layer_count == 0 && spec.layers.empty()) {
    AppendBigEndian(out, 0, psb ? 8 : 4);
  } else {
    AppendLayers(out, spec);
  }

  at.image_data = out.size();
  AppendBigEndian(out, static_cast<uint16_t>(spec.compression), 2);
  if (spec.omit_composite) {
    at.rle_counts = at.pixels = out.size();
  } else if (spec.compression == PsdCompression::Rle) {
    // The count table comes first: reserve it, pack the rows behind it, then fill it in.
    const size_t count_bytes = psb ? 4 : 2;
    at.rle_counts = out.size();
    out.append(rows * count_bytes, '\0');
    at.pixels = out.size();
    size_t row_index = 0;
    for (uint32_t channel = 0; channel < spec.channels; ++channel) {
      for (uint32_t y = 0; y < spec.height; ++y, ++row_index) {
        const std::string packed =
            PackBitsRow(PlaneRow(spec, channel, y, row_bytes, zero_row), row_bytes);
        PutBigEndian(out, at.rle_counts + row_index * count_bytes, packed.size(), count_bytes);
        out += packed;
      }
    }
  } else {
    at.pixels = out.size();
    for (uint32_t channel = 0; channel < spec.channels; ++channel) {
      for (uint32_t y = 0; y < spec.height; ++y) {
        out.append(PlaneRow(spec, channel, y, row_bytes, zero_row), row_bytes);
      }
    }
  }
  if (offsets) *offsets = at;
  return out;
}

bool WritePsdFile(const std::string& path, const PsdSpec& spec) {
  const std::string bytes = WritePsd(spec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

namespace {

void AppendDescriptorKey(std::string& out, const std::string& key) {
  AppendBigEndian(out, key.size() == 4 ? 0 : key.size(), 4);
  out += key;
}

}  // namespace

PsdDescriptorWriter& PsdDescriptorWriter::Raw(const std::string& key, const std::string& type,
                                              const std::string& data) {
  AppendDescriptorKey(items_, key);
  items_ += type;
  items_ += data;
  ++count_;
  return *this;
}

PsdDescriptorWriter& PsdDescriptorWriter::Double(const std::string& key, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  std::string data;
  AppendBigEndian(data, bits, 8);
  return Raw(key, "doub", data);
}

PsdDescriptorWriter& PsdDescriptorWriter::UnitFloat(const std::string& key, const std::string& unit,
                                                    double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  std::string data = unit;
  AppendBigEndian(data, bits, 8);
  return Raw(key, "UntF", data);
}

PsdDescriptorWriter& PsdDescriptorWriter::Long(const std::string& key, int32_t value) {
  std::string data;
  AppendBigEndian(data, static_cast<uint32_t>(value), 4);
  return Raw(key, "long", data);
}

PsdDescriptorWriter& PsdDescriptorWriter::Bool(const std::string& key, bool value) {
  return Raw(key, "bool", std::string(1, value ? '\1' : '\0'));
}

PsdDescriptorWriter& PsdDescriptorWriter::Enum(const std::string& key, const std::string& type,
                                               const std::string& value) {
  std::string data;
  AppendDescriptorKey(data, type);
  AppendDescriptorKey(data, value);
  return Raw(key, "enum", data);
}

PsdDescriptorWriter& PsdDescriptorWriter::Text(const std::string& key,
                                               const std::u16string& value) {
  std::string data;
  AppendBigEndian(data, value.size(), 4);
  for (const char16_t unit : value) AppendBigEndian(data, unit, 2);
  return Raw(key, "TEXT", data);
}

PsdDescriptorWriter& PsdDescriptorWriter::Object(const std::string& key,
                                                 const PsdDescriptorWriter& value) {
  return Raw(key, "Objc", value.Bytes());
}

PsdDescriptorWriter& PsdDescriptorWriter::List(const std::string& key,
                                               const std::vector<PsdDescriptorWriter>& items) {
  std::string data;
  AppendBigEndian(data, items.size(), 4);
  for (const PsdDescriptorWriter& item : items) data += "Objc" + item.Bytes();
  return Raw(key, "VlLs", data);
}

std::string PsdDescriptorWriter::Bytes() const {
  std::string out;
  AppendBigEndian(out, 0, 4);  // empty name
  AppendDescriptorKey(out, class_id_);
  AppendBigEndian(out, count_, 4);
  return out + items_;
}

std::string PsdDescriptorWriter::Versioned() const {
  std::string out;
  AppendBigEndian(out, 16, 4);
  return out + Bytes();
}
