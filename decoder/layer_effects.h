#pragma once

// Layer effects: what an "lfx2" descriptor asks for, and the pictures each effect adds around or
// over a layer. The compositor blends those pictures in the stacking order: drop shadow and outer
// glow below the layer; then over its interior the pattern, gradient and colour overlays, satin,
// inner glow and inner shadow; the stroke, and a bevel on top. Work is bounded by the layer's
// pixels grown by the effects' reach, never by the canvas.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "decoder/blend_modes.h"
#include "decoder/compositor.h"
#include "decoder/descriptor.h"
#include "decoder/gradient.h"
#include "decoder/patterns.h"
#include "decoder/psd_layers.h"

enum class EffectKind : uint8_t {
  DropShadow,
  OuterGlow,
  PatternOverlay,
  GradientOverlay,
  ColourOverlay,
  Satin,
  InnerGlow,
  InnerShadow,
  Stroke,
  Bevel,
};

enum class StrokePosition : uint8_t { Outside, Inside, Centre };

/// Where a bevel's slope lies: inside the edge, outside it, across it, or down into the edge
/// from both sides (a pillow emboss).
enum class BevelStyle : uint8_t { Inner, Outer, Emboss, Pillow };

struct LayerEffect {
  EffectKind kind = EffectKind::ColourOverlay;
  BlendMode mode = BlendMode::Normal;
  float opacity = 1;
  std::array<float, 4> colour{};  // the document's own channels, as stored
  double size = 0;                // blur size or stroke width, pixels
  double spread = 0;              // spread or choke, 0..1 of the size
  int64_t offset_x = 0;           // shadows: the displacement from the light's angle and distance
  int64_t offset_y = 0;
  bool knockout = true;      // a drop shadow hidden under the layer where its fill is see-through
  bool from_centre = false;  // an inner glow from the centre rather than the edge
  bool invert = false;       // a satin's inverse
  /// A bevel: the highlight takes `colour`, `mode` and `opacity`, the shadow these; the light
  /// shines from `light_angle` degrees at `altitude` degrees over the layer.
  std::array<float, 4> shadow_colour{};
  BlendMode shadow_mode = BlendMode::Multiply;
  float shadow_opacity = 0;
  BevelStyle style = BevelStyle::Inner;
  double light_angle = 120;
  double altitude = 30;
  double depth = 1;  // how steep the slope is, 1 for 45 degrees
  bool down = false;
  double range = 1;  // a glow's range: the part of its matte the contour stretches over
  /// Shadows', glows' and a satin's contour: the matte's levels through this table (256 levels,
  /// CurveTable's); empty for the linear one.
  std::vector<float> contour;
  StrokePosition position = StrokePosition::Outside;
  /// A gradient overlay's or gradient stroke's gradient.
  std::shared_ptr<const Gradient> gradient;
  /// A pattern overlay's or pattern stroke's pattern.
  std::shared_ptr<const PatternPlacement> pattern;
};

struct LayerEffects {
  std::vector<LayerEffect> effects;  // in drawing order, bottom first
  /// Enabled effects that are not drawn (pillow emboss, bevel textures, patterns the document
  /// does not hold, contours that cannot be read).
  bool left_out = false;
  /// How far beyond the layer's pixels the effects draw, and read the layer's pixels.
  int64_t reach = 0;

  bool Drawn() const { return !effects.empty(); }
};

/// The effects of an "lfx2" descriptor for a document of colour mode `mode`, whose global light
/// comes from `global_angle` degrees; none when the master switch is off.
/// `drawable_pattern` says whether the document holds a pattern of an id that we draw.
LayerEffects ReadLayerEffects(const Descriptor& settings, uint16_t mode, double global_angle,
                              const std::function<bool(const std::string&)>& drawable_pattern);

/// The effects of Photoshop 5's "lrFX" block (shadows, glows, bevel and, from version 7, a colour
/// fill) as the "lfx2" descriptor of the same effects would hold them, for ReadLayerEffects;
/// std::nullopt when the block is cut short or holds an effect of an unknown kind.
std::optional<Descriptor> ReadOldEffects(std::span<const uint8_t> block);

/// `rect` grown by `by` on every side.
LayerRect GrowRect(const LayerRect& rect, int64_t by);

/// Where a layer is and how much of it covers: its alpha over `region`, one value every
/// `stride` floats; nothing covers outside `region`.
struct EffectSource {
  LayerRect region;
  const float* alpha = nullptr;
  size_t stride = 1;
  /// The box a gradient aligned with the layer spans.
  LayerRect box;
  /// The canvas, which a gradient not aligned with the layer spans.
  LayerRect canvas;
  /// The layer's fill opacity, 0..1.
  float fill_opacity = 1;
  /// The pixels of the document's pattern `id`; nullptr when it cannot be had.
  std::function<const PatternTile*(const std::string& id)> pattern;
};

/// Receives one effect's picture (colour, and its coverage as alpha) with the blend mode and
/// opacity it is drawn with; false stops the drawing.
using EffectSink = std::function<bool(LayerPixels& picture, BlendMode mode, float opacity)>;

/// Where effects lie: below the layer (shadow, outer glow), over its interior (overlays, satin,
/// inner glow and shadow), or on top (stroke, bevel).
enum class EffectStage : uint8_t { Below, Interior, Top };

/// When an effect of `kind` is drawn: below the layer, over its interior, or on top.
EffectStage StageOf(EffectKind kind);

/// Makes the pictures over `region` of the effects of `effects` at `stage`, bottom first, and
/// hands each to `sink`; `colours` channels. False when the sink says so.
bool DrawEffects(const LayerEffects& effects, EffectStage stage, const EffectSource& source,
                 const LayerRect& region, int colours, const EffectSink& sink);
