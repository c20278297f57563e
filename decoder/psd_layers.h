#pragma once

// Our reader of a Photoshop document's layer and mask section. It runs only in the decoder
// process: the records are untrusted, so every length is checked against the section it lies in,
// every count against a named bound, and all arithmetic is 64-bit.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decoder/adjustments.h"
#include "decoder/blend_if.h"
#include "decoder/descriptor.h"
#include "decoder/patterns.h"
#include "engine/psd/psd_header.h"

/// Bounds of what we agree to read.
constexpr uint32_t MaxLayerRecords = 20000;
constexpr uint16_t MaxLayerChannels = 56;
/// A layer or mask rectangle may lie partly or wholly outside the canvas, but no side may be
/// longer than this.
constexpr int64_t MaxLayerSide = 300000;

/// A rectangle in canvas coordinates; right and bottom are exclusive.
struct LayerRect {
  int64_t top = 0;
  int64_t left = 0;
  int64_t bottom = 0;
  int64_t right = 0;

  int64_t Width() const { return right - left; }
  int64_t Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  /// The overlap with `other`; empty (all zero) when there is none.
  LayerRect Intersect(const LayerRect& other) const;
};

struct Gradient;
struct LayerEffects;

/// An artboard's board: the rectangle its members are seen through, and its background beneath
/// them (none when transparent).
struct ArtboardBoard {
  LayerRect rect;
  std::optional<std::array<float, 4>> background;  // the document's channels, as stored
};

/// Channel ids of the records.
constexpr int16_t TransparencyChannel = -1;
constexpr int16_t UserMaskChannel = -2;
constexpr int16_t RealUserMaskChannel = -3;

struct LayerChannel {
  int16_t id = 0;
  uint64_t offset = 0;  // of its two-byte compression field, in the file
  uint64_t length = 0;  // compression field included
  /// In an indexed document, the layer's palette indices (channel 0), which the red, green and
  /// blue channels are looked up from, and which clear the transparency where they name the
  /// transparent index. A transparency channel without data of its own (length 0) is that alone.
  bool from_palette = false;
  uint64_t index_offset = 0;
  uint64_t index_length = 0;
};

/// A layer mask: its own rectangle, the value outside it, and whether it is switched off.
struct LayerMask {
  bool present = false;
  LayerRect rect;
  uint8_t default_colour = 0;
  bool disabled = false;
  /// The mask is a rendering of other data (the vector mask) rather than the user's own.
  bool rendered = false;
};

/// A vector mask ("vmsk" or "vsms" block): where its path records lie in the file, and its flags.
struct LayerVectorMask {
  bool present = false;
  bool inverted = false;
  bool disabled = false;
  uint64_t offset = 0;  // first 26-byte path record
  uint64_t length = 0;
};

enum class LayerSection : uint8_t { None, OpenGroup, ClosedGroup, GroupEnd };

/// Four-character codes as stored, big-endian, e.g. 'norm'.
constexpr uint32_t FourCc(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

/// A shape layer's stroke along its path ("vstk"): where it lies, and what it is painted with. A
/// shape with stored pixels holds its fill and stroke drawn together; one drawn from its settings
/// is stroked here.
struct ShapeStroke {
  enum class Alignment : uint8_t { Inside, Centre, Outside };
  enum class Cap : uint8_t { Butt, Round, Square };
  enum class Join : uint8_t { Miter, Round, Bevel };
  double width = 1;  // pixels
  Alignment alignment = Alignment::Centre;
  Cap cap = Cap::Butt;
  Join join = Join::Miter;
  double miter_limit = 4;      // as a multiple of the width
  std::vector<double> dashes;  // on, off, ... in pixels; none for a solid line
  double dash_offset = 0;      // pixels
  /// The paint: a colour in the document's channels when it is one (gradients and patterns are
  /// not drawn), its opacity, whether it blends normally (other modes are not drawn), and whether
  /// the shape's own fill shows too.
  std::optional<std::array<float, 4>> colour;
  float opacity = 1;
  bool normal = true;
  bool fill_enabled = true;
};

struct LayerRecord {
  LayerRect rect;
  std::vector<LayerChannel> channels;
  uint32_t blend_key = FourCc("norm");
  uint8_t opacity = 255;
  uint8_t fill_opacity = 255;  // "iOpa"
  bool clipped = false;        // clipped to the nearest unclipped layer below
  bool hidden = false;
  LayerMask mask;       // channel -2
  LayerMask real_mask;  // channel -3, present when the layer has a vector mask too
  LayerVectorMask vector_mask;
  LayerSection section = LayerSection::None;
  /// Layer effects ("lfx2", else "lrFX"), with the master switch on and one of them enabled.
  bool effects = false;
  /// The effects' descriptor: "lfx2"'s, or the old "lrFX" block's put as one.
  std::shared_ptr<const Descriptor> effects_settings;
  bool effects_from_descriptor = false;  // they came from "lfx2"
  /// Interior effects blend with the layer's pixels before its mode and fill opacity ("infx").
  bool interior_as_group = false;
  /// The effects we draw of them, with the master switch and each effect's own honoured.
  std::shared_ptr<const LayerEffects> drawn_effects;
  /// A gradient fill layer's gradient ("GdFl"), when it is one we draw.
  std::shared_ptr<const Gradient> gradient_fill;
  /// A pattern fill layer's pattern ("PtFl"), when the document holds one we draw.
  std::shared_ptr<const PatternPlacement> pattern_fill;
  /// A smart object (placed or embedded document): its stored pixels are its picture.
  bool smart_object = false;
  /// "Blend if" ranges other than the whole range.
  bool blend_if = false;
  BlendIfRanges blend_ranges;
  /// The layer knocks out what lies beneath it in its group ("knko"), as far as its opacity
  /// reaches, and shows there with its fill opacity.
  bool knockout = false;
  /// A shape layer's stroke along its path is on ("vstk"); `stroke` when we could read it.
  bool shape_stroke = false;
  std::shared_ptr<const ShapeStroke> stroke;
  /// The group is an artboard.
  bool artboard = false;
  /// Its board, when its settings could be read.
  std::optional<ArtboardBoard> board;
  /// What an adjustment or fill layer draws instead of (or, for a fill, without) pixels.
  LayerAdjustment adjustment;
  /// The name in UTF-8: the Unicode name where the record has one, else its Pascal name.
  std::string name;

  /// The channel with `id`; nullptr when the layer has none.
  const LayerChannel* Channel(int16_t id) const;
};

/// The header of a document and its layers, bottom first, as the file lists them.
struct LayeredDocument : PsdHeader {
  /// Channels composited: an indexed document's layers are expanded through its palette to RGB.
  uint16_t colour_channels = 3;
  /// An indexed document's palette (red, green, blue of each entry) and its transparent entry.
  std::vector<std::array<uint8_t, 3>> palette;
  std::optional<uint16_t> transparent_index;
  /// The angle of the document's light (degrees), which effects use unless they have their own.
  double global_angle = 120;
  /// The patterns the document keeps, for pattern fills and overlays.
  std::vector<DocumentPattern> patterns;

  /// The pattern `id` when it is one we draw; nullptr otherwise.
  const DocumentPattern* DrawablePattern(const std::string& id) const;
  std::vector<LayerRecord> layers;
};

/// Reads the header and the layer records of the whole file `file`; std::nullopt when a length,
/// count or rectangle breaks the file or the bounds above, or the mode is not one we rebuild
/// (RGB, greyscale, CMYK and Lab to 16 bits, 8-bit indexed with its palette).
std::optional<LayeredDocument> ReadLayeredDocument(std::span<const uint8_t> file);

/// Decodes the samples of `channel`, whose data covers `source`, that fall in `region`, as floats
/// (8- and 16-bit scaled to 0..1, 32-bit as stored) into `out`, which holds `region` row by row,
/// one sample every `stride` floats; places of `region` outside `source` are left alone. Handles
/// raw, RLE, ZIP and ZIP with prediction; a channel `from_palette` gives the palette's colours or
/// the transparent index's holes instead, where `region` lies within `source`. False when the data
/// is damaged or shorter than `source` needs.
bool DecodeLayerChannel(std::span<const uint8_t> file, const LayeredDocument& document,
                        const LayerChannel& channel, const LayerRect& source,
                        const LayerRect& region, float* out, size_t stride = 1);
