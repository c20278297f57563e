#include "decoder/psd_layers.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>

#include "decoder/blend_modes.h"
#include "decoder/gradient.h"
#include "decoder/layer_effects.h"
#include "decoder/layer_names.h"
#include "decoder/vector_mask.h"
#include "engine/image/byte_cursor.h"
#include "engine/psd/packbits.h"

namespace {

// Tagged blocks whose length is eight bytes wide in a large document.
bool HasWideLength(uint32_t key) {
  for (const char* wide : {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn", "Alph", "FMsk",
                           "lnk2", "FEid", "FXid", "PxSD"}) {
    if (key == BigEndian32(reinterpret_cast<const uint8_t*>(wide))) return true;
  }
  return false;
}

int64_t Signed32(uint64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

bool ReadRect(ByteCursor& cursor, LayerRect& rect) {
  uint64_t top = 0, left = 0, bottom = 0, right = 0;
  if (!cursor.Read(4, top) || !cursor.Read(4, left) || !cursor.Read(4, bottom) ||
      !cursor.Read(4, right)) {
    return false;
  }
  rect = {Signed32(top), Signed32(left), Signed32(bottom), Signed32(right)};
  // An empty rectangle is a layer without pixels; a reversed or huge one is damage.
  return rect.Width() >= 0 && rect.Height() >= 0 && rect.Width() <= MaxLayerSide &&
         rect.Height() <= MaxLayerSide;
}

// The mask part of a layer's extra data: the mask, and the real user mask after it when the
// layer has a vector mask as well. Mask parameters, which may follow, are not needed.
bool ReadMasks(std::span<const uint8_t> data, LayerRecord& layer) {
  if (data.empty()) return true;
  if (data.size() < 18) return false;
  ByteCursor cursor(data);
  uint64_t colour = 0, flags = 0;
  if (!ReadRect(cursor, layer.mask.rect) || !cursor.Read(1, colour) || !cursor.Read(1, flags)) {
    return false;
  }
  layer.mask.present = true;
  layer.mask.default_colour = static_cast<uint8_t>(colour);
  layer.mask.disabled = (flags & 0x02) != 0;
  layer.mask.rendered = (flags & 0x08) != 0;
  if (data.size() < 36) return true;
  if (!cursor.Read(1, flags) || !cursor.Read(1, colour) ||
      !ReadRect(cursor, layer.real_mask.rect)) {
    return false;
  }
  layer.real_mask.present = true;
  layer.real_mask.default_colour = static_cast<uint8_t>(colour);
  layer.real_mask.disabled = (flags & 0x02) != 0;
  layer.real_mask.rendered = (flags & 0x08) != 0;
  return true;
}

// The placement of a pattern fill layer's block: a versioned descriptor.
std::shared_ptr<const PatternPlacement> ReadPatternFill(std::span<const uint8_t> block) {
  const std::optional<Descriptor> settings = ReadVersionedDescriptor(block);
  std::optional<PatternPlacement> placement =
      settings ? ReadPatternPlacement(*settings) : std::nullopt;
  if (!placement) return nullptr;
  return std::make_shared<const PatternPlacement>(std::move(*placement));
}

// True when the effects' master switch is on and one effect is enabled, alone or in a list.
bool AnyEffectEnabled(const Descriptor& effects) {
  if (!effects.Flag("masterFXSwitch", true)) return false;
  for (const auto& [key, value] : effects.items) {
    if (value.kind == DescriptorValue::Kind::Object && value.object->Flag("enab")) return true;
    if (value.kind == DescriptorValue::Kind::List) {
      for (const DescriptorValue& item : value.list) {
        if (item.object && item.object->Flag("enab")) return true;
      }
    }
  }
  return false;
}

// The tagged blocks at the end of a layer record: group dividers, fill opacity and the vector
// mask, whose path records (after a version and flags) stay in the file until they are drawn.
// An artboard's settings (a versioned descriptor): its rectangle in canvas pixels and its
// background: 1 white, 2 black, 3 transparent, 4 the colour it names.
std::optional<ArtboardBoard> ReadArtboard(std::span<const uint8_t> block, uint16_t mode) {
  const std::optional<Descriptor> settings = ReadVersionedDescriptor(block);
  if (!settings) return std::nullopt;
  const Descriptor* rect = settings->Object("artboardRect");
  if (!rect) return std::nullopt;
  const auto side = [&](const char* key) {
    const double value = std::round(rect->Number(key));
    return std::isfinite(value) ? static_cast<int64_t>(std::clamp(value, -1e9, 1e9)) : 0;
  };
  ArtboardBoard board;
  board.rect = {side("Top "), side("Left"), side("Btom"), side("Rght")};
  if (board.rect.Empty() || board.rect.Width() > MaxLayerSide ||
      board.rect.Height() > MaxLayerSide) {
    return std::nullopt;
  }
  const auto type = static_cast<int>(settings->Number("artboardBackgroundType", 1));
  if (type == 3) return board;
  const auto grey = [mode](double level) {
    Descriptor colour;
    colour.class_id = "RGBC";
    for (const char* key : {"Rd  ", "Grn ", "Bl  "}) {
      DescriptorValue value;
      value.kind = DescriptorValue::Kind::Number;
      value.number = level;
      colour.items.emplace_back(key, value);
    }
    return ReadDescriptorColour(colour, mode);
  };
  const Descriptor* colour = settings->Object("Clr ");
  board.background = type == 2                        ? grey(0)
                     : type == 4 && colour != nullptr ? ReadDescriptorColour(*colour, mode)
                                                      : grey(255);
  if (!board.background) return std::nullopt;
  return board;
}

bool ReadLayerBlocks(std::span<const uint8_t> file, std::span<const uint8_t> data, uint16_t version,
                     uint16_t mode, LayerRecord& layer) {
  ByteCursor cursor(data);
  while (cursor.remaining() >= 12) {
    if (!cursor.Matches("8BIM") && !cursor.Matches("8B64")) return true;  // trailing padding
    cursor.Skip(4);
    uint64_t key = 0, length = 0;
    cursor.Read(4, key);
    const size_t width = version == 2 && HasWideLength(static_cast<uint32_t>(key)) ? 8 : 4;
    if (!cursor.Read(width, length) || length > cursor.remaining()) return false;
    const std::span<const uint8_t> block = cursor.Peek(length);
    ByteCursor fields(block);
    if (key == FourCc("lsct") || key == FourCc("lsdk")) {
      uint64_t kind = 0, blend = 0;
      if (fields.Read(4, kind)) {
        static constexpr LayerSection Kinds[] = {LayerSection::None, LayerSection::OpenGroup,
                                                 LayerSection::ClosedGroup, LayerSection::GroupEnd};
        layer.section = kind < 4 ? Kinds[kind] : LayerSection::None;
      }
      if (fields.Skip(4) && fields.Read(4, blend)) layer.blend_key = static_cast<uint32_t>(blend);
    } else if (key == FourCc("GdFl") && (layer.gradient_fill = ReadGradientFill(block, mode))) {
      // a gradient fill layer's gradient
    } else if (key == FourCc("PtFl") && (layer.pattern_fill = ReadPatternFill(block))) {
      // a pattern fill layer's pattern, found in the document once all is read
    } else if (ReadAdjustmentBlock(static_cast<uint32_t>(key), block, mode, layer.adjustment)) {
      // an adjustment or fill layer's settings, kept in its record
    } else if (key == FourCc("lfx2") || key == FourCc("lrFX")) {
      // The newer block says all that the old one does and more: it wins, in whichever order
      // the two come. The old one is read where it is alone.
      const bool newer = key == FourCc("lfx2");
      std::optional<Descriptor> settings;
      if (newer && block.size() > 4) settings = ReadVersionedDescriptor(block.subspan(4));
      if (!newer && !layer.effects_from_descriptor) settings = ReadOldEffects(block);
      if (settings) {
        layer.effects = AnyEffectEnabled(*settings);
        layer.effects_settings = std::make_shared<const Descriptor>(std::move(*settings));
        layer.effects_from_descriptor = newer;
      } else if (!layer.effects_settings && (newer || !layer.effects_from_descriptor)) {
        // Unreadable: whatever it asks for is left out, and said so.
        uint64_t count = 0;
        layer.effects = newer || (fields.Skip(2) && fields.Read(2, count) && count > 1);
      }
    } else if (key == FourCc("artb") || key == FourCc("artd") || key == FourCc("abdd")) {
      layer.artboard = true;
      if (!layer.board) layer.board = ReadArtboard(block, mode);
    } else if (key == FourCc("SoLd") || key == FourCc("PlLd") || key == FourCc("SoLE")) {
      layer.smart_object = true;
    } else if (key == FourCc("luni")) {
      std::string name = UnicodeLayerName(block);
      if (!name.empty()) layer.name = std::move(name);
    } else if (key == FourCc("vstk")) {
      const std::optional<Descriptor> settings = ReadVersionedDescriptor(block);
      layer.shape_stroke = settings && settings->Flag("strokeEnabled");
      std::optional<ShapeStroke> stroke =
          layer.shape_stroke ? ReadShapeStroke(*settings, mode) : std::nullopt;
      layer.stroke = stroke ? std::make_shared<const ShapeStroke>(std::move(*stroke)) : nullptr;
    } else if (key == FourCc("knko")) {
      uint64_t flag = 0;
      if (fields.Read(1, flag)) layer.knockout = flag != 0;
    } else if (key == FourCc("infx")) {
      uint64_t flag = 0;
      if (fields.Read(1, flag)) layer.interior_as_group = flag != 0;
    } else if (key == FourCc("iOpa")) {
      uint64_t fill = 0;
      if (fields.Read(1, fill)) layer.fill_opacity = static_cast<uint8_t>(fill);
    } else if ((key == FourCc("vmsk") || key == FourCc("vsms")) && !layer.vector_mask.present) {
      uint64_t format = 0, flags = 0;
      if (fields.Read(4, format) && fields.Read(4, flags)) {
        LayerVectorMask& mask = layer.vector_mask;
        mask.present = true;
        mask.inverted = (flags & 0x01) != 0;
        mask.disabled = (flags & 0x04) != 0;
        mask.offset = static_cast<uint64_t>(block.data() - file.data()) + fields.position();
        mask.length = fields.remaining();
      }
    }
    cursor.Skip(length);
  }
  return true;
}

// One layer record of `file`.
// A 16-bit Lab document stores a and b about 32768 in 256ths of a unit, where 8 bits store them
// about 128 in whole units: the settings' colours, read on the 8-bit scale, move to the 16-bit one
// so that they meet the layers' own samples (and the stored picture) where those are.
void SixteenBitLabColours(LayerRecord& layer) {
  const auto widen = [](std::array<float, 4>& colour) {
    for (int k = 1; k <= 2; ++k) {
      const double units = colour[k] * 255.0 - 128;
      colour[k] = static_cast<float>(std::clamp((units * 256 + 32768) / 65535, 0.0, 1.0));
    }
  };
  const auto widen_gradient = [&](std::shared_ptr<const Gradient>& gradient) {
    if (!gradient) return;
    auto wide = std::make_shared<Gradient>(*gradient);
    for (GradientColourStop& stop : wide->colours) widen(stop.colour);
    gradient = std::move(wide);
  };
  widen(layer.adjustment.colour);
  widen_gradient(layer.gradient_fill);
  if (layer.board && layer.board->background) widen(*layer.board->background);
  if (layer.stroke && layer.stroke->colour) {
    auto stroke = std::make_shared<ShapeStroke>(*layer.stroke);
    widen(*stroke->colour);
    layer.stroke = std::move(stroke);
  }
  if (layer.drawn_effects) {
    auto effects = std::make_shared<LayerEffects>(*layer.drawn_effects);
    for (LayerEffect& effect : effects->effects) {
      widen(effect.colour);
      widen(effect.shadow_colour);
      widen_gradient(effect.gradient);
    }
    layer.drawn_effects = std::move(effects);
  }
}

bool ReadLayerRecord(std::span<const uint8_t> file, ByteCursor& cursor, uint16_t version,
                     uint16_t mode, LayerRecord& layer) {
  if (!ReadRect(cursor, layer.rect)) return false;
  uint64_t count = 0;
  if (!cursor.Read(2, count) || count > MaxLayerChannels) return false;
  layer.channels.resize(count);
  for (LayerChannel& channel : layer.channels) {
    uint64_t id = 0;
    if (!cursor.Read(2, id) || !cursor.Read(version == 2 ? 8 : 4, channel.length)) return false;
    channel.id = static_cast<int16_t>(id);
  }
  uint64_t blend = 0, opacity = 0, clipping = 0, flags = 0, extra = 0;
  if (!cursor.Matches("8BIM") || !cursor.Skip(4)) return false;
  if (!cursor.Read(4, blend) || !cursor.Read(1, opacity) || !cursor.Read(1, clipping) ||
      !cursor.Read(1, flags) || !cursor.Skip(1) || !cursor.Read(4, extra) ||
      extra > cursor.remaining()) {
    return false;
  }
  layer.blend_key = static_cast<uint32_t>(blend);
  layer.opacity = static_cast<uint8_t>(opacity);
  layer.clipped = clipping != 0;
  layer.hidden = (flags & 0x02) != 0;

  ByteCursor extra_data(cursor.Peek(extra));
  cursor.Skip(extra);
  uint64_t length = 0;
  if (!extra_data.Read(4, length) || length > extra_data.remaining()) return false;
  if (!ReadMasks(extra_data.Peek(length), layer)) return false;
  extra_data.Skip(length);
  // Blending ranges: for the composite grey, then each channel, the source's and the
  // underlying layer's black and white limits (low, high each); all 0, 0, 255, 255 means none.
  if (!extra_data.Read(4, length) || length > extra_data.remaining()) return false;
  layer.blend_ranges = ReadBlendIfRanges(extra_data.Peek(length), 4);
  layer.blend_if = layer.blend_ranges.Any();
  extra_data.Skip(length);
  uint64_t name_length = 0;
  if (!extra_data.Read(1, name_length)) return false;
  // The Pascal name is padded, its length byte included, to a multiple of four.
  const uint64_t padded = (name_length + 1 + 3) / 4 * 4 - 1;
  if (padded > extra_data.remaining()) return false;
  layer.name = PascalLayerName(extra_data.Peek(name_length));
  extra_data.Skip(padded);
  const uint32_t group_key_before = layer.blend_key;
  if (!ReadLayerBlocks(file, extra_data.Peek(extra_data.remaining()), version, mode, layer)) {
    return false;
  }
  // A divider's own key is the group's mode; a plain layer keeps the record's.
  if (layer.section == LayerSection::None) layer.blend_key = group_key_before;
  return true;
}

// The layers of an indexed document store one channel of palette indices, as its composite does
// (channel 0; the transparency as in other modes). They are composited in RGB: red, green and
// blue are looked up from the indices, and the transparent index, where the document has one,
// clears the transparency.
void LookUpThroughPalette(const LayeredDocument& document, LayerRecord& layer) {
  const LayerChannel* indices = layer.Channel(0);
  if (!indices) return;
  const uint64_t offset = indices->offset, length = indices->length;
  for (LayerChannel& channel : layer.channels) {
    if (channel.id == 0 || (channel.id == TransparencyChannel && document.transparent_index)) {
      channel.from_palette = true;
      channel.index_offset = offset;
      channel.index_length = length;
    }
  }
  for (int16_t id : {int16_t{1}, int16_t{2}}) {
    if (!layer.Channel(id)) layer.channels.push_back({id, offset, length, true, offset, length});
  }
  if (document.transparent_index && !layer.Channel(TransparencyChannel)) {
    layer.channels.push_back({TransparencyChannel, 0, 0, true, offset, length});
  }
}

// Lab documents are composited in their stored L, a and b values. The adjustments that only
// invert or fill are drawn there as elsewhere; the others are defined on RGB light, or on
// channels whose Lab meaning we do not know, and are left out (and said so).
void LeaveOutLabAdjustment(LayerAdjustment& adjustment) {
  switch (adjustment.kind) {
    case AdjustmentKind::None:
    case AdjustmentKind::Invert:
    case AdjustmentKind::SolidColour:
    case AdjustmentKind::Unsupported:
      return;
    default:
      adjustment.kind = AdjustmentKind::Unsupported;
      adjustment.settings.reset();
      return;
  }
}

// The layer info: count, records, then the channel data in record order.
bool ReadLayerInfo(std::span<const uint8_t> file, uint64_t offset, uint64_t size,
                   LayeredDocument& document) {
  ByteCursor cursor(file.subspan(offset, size));
  uint64_t count = 0;
  if (!cursor.Read(2, count)) return false;
  const int64_t layers = std::abs(static_cast<int64_t>(static_cast<int16_t>(count)));
  if (layers > static_cast<int64_t>(MaxLayerRecords)) return false;
  document.layers.resize(static_cast<size_t>(layers));
  // An indexed document is composited in RGB: its settings' colours are read as RGB's.
  const uint16_t colours_mode =
      document.mode == PsdModeIndexed ? static_cast<uint16_t>(PsdModeRgb) : document.mode;
  for (LayerRecord& layer : document.layers) {
    if (!ReadLayerRecord(file, cursor, document.version, colours_mode, layer)) return false;
    // Lab is composited in its stored values: opacity then mixes in Lab itself, and the channel
    // modes work on L, a and b as on any channels, which is what a Lab document's own picture
    // holds. Only the whole-colour modes need to know what the channels mean.
    if (document.mode == PsdModeLab) {
      LeaveOutLabAdjustment(layer.adjustment);
      layer.blend_key = LabBlendKey(layer.blend_key);
    }
    if (layer.effects_settings) {
      layer.drawn_effects = std::make_shared<const LayerEffects>(ReadLayerEffects(
          *layer.effects_settings, colours_mode, document.global_angle,
          [&document](const std::string& id) { return document.DrawablePattern(id) != nullptr; }));
    }
    if (document.mode == PsdModeLab && document.depth == 16) SixteenBitLabColours(layer);
    if (layer.pattern_fill && !document.DrawablePattern(layer.pattern_fill->id)) {
      // Not among the document's patterns: left out, and said so.
      layer.pattern_fill.reset();
      layer.adjustment.kind = AdjustmentKind::Unsupported;
      layer.adjustment.key = FourCc("PtFl");
    }
  }
  uint64_t at = offset + cursor.position();
  const uint64_t end = offset + size;
  for (LayerRecord& layer : document.layers) {
    for (LayerChannel& channel : layer.channels) {
      if (channel.length > end - at) return false;
      channel.offset = at;
      at += channel.length;
    }
    for (const LayerChannel& channel : layer.channels) {
      if (channel.id == UserMaskChannel && !layer.mask.present) return false;
      if (channel.id == RealUserMaskChannel && !layer.real_mask.present) return false;
    }
    if (document.mode == PsdModeIndexed) LookUpThroughPalette(document, layer);
  }
  return true;
}

bool ReadSectionLength(ByteCursor& cursor, uint16_t version, uint64_t& length) {
  return cursor.Read(version == 2 ? 8 : 4, length) && length <= cursor.remaining();
}

}  // namespace

LayerRect LayerRect::Intersect(const LayerRect& other) const {
  LayerRect overlap{std::max(top, other.top), std::max(left, other.left),
                    std::min(bottom, other.bottom), std::min(right, other.right)};
  if (overlap.Empty()) return {};
  return overlap;
}

const DocumentPattern* LayeredDocument::DrawablePattern(const std::string& id) const {
  for (const DocumentPattern& pattern : patterns) {
    if (pattern.id == id) return PatternDrawable(pattern, mode) ? &pattern : nullptr;
  }
  return nullptr;
}

const LayerChannel* LayerRecord::Channel(int16_t id) const {
  for (const LayerChannel& channel : channels) {
    if (channel.id == id) return &channel;
  }
  return nullptr;
}

std::optional<LayeredDocument> ReadLayeredDocument(std::span<const uint8_t> file) {
  const std::optional<PsdHeader> header = ReadPsdHeader(file);
  if (!header) return std::nullopt;
  // Bitmap, duotone and multichannel documents keep their stored picture.
  switch (header->mode) {
    case PsdModeGreyscale:
    case PsdModeRgb:
      break;
    case PsdModeCmyk:
    case PsdModeLab:
      if (header->depth == 32) return std::nullopt;
      break;
    case PsdModeIndexed:
      if (header->depth != 8 || header->colour_mode_size < 768) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }
  LayeredDocument document;
  static_cast<PsdHeader&>(document) = *header;
  document.colour_channels = header->ColourChannels();
  if (header->mode == PsdModeIndexed) {
    // The colour mode data holds 256 reds, then 256 greens, then 256 blues.
    if (header->colour_mode_offset > file.size() || file.size() - header->colour_mode_offset < 768)
      return std::nullopt;
    const uint8_t* table = file.data() + header->colour_mode_offset;
    document.palette.resize(256);
    for (size_t i = 0; i < 256; ++i)
      document.palette[i] = {table[i], table[256 + i], table[512 + i]};
    const std::span<const uint8_t> transparent = FindPsdResource(file, *header, 1047);
    if (transparent.size() >= 2 && BigEndian16(transparent.data()) < 256) {
      document.transparent_index = BigEndian16(transparent.data());
    }
    document.colour_channels = 3;
  }
  document.patterns = ReadDocumentPatterns(file, *header);
  const std::span<const uint8_t> light = FindPsdResource(file, *header, 1037);
  if (light.size() >= 4) {
    document.global_angle = static_cast<int32_t>(BigEndian32(light.data()));
  }

  const uint64_t section_start = header->layers_offset;
  uint64_t length = header->layers_size;
  ByteCursor section(file.subspan(section_start, length));
  uint64_t info_length = 0;
  if (length == 0) return document;
  if (!ReadSectionLength(section, document.version, info_length)) return std::nullopt;
  if (info_length > 0) {
    if (!ReadLayerInfo(file, section_start + section.position(), info_length, document)) {
      return std::nullopt;
    }
    return document;
  }
  // Deep documents keep their layers in a tagged block after the global layer mask.
  if (!section.Read(4, length) || !section.Skip(length)) return document;
  while (section.remaining() >= 12) {
    if (!section.Matches("8BIM") && !section.Matches("8B64")) break;
    section.Skip(4);
    uint64_t key = 0;
    section.Read(4, key);
    const size_t width_bytes =
        document.version == 2 && HasWideLength(static_cast<uint32_t>(key)) ? 8 : 4;
    if (!section.Read(width_bytes, length) || length > section.remaining()) return std::nullopt;
    if (key == FourCc("Lr16") || key == FourCc("Lr32") || key == FourCc("Layr")) {
      if (!ReadLayerInfo(file, section_start + section.position(), length, document)) {
        return std::nullopt;
      }
      return document;
    }
    section.Skip(length);
    // Blocks are padded to an even length, or to four bytes by some writers.
    while (section.remaining() > 0 && !section.Matches("8BIM") && !section.Matches("8B64")) {
      section.Skip(1);
    }
  }
  return document;
}

namespace {

float Sample(const uint8_t* row, size_t x, uint16_t depth) {
  switch (depth) {
    case 8:
      return row[x] * (1.0f / 255.0f);
    case 16:
      return BigEndian16(row + 2 * x) * (1.0f / 65535.0f);
    default: {
      const float value = BigEndianFloat(row + 4 * x);
      return std::isfinite(value) ? value : 0.0f;
    }
  }
}

// Undoes the row prediction of ZIP with prediction.
void Unpredict(std::span<uint8_t> row, uint16_t depth, int64_t width) {
  switch (depth) {
    case 8:
      for (size_t i = 1; i < row.size(); ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
      return;
    case 16: {
      uint16_t previous = 0;
      for (size_t i = 0; i + 1 < row.size(); i += 2) {
        previous = static_cast<uint16_t>(previous + BigEndian16(row.data() + i));
        row[i] = static_cast<uint8_t>(previous >> 8);
        row[i + 1] = static_cast<uint8_t>(previous);
      }
      return;
    }
    default: {
      // Bytes differenced over the whole row, after splitting the samples into byte planes.
      for (size_t i = 1; i < row.size(); ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
      std::vector<uint8_t> planes(row.begin(), row.end());
      const auto samples = static_cast<size_t>(width);
      for (size_t x = 0; x < samples; ++x) {
        for (size_t k = 0; k < 4; ++k) row[4 * x + k] = planes[k * samples + x];
      }
      return;
    }
  }
}

// Writes the samples of one decoded row `y` of `source` that fall in `region`.
void PlaceRow(const uint8_t* row, int64_t y, const LayerRect& source, const LayerRect& region,
              uint16_t depth, float* out, size_t stride) {
  if (y < region.top || y >= region.bottom) return;
  const int64_t from = std::max(source.left, region.left);
  const int64_t to = std::min(source.right, region.right);
  float* target = out + static_cast<size_t>((y - region.top) * region.Width()) * stride;
  const uint8_t* samples = row + (from - source.left) * (depth / 8);
  target += static_cast<size_t>(from - region.left) * stride;
  const auto count = static_cast<size_t>(std::max<int64_t>(to - from, 0));
  switch (depth) {
    case 8:
      for (size_t i = 0; i < count; ++i) target[i * stride] = samples[i] * (1.0f / 255.0f);
      return;
    case 16:
      for (size_t i = 0; i < count; ++i) {
        target[i * stride] = BigEndian16(samples + 2 * i) * (1.0f / 65535.0f);
      }
      return;
    default:
      for (size_t i = 0; i < count; ++i) target[i * stride] = Sample(samples, i, depth);
      return;
  }
}

class Inflater {
 public:
  explicit Inflater(std::span<const uint8_t> data) {
    stream_.next_in = const_cast<Bytef*>(data.data());
    stream_.avail_in = static_cast<uInt>(std::min<uint64_t>(data.size(), UINT32_MAX));
    ok_ = inflateInit(&stream_) == Z_OK;
  }
  ~Inflater() {
    if (ok_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  /// Fills `row` exactly; false when the stream is damaged or ends first.
  bool Next(std::span<uint8_t> row) {
    if (!ok_) return false;
    stream_.next_out = row.data();
    stream_.avail_out = static_cast<uInt>(row.size());
    while (stream_.avail_out > 0) {
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END && stream_.avail_out > 0) return false;
      if (result != Z_OK && result != Z_STREAM_END) return false;
    }
    return true;
  }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

}  // namespace

namespace {

// A channel of an indexed document's layer from its palette indices: a colour of the palette, or
// the transparency (its own, else full) with the transparent index cleared.
bool DecodeFromPalette(std::span<const uint8_t> file, const LayeredDocument& document,
                       const LayerChannel& channel, const LayerRect& source,
                       const LayerRect& region, float* out, size_t stride) {
  const LayerRect wanted = source.Intersect(region);
  const bool transparency = channel.id == TransparencyChannel;
  if ((!transparency && (channel.id < 0 || channel.id > 2)) || document.palette.size() != 256)
    return false;
  if (transparency && channel.length > 0) {
    const LayerChannel own{channel.id, channel.offset, channel.length};
    if (!DecodeLayerChannel(file, document, own, source, region, out, stride)) return false;
  }
  const LayerChannel plain{0, channel.index_offset, channel.index_length};
  std::vector<float> indices(static_cast<size_t>(wanted.Width() * wanted.Height()));
  if (!DecodeLayerChannel(file, document, plain, source, wanted, indices.data())) return false;
  const auto id = static_cast<size_t>(channel.id);
  size_t i = 0;
  for (int64_t y = wanted.top; y < wanted.bottom; ++y) {
    float* target =
        out +
        static_cast<size_t>((y - region.top) * region.Width() + wanted.left - region.left) * stride;
    for (int64_t x = wanted.left; x < wanted.right; ++x, ++i, target += stride) {
      const auto index = static_cast<size_t>(std::lround(std::clamp(indices[i], 0.0f, 1.0f) * 255));
      if (!transparency) {
        *target = document.palette[index][id] * (1.0f / 255.0f);
      } else if (index == document.transparent_index) {
        *target = 0;
      } else if (channel.length == 0) {
        *target = 1;
      }
    }
  }
  return true;
}

}  // namespace

bool DecodeLayerChannel(std::span<const uint8_t> file, const LayeredDocument& document,
                        const LayerChannel& channel, const LayerRect& source,
                        const LayerRect& region, float* out, size_t stride) {
  if (channel.from_palette) {
    return DecodeFromPalette(file, document, channel, source, region, out, stride);
  }
  if (channel.offset > file.size() || channel.length > file.size() - channel.offset) return false;
  if (channel.length < 2) return false;
  ByteCursor cursor(file.subspan(channel.offset, channel.length));
  uint64_t compression = 0;
  cursor.Read(2, compression);
  if (source.Empty()) return true;
  const LayerRect wanted = source.Intersect(region);
  if (wanted.Empty()) return true;
  const uint16_t depth = document.depth;
  const auto width = static_cast<uint64_t>(source.Width());
  const uint64_t row_bytes = width * depth / 8;
  const auto rows = static_cast<uint64_t>(source.Height());
  // Rows below the region are never needed.
  const auto last_row = static_cast<uint64_t>(wanted.bottom - source.top);
  std::vector<uint8_t> row(row_bytes);
  switch (compression) {
    case 0: {
      if (row_bytes * rows > cursor.remaining()) return false;
      const uint8_t* data = file.data() + channel.offset + 2;
      for (auto y = static_cast<uint64_t>(wanted.top - source.top); y < last_row; ++y) {
        PlaceRow(data + y * row_bytes, source.top + static_cast<int64_t>(y), source, region, depth,
                 out, stride);
      }
      return true;
    }
    case 1: {
      const size_t count_bytes = document.version == 2 ? 4 : 2;
      if (rows * count_bytes > cursor.remaining()) return false;
      const std::span<const uint8_t> counts = cursor.Peek(rows * count_bytes);
      cursor.Skip(rows * count_bytes);
      uint64_t at = 0;
      const uint64_t available = cursor.remaining();
      const uint8_t* packed = file.data() + channel.offset + 2 + rows * count_bytes;
      for (uint64_t y = 0; y < last_row; ++y) {
        const uint64_t count = BigEndian(counts.data() + y * count_bytes, count_bytes);
        if (count > available - at) return false;
        const int64_t canvas_y = source.top + static_cast<int64_t>(y);
        if (canvas_y >= wanted.top) {
          if (!UnpackBitsRow({packed + at, count}, row)) return false;
          PlaceRow(row.data(), canvas_y, source, region, depth, out, stride);
        }
        at += count;
      }
      return true;
    }
    case 2:
    case 3: {
      Inflater inflater(cursor.Peek(cursor.remaining()));
      for (uint64_t y = 0; y < last_row; ++y) {
        if (!inflater.Next(row)) return false;
        const int64_t canvas_y = source.top + static_cast<int64_t>(y);
        if (canvas_y < wanted.top) continue;
        if (compression == 3) Unpredict(row, depth, source.Width());
        PlaceRow(row.data(), canvas_y, source, region, depth, out, stride);
      }
      return true;
    }
    default:
      return false;
  }
}
