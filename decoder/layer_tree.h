#pragma once

// The tree a document's flat list of layer records stands for, what each node can reach on the
// canvas, and the plan of a composite: in how many bands of rows it is drawn and how much work it
// asks for.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "decoder/psd_layers.h"

/// Groups nested deeper than this are not drawn: their records are taken as plain layers, and
/// a group end beyond it fails the composite.
constexpr size_t MaxGroupDepth = 16;

/// A group, or a layer when it has no members.
struct LayerNode {
  const LayerRecord* record = nullptr;
  bool group = false;
  std::vector<LayerNode> members;  // bottom first
  /// Where drawing it can change the canvas: a layer's rectangle when it has colour channels, the
  /// span of a group's members; empty when it draws nothing (hidden, no opacity, no pixels).
  LayerRect reach;
};

/// The tree of `document`'s records, with each node's reach; unbalanced group markers are taken
/// as best they can be.
std::vector<LayerNode> BuildLayerTree(const LayeredDocument& document);

/// True when some layer that would be drawn has colour pixels on the canvas.
bool HasVisiblePixels(const LayeredDocument& document, const std::vector<LayerNode>& tree);

/// The span of what `members` reach, whatever their group's own opacity.
LayerRect MembersReach(const std::vector<LayerNode>& members);

/// Pixels of `rect`.
size_t LayerArea(const LayerRect& rect);

/// Opacity times fill opacity, 0..1.
float LayerOpacity(const LayerRecord& record);

/// True when `record` has a channel of one of the first `colours` colours; one without has no
/// pixels.
bool HasColourChannel(const LayerRecord& record, uint16_t colours);

/// True when an enabled user mask (or real user mask) of `record` stores its channel: a record may
/// describe a mask it does not store.
bool HasUserMask(const LayerRecord& record);

/// True when `record` has an enabled vector mask.
bool HasVectorMask(const LayerRecord& record);

/// True when `record` is drawn from its settings rather than stored pixels: an adjustment we
/// draw, or a fill we draw that stores no pixels of its own.
bool DrawsFromSettings(const LayerRecord& record, uint16_t colours);

/// True when a fill drawn from its settings has a shape stroke that we draw: a colour blended
/// normally along its vector mask's path.
bool DrawsSettingsStroke(const LayerRecord& record, uint16_t colours);

/// True when a visible layer among `members` (not within their groups) knocks out what lies
/// beneath it in their group.
bool HasKnockoutMember(const std::vector<LayerNode>& members);

/// The document's background layer, which the knockouts of the top level reveal: the bottom one
/// of the top level when it is a visible pixel layer without a transparency channel, as
/// Photoshop stores its background; nullptr otherwise.
const LayerRecord* BackgroundLayer(const std::vector<LayerNode>& tree);

/// True when `record` is a pixel layer with effects we draw.
bool DrawsEffects(const LayerRecord& record, uint16_t colours);

/// True when `record` is a fill layer drawn from its settings with effects we draw.
bool DrawsFillEffects(const LayerRecord& record, uint16_t colours);

/// True when `node` is a group, not an artboard, with effects we draw.
bool DrawsGroupEffects(const LayerNode& node);

/// True when `record` is a shape whose stroke its stored pixels hold, which its path's mask then
/// leaves showing.
bool ShowsShapeStroke(const LayerRecord& record, uint16_t colours);

/// Where a layer drawn from its settings can change `canvas`: all of it, or its user mask's
/// rectangle when the mask hides everything outside.
LayerRect SettingsReach(const LayerRecord& record, const LayerRect& canvas);

/// How a composite is drawn, and what that costs.
struct CompositePlan {
  int64_t band_rows = 0;  // rows drawn through the whole tree at once
  /// Samples decoded (inflated bytes for ZIP data), drawn, copied and converted in all bands: the
  /// measure of the time the rebuild may take.
  uint64_t work = 0;
  /// What the visible layers hold that is not drawn (LeftOut bits of
  /// engine/isolation/decoder_protocol.h).
  uint64_t left_out = 0;
};

/// Rebuilds have the canvas in floats, two more canvases and this much of the decoder's base
/// address space for their buffers.
constexpr uint64_t CompositeSlackBytes = 256ull << 20;

/// The plan for `tree` of `document` (read from `file`): all rows at once when the buffers its
/// deepest nesting holds fit beside the canvas in what a rebuild is given, else bands of rows that
/// fit; `band_rows` > 0 sets the band height instead.
CompositePlan PlanComposite(std::span<const uint8_t> file, const LayeredDocument& document,
                            const std::vector<LayerNode>& tree, int64_t band_rows = 0);
