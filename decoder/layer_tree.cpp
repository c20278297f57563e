#include "decoder/layer_tree.h"

#include <algorithm>

#include "decoder/blend_modes.h"
#include "decoder/layer_effects.h"
#include "engine/image/byte_cursor.h"
#include "engine/isolation/decoder_protocol.h"

namespace {

LayerRect Span(const LayerRect& a, const LayerRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
          std::max(a.right, b.right)};
}

void SetReach(std::vector<LayerNode>& nodes, const LayeredDocument& document,
              const LayerRect& canvas) {
  for (LayerNode& node : nodes) {
    const LayerRecord& record = *node.record;
    if (node.group) SetReach(node.members, document, canvas);
    // A layer's effects show without its fill, and a knockout clears without it.
    const float opacity =
        (!node.group && (DrawsEffects(record, document.colour_channels) || record.knockout)) ||
                DrawsGroupEffects(node) || DrawsFillEffects(record, document.colour_channels)
            ? record.opacity / 255.0f
            : LayerOpacity(record);
    if (record.hidden || opacity <= 0) continue;
    if (node.group && record.board) {
      // An artboard shows its members only on its board, over its background.
      const ArtboardBoard& board = *record.board;
      const LayerRect members = MembersReach(node.members);
      node.reach =
          (board.background ? board.rect : members).Intersect(board.rect).Intersect(canvas);
    } else if (DrawsGroupEffects(node)) {
      node.reach =
          GrowRect(MembersReach(node.members), record.drawn_effects->reach).Intersect(canvas);
    } else if (node.group) {
      node.reach = MembersReach(node.members);
    } else if (DrawsFillEffects(record, document.colour_channels)) {
      node.reach =
          GrowRect(SettingsReach(record, canvas), record.drawn_effects->reach).Intersect(canvas);
    } else if (DrawsFromSettings(record, document.colour_channels)) {
      node.reach = SettingsReach(record, canvas);
    } else if (DrawsEffects(record, document.colour_channels)) {
      node.reach = GrowRect(record.rect, record.drawn_effects->reach).Intersect(canvas);
    } else if (HasColourChannel(record, document.colour_channels)) {
      node.reach = record.rect.Intersect(canvas);
    }
  }
}

bool AnyVisiblePixels(const LayeredDocument& document, const std::vector<LayerNode>& members) {
  const LayerRect canvas{0, 0, document.height, document.width};
  for (const LayerNode& node : members) {
    if (node.record->hidden) continue;
    if (node.group) {
      const ArtboardBoard* board = node.record->board ? &*node.record->board : nullptr;
      if (board && board->background && !board->rect.Intersect(canvas).Empty()) return true;
      if (AnyVisiblePixels(document, node.members)) return true;
      continue;
    }
    if ((node.record->adjustment.IsFill() || node.record->gradient_fill ||
         node.record->pattern_fill) &&
        DrawsFromSettings(*node.record, document.colour_channels)) {
      return true;
    }
    if (node.record->rect.Intersect(canvas).Empty()) continue;
    for (const LayerChannel& channel : node.record->channels) {
      if (channel.id >= 0 && channel.id < document.colour_channels && channel.length > 2) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

size_t LayerArea(const LayerRect& rect) {
  return static_cast<size_t>(rect.Width()) * static_cast<size_t>(rect.Height());
}

float LayerOpacity(const LayerRecord& record) {
  return record.opacity / 255.0f * (record.fill_opacity / 255.0f);
}

bool HasColourChannel(const LayerRecord& record, uint16_t colours) {
  return std::any_of(record.channels.begin(), record.channels.end(),
                     [colours](const LayerChannel& channel) {
                       return channel.id >= 0 && channel.id < static_cast<int16_t>(colours);
                     });
}

bool HasUserMask(const LayerRecord& record) {
  return (record.mask.present && !record.mask.disabled && record.Channel(UserMaskChannel)) ||
         (record.real_mask.present && !record.real_mask.disabled &&
          record.Channel(RealUserMaskChannel));
}

bool HasVectorMask(const LayerRecord& record) {
  return record.vector_mask.present && !record.vector_mask.disabled;
}

bool DrawsFromSettings(const LayerRecord& record, uint16_t colours) {
  const LayerAdjustment& adjustment = record.adjustment;
  if (adjustment.IsAdjustment()) return true;
  return (adjustment.IsFill() || record.gradient_fill || record.pattern_fill) &&
         (record.rect.Empty() || !HasColourChannel(record, colours));
}

bool DrawsSettingsStroke(const LayerRecord& record, uint16_t colours) {
  const bool fill = record.gradient_fill || record.pattern_fill || record.adjustment.IsFill();
  return fill && record.stroke && record.stroke->colour && record.stroke->normal &&
         record.vector_mask.present && DrawsFromSettings(record, colours);
}

bool HasKnockoutMember(const std::vector<LayerNode>& members) {
  return std::any_of(members.begin(), members.end(), [](const LayerNode& node) {
    return !node.group && node.record->knockout && !node.record->hidden;
  });
}

const LayerRecord* BackgroundLayer(const std::vector<LayerNode>& tree) {
  if (tree.empty() || tree.front().group) return nullptr;
  const LayerRecord& bottom = *tree.front().record;
  if (bottom.hidden || bottom.clipped || bottom.Channel(TransparencyChannel)) return nullptr;
  return &bottom;
}

bool DrawsEffects(const LayerRecord& record, uint16_t colours) {
  return record.drawn_effects && record.drawn_effects->Drawn() && !record.rect.Empty() &&
         HasColourChannel(record, colours) && !DrawsFromSettings(record, colours);
}

bool DrawsFillEffects(const LayerRecord& record, uint16_t colours) {
  const bool fill = record.adjustment.IsFill() || record.gradient_fill || record.pattern_fill;
  return fill && record.drawn_effects && record.drawn_effects->Drawn() &&
         DrawsFromSettings(record, colours);
}

bool DrawsGroupEffects(const LayerNode& node) {
  const LayerRecord& record = *node.record;
  return node.group && !record.board && record.drawn_effects && record.drawn_effects->Drawn();
}

bool ShowsShapeStroke(const LayerRecord& record, uint16_t colours) {
  return record.stroke && HasColourChannel(record, colours) && !DrawsFromSettings(record, colours);
}

LayerRect SettingsReach(const LayerRecord& record, const LayerRect& canvas) {
  const LayerMask& mask = record.mask;
  if (HasUserMask(record) && !record.real_mask.present && mask.default_colour == 0) {
    return mask.rect.Intersect(canvas);
  }
  return canvas;
}

LayerRect MembersReach(const std::vector<LayerNode>& members) {
  LayerRect reach;
  for (const LayerNode& member : members) reach = Span(reach, member.reach);
  return reach;
}

std::vector<LayerNode> BuildLayerTree(const LayeredDocument& document) {
  std::vector<std::vector<LayerNode>> open(1);
  size_t ignored = 0;  // group ends beyond the depth we draw, taken as plain layers
  for (const LayerRecord& record : document.layers) {
    switch (record.section) {
      case LayerSection::GroupEnd:
        if (open.size() > MaxGroupDepth) {
          ++ignored;
        } else {
          open.emplace_back();
        }
        continue;
      case LayerSection::OpenGroup:
      case LayerSection::ClosedGroup:
        if (ignored > 0) {
          --ignored;
        } else if (open.size() > 1) {
          LayerNode group{&record, true, std::move(open.back()), {}};
          open.pop_back();
          open.back().push_back(std::move(group));
          continue;
        }
        break;
      case LayerSection::None:
        break;
    }
    open.back().push_back(LayerNode{&record, false, {}, {}});
  }
  // Groups that never close give their members to the level around them.
  while (open.size() > 1) {
    std::vector<LayerNode> members = std::move(open.back());
    open.pop_back();
    for (LayerNode& member : members) open.back().push_back(std::move(member));
  }
  std::vector<LayerNode> tree = std::move(open.front());
  SetReach(tree, document, LayerRect{0, 0, document.height, document.width});
  return tree;
}

bool HasVisiblePixels(const LayeredDocument& document, const std::vector<LayerNode>& tree) {
  return AnyVisiblePixels(document, tree);
}

namespace {

uint64_t NodeFloats(const LayerNode& node, uint64_t stride, bool shape_wanted);

// Floats per pixel of a band that drawing `members` holds at once besides their target, at most:
// a layer's samples and masks, a group's buffer and mask, the shapes kept for clipped layers,
// and the same again for the members of each group on the way down.
uint64_t MembersFloats(const std::vector<LayerNode>& members, uint64_t stride) {
  uint64_t most = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    const bool clipped_above = i + 1 < members.size() && members[i + 1].record->clipped;
    // A clipped member draws while its base's shape is kept.
    const uint64_t kept = members[i].record->clipped ? 1 : 0;
    most = std::max(most, NodeFloats(members[i], stride, clipped_above) + kept);
  }
  return most;
}

uint64_t NodeFloats(const LayerNode& node, uint64_t stride, bool shape_wanted) {
  const LayerRecord& record = *node.record;
  const bool masked = HasUserMask(record) || HasVectorMask(record);
  // A vector mask holds its coverage in bytes, a plane of floats where its shapes combine one by
  // one, and the bytes of a shape's stroke: two floats a pixel cover them. A stroke drawn from
  // settings holds its coverage and the user's masks apart.
  const auto colours = static_cast<uint16_t>(stride - 1);
  const uint64_t own = (shape_wanted ? 1 : 0) + (HasUserMask(record) ? 1 : 0) +
                       (HasVectorMask(record) ? 2 : 0) +
                       (DrawsSettingsStroke(record, colours) ? 2 : 0);
  // Effects hold the band before the layer is faded in, the layer's part of it, one effect's
  // picture and coverages, a matte or a bevel's height, and two planes of distances in doubles.
  const bool effects =
      DrawsEffects(record, colours) || DrawsGroupEffects(node) || DrawsFillEffects(record, colours);
  if (!node.group) return own + stride + (effects ? 3 * stride + 10 : 0);
  if (effects) return own + stride + 3 * stride + 10 + MembersFloats(node.members, stride);
  // A pass-through group at full opacity draws its members straight onto its target.
  const bool direct = BlendModeFromKey(record.blend_key) == BlendMode::PassThrough &&
                      LayerOpacity(record) >= 1 && !masked && !record.clipped && !shape_wanted &&
                      !record.board && !HasKnockoutMember(node.members);
  return own + (direct ? 0 : stride) + MembersFloats(node.members, stride);
}

const LayerRect& ChannelSource(const LayerRecord& record, const LayerChannel& channel) {
  switch (channel.id) {
    case UserMaskChannel:
      return record.mask.rect;
    case RealUserMaskChannel:
      return record.real_mask.rect;
    default:
      return record.rect;
  }
}

// Bytes ZIP data inflates to, band by band: each band inflates the channel from its first row
// down to the band's last.
uint64_t InflatedBytes(std::span<const uint8_t> file, const LayeredDocument& document,
                       const LayerRecord& record, const LayerChannel& channel, int64_t rows) {
  if (channel.length < 2 || file.size() < 2 || channel.offset > file.size() - 2) return 0;
  const unsigned compression = BigEndian16(file.data() + channel.offset);
  if (compression != 2 && compression != 3) return 0;
  const LayerRect& source = ChannelSource(record, channel);
  const LayerRect canvas{0, 0, document.height, document.width};
  const LayerRect region = source.Intersect(canvas);
  if (region.Empty()) return 0;
  const auto row_bytes = static_cast<uint64_t>(source.Width()) * document.depth / 8;
  uint64_t bytes = 0;
  for (int64_t band = region.top / rows * rows; band < region.bottom; band += rows) {
    const int64_t last = std::min(region.bottom, band + rows);
    bytes += static_cast<uint64_t>(last - source.top) * row_bytes;
  }
  return bytes;
}

// Samples decoded and drawn, group buffers filled and blended, and bytes inflated for `members`.
uint64_t MembersWork(std::span<const uint8_t> file, const LayeredDocument& document,
                     const std::vector<LayerNode>& members, uint64_t stride, int64_t rows) {
  const LayerRect canvas{0, 0, document.height, document.width};
  uint64_t work = 0;
  for (const LayerNode& node : members) {
    const LayerRecord& record = *node.record;
    if (record.hidden) continue;
    if (node.group) {
      const uint64_t members = MembersWork(file, document, node.members, stride, rows);
      work += members +
              LayerArea(record.board ? node.reach : MembersReach(node.members)) * (2 * stride + 2);
      if (DrawsGroupEffects(node)) {
        // As a layer's effects (below), over the group's content, whose members each band draws
        // again over the reach above and below it.
        const int64_t reach = record.drawn_effects->reach;
        const auto band = static_cast<uint64_t>(std::max<int64_t>(rows, 1));
        const auto bands = static_cast<uint64_t>(rows + 2 * reach) / band;
        work += LayerArea(node.reach) * std::max<uint64_t>(bands, 1) *
                    record.drawn_effects->effects.size() * (3 * stride + 8) +
                members * static_cast<uint64_t>(2 * reach) / band;
      }
      continue;
    }
    if (DrawsFromSettings(record, document.colour_channels)) {
      work += LayerArea(SettingsReach(record, canvas)) * (2 * stride + 2);
      if (DrawsFillEffects(record, document.colour_channels)) {
        work += LayerArea(node.reach) * record.drawn_effects->effects.size() * (3 * stride + 8);
      }
      continue;
    }
    if (!HasColourChannel(record, document.colour_channels)) continue;
    const LayerRect region = record.rect.Intersect(canvas);
    if (region.Empty()) continue;
    work += LayerArea(region) * (2 * stride + 2);
    if (DrawsEffects(record, document.colour_channels)) {
      // Each effect makes a matte and a picture over the layer grown by the reach, and blends it;
      // each band reads the reach above and below it again.
      const int64_t reach = record.drawn_effects->reach;
      const LayerRect grown = GrowRect(record.rect, reach).Intersect(canvas);
      const auto bands = static_cast<uint64_t>((rows + 2 * reach) / std::max<int64_t>(rows, 1));
      work += LayerArea(grown) * std::max<uint64_t>(bands, 1) *
              record.drawn_effects->effects.size() * (3 * stride + 8);
    }
    for (const LayerChannel& channel : record.channels) {
      work += InflatedBytes(file, document, record, channel, rows);
    }
  }
  return work;
}

// What the visible layers among `members` hold that the compositor does not draw. A knockout is
// drawn on pixel layers without effects.
uint64_t MembersLeftOut(const std::vector<LayerNode>& members, uint16_t colours) {
  uint64_t left_out = 0;
  for (const LayerNode& node : members) {
    const LayerRecord& record = *node.record;
    if (record.hidden) continue;
    if (node.group) left_out |= MembersLeftOut(node.members, colours);
    if (record.knockout && !node.group &&
        (DrawsEffects(record, colours) || DrawsFromSettings(record, colours))) {
      left_out |= LeftOutKnockouts;
    }
    const bool stored_pixels = !record.rect.Empty() && HasColourChannel(record, colours);
    // Effects are drawn on pixel layers, groups and fills; those of artboards and adjustments,
    // and the kinds we do not draw, are left out.
    const bool undrawn =
        record.drawn_effects && record.drawn_effects->Drawn() &&
        (node.group ? !DrawsGroupEffects(node)
                    : DrawsFromSettings(record, colours) && !DrawsFillEffects(record, colours));
    if (record.effects && (!record.drawn_effects || record.drawn_effects->left_out || undrawn)) {
      left_out |= LeftOutEffects;
    }
    if (record.artboard && (!node.group || !record.board)) left_out |= LeftOutArtboards;
    // Ranges are drawn on pixel layers without effects.
    if (record.blend_if &&
        (node.group || DrawsFromSettings(record, colours) || DrawsEffects(record, colours))) {
      left_out |= LeftOutBlendIf;
    }
    if (record.smart_object && !stored_pixels) left_out |= LeftOutSmartObjects;
    // A shape drawn from its settings stores no pixels of its stroke: it is stroked here when
    // its paint is a colour that blends normally.
    if (record.shape_stroke && !ShowsShapeStroke(record, colours) &&
        !DrawsSettingsStroke(record, colours)) {
      left_out |= LeftOutShapeStrokes;
    }
    if (record.adjustment.kind == AdjustmentKind::Unsupported) {
      const uint32_t key = record.adjustment.key;
      const bool fill = key == FourCc("GdFl") || key == FourCc("PtFl") || key == FourCc("SoCo");
      if (!fill) {
        left_out |= LeftOutAdjustments;
      } else if (!stored_pixels) {
        left_out |= LeftOutFills;
      }
    }
  }
  return left_out;
}

}  // namespace

CompositePlan PlanComposite(std::span<const uint8_t> file, const LayeredDocument& document,
                            const std::vector<LayerNode>& tree, int64_t band_rows) {
  CompositePlan plan;
  const uint64_t stride = document.colour_channels + 1u;
  const uint64_t width = document.width;
  const uint64_t pixels = width * document.height;
  plan.band_rows = document.height;
  if (band_rows > 0) {
    plan.band_rows = std::min<int64_t>(band_rows, document.height);
  } else {
    // The decoder's address space holds the canvas, two more canvases and some slack for them.
    // Knockouts at the top level keep the background layer drawn alone beside the band.
    const bool background = HasKnockoutMember(tree) && BackgroundLayer(tree);
    const uint64_t need = (MembersFloats(tree, stride) + (background ? stride : 0)) * sizeof(float);
    const uint64_t room = 2 * stride * sizeof(float) * pixels + CompositeSlackBytes;
    if (need * pixels > room) {
      plan.band_rows = static_cast<int64_t>(std::max<uint64_t>(1, room / (need * width)));
    }
  }
  plan.band_rows = std::max<int64_t>(plan.band_rows, 1);
  // Then the composite is turned into the output, a pass or two over the canvas.
  plan.work = MembersWork(file, document, tree, stride, plan.band_rows) + pixels * 2 * stride;
  plan.left_out = MembersLeftOut(tree, document.colour_channels);
  return plan;
}
