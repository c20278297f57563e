#include "decoder/compositor.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <list>
#include <new>
#include <string>
#include <utility>

#include "decoder/blend_modes.h"
#include "decoder/gradient.h"
#include "decoder/layer_effects.h"
#include "decoder/vector_mask.h"

namespace {

// Where a layer or group covers: its alpha before opacity, which layers clipped to it take on.
struct Shape {
  LayerRect region;
  std::vector<float> values;

  float At(int64_t x, int64_t y) const {
    if (y < region.top || y >= region.bottom || x < region.left || x >= region.right) return 0;
    return values[static_cast<size_t>((y - region.top) * region.Width() + (x - region.left))];
  }
};

// A picture in work over `region`, in memory someone else owns: the canvas, a band of it, a
// group's buffer or the layer in work.
struct Pixels {
  LayerRect region;
  int colours = 3;
  float* samples = nullptr;

  int Stride() const { return colours + 1; }
  float* At(int64_t x, int64_t y) const {
    return samples + ((y - region.top) * region.Width() + (x - region.left)) * Stride();
  }
};

struct Context {
  Context(std::span<const uint8_t> file, const LayeredDocument& document)
      : file(file), document(document) {}

  std::span<const uint8_t> file;
  const LayeredDocument& document;
  // Scratch memory used again by every layer, and a buffer per nesting depth used again by every
  // group at that depth: fresh pages cost a fault each, which on a 12-megapixel layer is most of
  // the work.
  FloatBuffer layer;
  std::vector<float> mask;
  std::array<FloatBuffer, MaxGroupDepth> groups;
  // A layer with effects: its own part of the band, and the band before it is faded in.
  FloatBuffer effect_layer;
  FloatBuffer effect_target;
  // Whether a knockout among the members in work is drawn, and what it reveals: `backdrop`'s
  // picture (what lay beneath a pass-through group, or the background layer) or, without one,
  // transparency (an isolated group's bottom, or a canvas without a background layer).
  bool knockout_to_clear = false;
  const Pixels* knockout_backdrop = nullptr;
  // The background layer alone over the band, for the knockouts of the top level.
  FloatBuffer background;
  // The document's patterns decoded so far (none when they cannot be), by id.
  std::list<std::pair<std::string, std::optional<PatternTile>>> patterns;
};

// The pixels of the document's pattern `id`, decoded once; nullptr when it cannot be drawn.
const PatternTile* PatternPixels(Context& context, const std::string& id) {
  for (const auto& [name, tile] : context.patterns) {
    if (name == id) return tile ? &*tile : nullptr;
  }
  const DocumentPattern* pattern = context.document.DrawablePattern(id);
  auto& [name, tile] = context.patterns.emplace_back(id, std::nullopt);
  if (pattern) {
    tile = DecodePattern(context.file, *pattern, context.document.mode,
                         context.document.colour_channels);
  }
  return tile ? &*tile : nullptr;
}

// The layer's mask over `region` (1 where it lets everything through) multiplied into `alpha`,
// one value every `stride` floats.
bool ApplyMask(Context& context, const LayerRecord& record, const LayerMask& mask, int16_t id,
               const LayerRect& region, float* alpha, size_t stride) {
  const LayerChannel* channel = record.Channel(id);
  if (!mask.present || mask.disabled || !channel) return true;
  std::vector<float>& values = context.mask;
  values.assign(LayerArea(region), mask.default_colour / 255.0f);
  if (!DecodeLayerChannel(context.file, context.document, *channel, mask.rect, region,
                          values.data())) {
    return false;
  }
  for (size_t i = 0; i < values.size(); ++i) alpha[i * stride] *= std::clamp(values[i], 0.0f, 1.0f);
  return true;
}

// The user's own mask of a layer whose path is drawn: the real one when both are stored; a mask
// channel that only renders the path gives way.
bool ApplyUserMask(Context& context, const LayerRecord& record, const LayerRect& region,
                   float* alpha, size_t stride) {
  if (record.real_mask.present) {
    return ApplyMask(context, record, record.real_mask, RealUserMaskChannel, region, alpha, stride);
  }
  if (record.mask.rendered) return true;
  return ApplyMask(context, record, record.mask, UserMaskChannel, region, alpha, stride);
}

bool ApplyMasks(Context& context, const LayerRecord& record, const LayerRect& region, float* alpha,
                size_t stride) {
  const ShapeStroke* stroke =
      ShowsShapeStroke(record, context.document.colour_channels) ? record.stroke.get() : nullptr;
  if (record.vector_mask.present &&
      ApplyVectorMask(context.file, context.document, record.vector_mask, region, alpha, stride,
                      stroke)) {
    return ApplyUserMask(context, record, region, alpha, stride);
  }
  // Without the path, the stored channels are all there is: with a vector mask too, the user's
  // own mask is the "real" one and the plain mask channel holds the vector mask drawn as pixels.
  if (record.real_mask.present &&
      !ApplyMask(context, record, record.real_mask, RealUserMaskChannel, region, alpha, stride)) {
    return false;
  }
  return ApplyMask(context, record, record.mask, UserMaskChannel, region, alpha, stride);
}

// Source-over with blending, W3C: cs' = (1 - ab) cs + ab B(cb, cs), then
// co = as cs' + (1 - as) ab cb and ao = as + ab (1 - as), colour kept straight.
void BlendOnto(const Pixels& source, const Pixels& target, BlendMode mode, float opacity,
               const Shape* clip) {
  const int colours = target.colours;
  const int stride = target.Stride();
  const bool separable = IsSeparable(mode);
  const LayerRect& region = source.region;
  const float* from = source.samples;
  for (int64_t y = region.top; y < region.bottom; ++y) {
    float* to = target.At(region.left, y);
    for (int64_t x = region.left; x < region.right; ++x, from += stride, to += stride) {
      float as = std::clamp(from[colours], 0.0f, 1.0f) * opacity;
      if (clip) as *= clip->At(x, y);
      if (as <= 0) continue;
      const float ab = to[colours];
      if (mode == BlendMode::Normal) {
        // Most pixels of most layers: the source covers, or the backdrop is opaque.
        if (as >= 1) {
          std::copy(from, from + colours, to);
          to[colours] = 1;
          continue;
        }
        if (ab >= 1) {
          for (int c = 0; c < colours; ++c) to[c] += as * (from[c] - to[c]);
          continue;
        }
      }
      const float ao = as + ab * (1 - as);
      float mixed[4];
      if (mode == BlendMode::Normal || ab <= 0) {
        std::copy(from, from + colours, mixed);
      } else {
        if (separable) {
          for (int c = 0; c < colours; ++c) mixed[c] = BlendChannel(mode, to[c], from[c]);
        } else {
          BlendColour(mode, to, from, mixed, colours);
        }
        for (int c = 0; c < colours; ++c) mixed[c] = (1 - ab) * from[c] + ab * mixed[c];
      }
      for (int c = 0; c < colours; ++c) to[c] = (as * mixed[c] + (1 - as) * ab * to[c]) / ao;
      to[colours] = ao;
    }
  }
}

// The layer scratch picture over `region`, used again by every layer; its samples are left as
// they were.
Pixels LayerScratch(Context& context, const LayerRect& region, int colours) {
  context.layer.Resize(LayerArea(region) * static_cast<size_t>(colours + 1));
  return Pixels{region, colours, context.layer.data()};
}

// Decodes sample `c` of `record`'s pixels (its transparency for c == colours) into every pixel of
// `layer`, whose region its rectangle covers: an absent colour is 0, an absent transparency 1.
bool DecodeSamples(Context& context, const LayerRecord& record, const Pixels& layer, int c) {
  const int colours = layer.colours;
  const auto stride = static_cast<size_t>(layer.Stride());
  const int16_t id = c == colours ? TransparencyChannel : static_cast<int16_t>(c);
  const LayerChannel* channel = record.Channel(id);
  if (!channel) {
    const float absent = c == colours ? 1.0f : 0.0f;
    const size_t area = LayerArea(layer.region);
    for (size_t i = 0; i < area; ++i) layer.samples[i * stride + c] = absent;
    return true;
  }
  return DecodeLayerChannel(context.file, context.document, *channel, record.rect, layer.region,
                            layer.samples + c, stride);
}

bool AnyAboveZero(const float* values, size_t count, size_t stride) {
  for (size_t i = 0; i < count; ++i) {
    if (values[i * stride] > 0) return true;
  }
  return false;
}

bool DrawLayerWithEffects(Context& context, const LayerRecord& record, const Pixels& target,
                          const Shape* clip, Shape* shape);

// Draws one pixel layer; `shape`, when given, receives where it covers for the layers clipped
// to it. Its transparency and masks come first: where nothing shows, its colours are never
// decoded.
bool DrawLayer(Context& context, const LayerRecord& record, const Pixels& target, const Shape* clip,
               Shape* shape) {
  const int colours = target.colours;
  if (DrawsEffects(record, static_cast<uint16_t>(colours))) {
    return DrawLayerWithEffects(context, record, target, clip, shape);
  }
  const LayerRect region = HasColourChannel(record, static_cast<uint16_t>(colours))
                               ? record.rect.Intersect(target.region)
                               : LayerRect{};
  if (shape) *shape = Shape{region, {}};
  if (region.Empty()) return true;
  const size_t area = LayerArea(region);
  const auto stride = static_cast<size_t>(target.Stride());
  // The layer's samples go straight into the scratch picture: its rectangle covers the region, so
  // every sample of a stored channel is written.
  const Pixels layer = LayerScratch(context, region, colours);
  const auto decode = [&](int c) { return DecodeSamples(context, record, layer, c); };
  float* alpha = layer.samples + colours;
  if (!decode(colours) || !ApplyMasks(context, record, region, alpha, stride)) return false;
  if (shape) {
    shape->values.resize(area);
    for (size_t i = 0; i < area; ++i) shape->values[i] = alpha[i * stride];
  }
  const float opacity = LayerOpacity(record);
  // A knockout clears as far as its opacity reaches, whatever its fill.
  const bool knockout = record.knockout && context.knockout_to_clear;
  const float reach = knockout ? record.opacity / 255.0f : opacity;
  if (reach <= 0 || !AnyAboveZero(alpha, area, stride)) return true;
  for (int c = 0; c < colours; ++c) {
    if (!decode(c)) return false;
  }
  if (record.blend_if) {
    // Where its own colour or the colour beneath lies outside its ranges, the layer fades out.
    float* pixel = layer.samples;
    for (int64_t y = region.top; y < region.bottom; ++y) {
      const float* below = target.At(region.left, y);
      for (int64_t x = region.left; x < region.right; ++x, pixel += stride, below += stride) {
        pixel[colours] *= BlendIfWeight(record.blend_ranges, pixel, below, colours);
      }
    }
  }
  if (knockout) {
    // The layer's shape, at its opacity, shows what the knockout reveals in place of what lies
    // beneath it; its fill then draws there.
    const float* from = layer.samples;
    const Pixels* backdrop = context.knockout_backdrop;
    for (int64_t y = region.top; y < region.bottom; ++y) {
      float* to = target.At(region.left, y);
      const float* under = backdrop ? backdrop->At(region.left, y) : nullptr;
      for (int64_t x = region.left; x < region.right; ++x, from += stride, to += stride) {
        float amount = std::clamp(from[colours], 0.0f, 1.0f) * reach;
        if (clip) amount *= clip->At(x, y);
        const float kept = to[colours] * (1 - amount);
        if (under) {
          const float shown = under[colours] * amount;
          if (kept + shown > 0) {
            for (int c = 0; c < colours; ++c) {
              to[c] = (to[c] * kept + under[c] * shown) / (kept + shown);
            }
          }
          to[colours] = kept + shown;
          under += stride;
        } else {
          to[colours] = kept;
        }
      }
    }
  }
  BlendOnto(layer, target, BlendModeFromKey(record.blend_key), opacity, clip);
  return true;
}

// Fades `after` (a copy of `before` over its region, drawn on) back towards `before` by `opacity`
// times `mask` (when given, one value a pixel of the region) and `clip`, in premultiplied colour.
void FadeInto(const Pixels& after, const Pixels& before, float opacity, const float* mask,
              const Shape* clip) {
  const int colours = before.colours;
  const int stride = before.Stride();
  const LayerRect& region = after.region;
  size_t i = 0;
  const float* from = after.samples;
  for (int64_t y = region.top; y < region.bottom; ++y) {
    float* to = before.At(region.left, y);
    for (int64_t x = region.left; x < region.right; ++x, ++i, to += stride, from += stride) {
      float t = opacity * (mask ? mask[i] : 1.0f);
      if (clip) t *= clip->At(x, y);
      const float alpha = to[colours] + t * (from[colours] - to[colours]);
      for (int c = 0; c < colours && alpha > 0; ++c) {
        const float premultiplied =
            to[c] * to[colours] + t * (from[c] * from[colours] - to[c] * to[colours]);
        to[c] = premultiplied / alpha;
      }
      to[colours] = alpha;
    }
  }
}

// Draws the pixels `layer` (over its region, which reaches the effects' reach beyond the band
// where the content allows) of `record` with its effects onto `target`: the effects below it
// first, then the part `own` in the band with its fill opacity, then the effects over it. The
// record's opacity, and the base it is clipped to, fade all of it in together; `out` is where
// the effects can show in the band, `box` the content's bounds (what an aligned gradient spans).
bool BlendWithEffects(Context& context, const LayerRecord& record, const Pixels& layer,
                      const LayerRect& own, const LayerRect& out, const LayerRect& box,
                      const Pixels& target, const Shape* clip, Shape* shape) {
  const int colours = target.colours;
  const LayerEffects& effects = *record.drawn_effects;
  const LayerRect& region = layer.region;
  const size_t area = LayerArea(region);
  const auto stride = static_cast<size_t>(target.Stride());
  const float* alpha = layer.samples + colours;
  // The part in the band: the shape for clipped layers, and what is blended of the layer.
  const size_t own_area = LayerArea(own);
  context.effect_layer.Resize(own_area * stride);
  const Pixels inside{own, colours, context.effect_layer.data()};
  if (!own.Empty()) {
    const size_t row = static_cast<size_t>(own.Width()) * stride;
    for (int64_t y = own.top; y < own.bottom; ++y) {
      std::memcpy(inside.At(own.left, y), layer.At(own.left, y), row * sizeof(float));
    }
  }
  if (shape) {
    shape->values.resize(own_area);
    for (size_t i = 0; i < own_area; ++i) shape->values[i] = inside.samples[i * stride + colours];
  }
  const float opacity = record.opacity / 255.0f;
  if (opacity <= 0 || out.Empty() || !AnyAboveZero(alpha, area, stride)) return true;

  // Without a fade the band is drawn on directly; with one, a copy of it is.
  const bool fade = opacity < 1 || clip;
  Pixels drawn = target;
  if (fade) {
    context.effect_target.Resize(LayerArea(out) * stride);
    drawn = Pixels{out, colours, context.effect_target.data()};
    const size_t row = static_cast<size_t>(out.Width()) * stride;
    for (int64_t y = out.top; y < out.bottom; ++y) {
      std::memcpy(drawn.At(out.left, y), target.At(out.left, y), row * sizeof(float));
    }
  }
  const EffectSource source{
      region,
      alpha,
      stride,
      box,
      LayerRect{0, 0, context.document.height, context.document.width},
      record.fill_opacity / 255.0f,
      [&context](const std::string& id) { return PatternPixels(context, id); }};
  const EffectSink sink = [&](LayerPixels& picture, BlendMode mode, float amount) {
    BlendOnto(Pixels{picture.region, colours, picture.samples.data()}, drawn, mode, amount,
              nullptr);
    return true;
  };
  BlendMode mode = BlendModeFromKey(record.blend_key);
  // A group's content is blended as one picture, whatever its mode says for its members.
  if (mode == BlendMode::PassThrough) mode = BlendMode::Normal;
  const float fill = record.fill_opacity / 255.0f;
  DrawEffects(effects, EffectStage::Below, source, out, colours, sink);
  // Interior effects cover only the layer's own pixels. Blended as a group with them, they join
  // those pixels first, and take the layer's mode and fill opacity with them. They are drawn
  // within the layer's shape: on its colours as if it were opaque, each effect as strong as its
  // coverage is of the shape, and the shape's alpha then applies once. (Drawn over a
  // half-covered edge pixel with their own coverage, the layer would show twice through them:
  // a dark fringe.) Normal effects over a layer at full fill look the same whether or not they
  // are blended as a group, so they take this way too.
  bool all_normal = true;
  for (const LayerEffect& effect : effects.effects) {
    all_normal = all_normal && (StageOf(effect.kind) != EffectStage::Interior ||
                                effect.mode == BlendMode::Normal);
  }
  if (!own.Empty() && (record.interior_as_group || (all_normal && fill >= 1))) {
    std::vector<float>& shape_alpha = context.mask;
    shape_alpha.resize(own_area);
    for (size_t i = 0; i < own_area; ++i) {
      float& a = inside.samples[i * stride + colours];
      shape_alpha[i] = a;
      a = a > 0 ? 1.0f : 0.0f;
    }
    const EffectSink onto_layer = [&](LayerPixels& picture, BlendMode effect_mode, float amount) {
      // The picture covers `own`, as the layer does: its coverage as a share of the shape's.
      const size_t count = LayerArea(picture.region);
      for (size_t i = 0; i < count; ++i) {
        float& c = picture.samples[i * stride + colours];
        const float a = shape_alpha[i];
        c = a > 0 ? std::min(c / a, 1.0f) : 0.0f;
      }
      BlendOnto(Pixels{picture.region, colours, picture.samples.data()}, inside, effect_mode,
                amount, nullptr);
      return true;
    };
    DrawEffects(effects, EffectStage::Interior, source, own, colours, onto_layer);
    for (size_t i = 0; i < own_area; ++i) inside.samples[i * stride + colours] *= shape_alpha[i];
    if (fill > 0) BlendOnto(inside, drawn, mode, fill, nullptr);
  } else if (!own.Empty()) {
    if (fill > 0) BlendOnto(inside, drawn, mode, fill, nullptr);
    DrawEffects(effects, EffectStage::Interior, source, own, colours, sink);
  }
  DrawEffects(effects, EffectStage::Top, source, out, colours, sink);
  if (fade) FadeInto(drawn, target, opacity, nullptr, clip);
  return true;
}

// Draws a pixel layer with effects. Its pixels are decoded over its rectangle grown by the
// effects' reach, since a shadow or stroke in this band depends on pixels beyond it.
bool DrawLayerWithEffects(Context& context, const LayerRecord& record, const Pixels& target,
                          const Shape* clip, Shape* shape) {
  const int colours = target.colours;
  const LayerEffects& effects = *record.drawn_effects;
  const LayerRect own = record.rect.Intersect(target.region);
  const LayerRect region = record.rect.Intersect(GrowRect(target.region, effects.reach));
  const LayerRect out = GrowRect(record.rect, effects.reach).Intersect(target.region);
  if (shape) *shape = Shape{own, {}};
  if (region.Empty() || out.Empty()) return true;
  const auto stride = static_cast<size_t>(target.Stride());
  const Pixels layer = LayerScratch(context, region, colours);
  float* alpha = layer.samples + colours;
  for (int c = 0; c <= colours; ++c) {
    if (!DecodeSamples(context, record, layer, c)) return false;
    if (c == colours && !ApplyMasks(context, record, region, alpha, stride)) return false;
  }
  return BlendWithEffects(context, record, layer, own, out, record.rect, target, clip, shape);
}

// A fill layer's bounds: its shape's, for a fill with a vector mask, else the canvas. A gradient
// aligned with the layer spans them.
LayerRect FillBounds(Context& context, const LayerRecord& record) {
  const LayerRect canvas{0, 0, context.document.height, context.document.width};
  if (!HasVectorMask(record)) return canvas;
  const LayerRect shape = VectorMaskBounds(context.file, context.document, record.vector_mask);
  return shape.Empty() ? canvas : shape;
}

// The stroke of a shape drawn from its settings over its fill in `layer`, whose alpha holds the
// fill's coverage under the masks: the stroke's coverage under the user's mask, at its opacity,
// over the fill when that shows. Without its path the shape is drawn unstroked.
void PaintShapeStroke(Context& context, const LayerRecord& record, const Pixels& layer) {
  const ShapeStroke& stroke = *record.stroke;
  const int colours = layer.colours;
  const LayerRect& region = layer.region;
  const size_t area = LayerArea(region);
  const auto stride = static_cast<size_t>(layer.Stride());
  std::vector<float> covered;
  if (!ShapeStrokeCoverage(context.file, context.document, record.vector_mask, stroke, region,
                           covered)) {
    return;
  }
  std::vector<float>& shown = context.mask;
  shown.assign(area, 1.0f);
  if (!ApplyUserMask(context, record, region, shown.data(), 1)) return;
  for (size_t i = 0; i < area; ++i) {
    float* pixel = layer.samples + i * stride;
    const float line = covered[i] * shown[i] * stroke.opacity;
    const float fill = stroke.fill_enabled ? pixel[colours] * (1 - line) : 0.0f;
    const float total = line + fill;
    if (total > 0) {
      for (int c = 0; c < colours; ++c) {
        pixel[c] = ((*stroke.colour)[c] * line + pixel[c] * fill) / total;
      }
    }
    pixel[colours] = total;
  }
}

// A fill layer's colour, or its gradient or pattern times the alpha `layer` holds; false when its
// pattern cannot be drawn.
bool PaintFillContent(Context& context, const LayerRecord& record, const Pixels& layer) {
  const int colours = layer.colours;
  const LayerRect& region = layer.region;
  const size_t area = LayerArea(region);
  const auto stride = static_cast<size_t>(layer.Stride());
  float* alpha = layer.samples + colours;
  if (record.gradient_fill || record.pattern_fill) {
    // The gradient's or pattern's own opacity times the layer's alpha so far.
    std::vector<float>& kept = context.mask;
    kept.resize(area);
    for (size_t i = 0; i < area; ++i) kept[i] = alpha[i * stride];
    if (record.gradient_fill) {
      const LayerRect canvas{0, 0, context.document.height, context.document.width};
      const LayerRect box = record.gradient_fill->align ? FillBounds(context, record) : canvas;
      FillGradient(*record.gradient_fill, box, region, colours, layer.samples, stride);
    } else {
      const PatternTile* tile = PatternPixels(context, record.pattern_fill->id);
      if (!tile) return false;
      FillPattern(*tile, *record.pattern_fill, 0, 0, region, layer.samples, stride);
    }
    for (size_t i = 0; i < area; ++i) alpha[i * stride] *= kept[i];
    return true;
  }
  const LayerAdjustment& adjustment = record.adjustment;
  for (size_t i = 0; i < area; ++i) {
    std::copy(adjustment.colour.begin(), adjustment.colour.begin() + colours,
              layer.samples + i * stride);
  }
  return true;
}

// Paints a fill layer's content over `layer` (whose alpha holds its masks), and its shape's
// stroke when it has one we draw. False when its pattern cannot be drawn.
bool PaintFill(Context& context, const LayerRecord& record, const Pixels& layer) {
  if (!PaintFillContent(context, record, layer)) return false;
  if (DrawsSettingsStroke(record, static_cast<uint16_t>(layer.colours))) {
    PaintShapeStroke(context, record, layer);
  }
  return true;
}

// The masks of a layer drawn from its settings, which has no pixels of its own, as the alpha of
// `layer`; its colours are left as they were.
bool SettingsMasks(Context& context, const LayerRecord& record, const Pixels& layer) {
  const auto stride = static_cast<size_t>(layer.Stride());
  float* alpha = layer.samples + layer.colours;
  const size_t area = LayerArea(layer.region);
  for (size_t i = 0; i < area; ++i) alpha[i * stride] = 1;
  return ApplyMasks(context, record, layer.region, alpha, stride);
}

// Draws a fill layer with effects: its content over the band grown by the effects' reach takes
// them as a layer's pixels do.
bool DrawFillWithEffects(Context& context, const LayerRecord& record, const Pixels& target,
                         const Shape* clip, Shape* shape) {
  const int colours = target.colours;
  const int64_t reach = record.drawn_effects->reach;
  const LayerRect canvas{0, 0, context.document.height, context.document.width};
  const LayerRect box = SettingsReach(record, canvas);
  const LayerRect region = SettingsReach(record, GrowRect(target.region, reach).Intersect(canvas));
  const LayerRect own = SettingsReach(record, target.region);
  const LayerRect out = GrowRect(box, reach).Intersect(target.region);
  if (shape) *shape = Shape{own, {}};
  if (region.Empty() || out.Empty()) return true;
  const Pixels layer = LayerScratch(context, region, colours);
  if (!SettingsMasks(context, record, layer)) return false;
  if (!PaintFill(context, record, layer)) {
    if (shape) shape->values.assign(LayerArea(own), 0.0f);
    return true;
  }
  return BlendWithEffects(context, record, layer, own, out, FillBounds(context, record), target,
                          clip, shape);
}

// Draws an adjustment or fill layer from its settings. A fill is a layer of one colour over its
// reach; an adjustment changes the colours of what lies below in its target, leaving their
// alpha alone: over transparency it has nothing to change.
bool DrawFromSettings(Context& context, const LayerRecord& record, const Pixels& target,
                      const Shape* clip, Shape* shape) {
  const int colours = target.colours;
  if (DrawsFillEffects(record, static_cast<uint16_t>(colours))) {
    return DrawFillWithEffects(context, record, target, clip, shape);
  }
  const LayerRect region = SettingsReach(record, target.region);
  if (shape) *shape = Shape{region, {}};
  if (region.Empty()) return true;
  const size_t area = LayerArea(region);
  const auto stride = static_cast<size_t>(target.Stride());
  const Pixels layer = LayerScratch(context, region, colours);
  if (!SettingsMasks(context, record, layer)) return false;
  const float* alpha = layer.samples + colours;
  const LayerAdjustment& adjustment = record.adjustment;
  const bool fill = record.gradient_fill || record.pattern_fill || adjustment.IsFill();
  // A shape's stroke reaches beyond its path: painted first, it is part of the shape.
  const bool stroked = fill && DrawsSettingsStroke(record, static_cast<uint16_t>(colours));
  if (stroked && !PaintFill(context, record, layer)) {
    if (shape) shape->values.assign(area, 0.0f);
    return true;
  }
  if (shape) {
    shape->values.resize(area);
    for (size_t i = 0; i < area; ++i) shape->values[i] = alpha[i * stride];
  }
  const float opacity = LayerOpacity(record);
  if (opacity <= 0 || !AnyAboveZero(alpha, area, stride)) return true;
  const BlendMode mode = BlendModeFromKey(record.blend_key);
  if (fill) {
    if (stroked || PaintFill(context, record, layer)) BlendOnto(layer, target, mode, opacity, clip);
    return true;
  }
  const bool separable = IsSeparable(mode);
  const uint16_t document_mode = context.document.mode;
  const bool linear = context.document.depth == 32;
  const float* from = layer.samples;
  for (int64_t y = region.top; y < region.bottom; ++y) {
    float* to = target.At(region.left, y);
    for (int64_t x = region.left; x < region.right; ++x, from += stride, to += stride) {
      float amount = from[colours] * opacity;
      if (clip) amount *= clip->At(x, y);
      if (amount <= 0 || to[colours] <= 0) continue;
      float adjusted[4];
      std::copy(to, to + colours, adjusted);
      ApplyAdjustment(adjustment, document_mode, adjusted, colours, linear);
      float mixed[4];
      if (mode == BlendMode::Normal) {
        std::copy(adjusted, adjusted + colours, mixed);
      } else if (separable) {
        for (int c = 0; c < colours; ++c) mixed[c] = BlendChannel(mode, to[c], adjusted[c]);
      } else {
        BlendColour(mode, to, adjusted, mixed, colours);
      }
      for (int c = 0; c < colours; ++c) to[c] += amount * (mixed[c] - to[c]);
    }
  }
  return true;
}

// A layer that leaves nothing of what lies below it in `region` to be seen: normal, fully
// opaque, without transparency or masks, over all of the region.
bool CoversOpaquely(const LayerNode& node, const LayerRect& region, uint16_t colours) {
  const LayerRecord& record = *node.record;
  if (node.group || record.hidden || record.clipped) return false;
  if (record.opacity != 255 || record.fill_opacity != 255) return false;
  if (BlendModeFromKey(record.blend_key) != BlendMode::Normal) return false;
  if (!HasColourChannel(record, colours) || record.Channel(TransparencyChannel)) return false;
  if (HasUserMask(record) || HasVectorMask(record) || record.blend_if) return false;
  const LayerRect& rect = record.rect;
  return rect.top <= region.top && rect.left <= region.left && rect.bottom >= region.bottom &&
         rect.right >= region.right;
}

bool DrawMembers(Context& context, const std::vector<LayerNode>& members, const Pixels& target,
                 size_t depth);

// A group's mask over `region`; none when it has none.
bool GroupMask(Context& context, const LayerRecord& record, const LayerRect& region,
               std::optional<std::vector<float>>& mask) {
  if (!HasUserMask(record) && !HasVectorMask(record)) return true;
  mask.emplace(LayerArea(region), 1.0f);
  return ApplyMasks(context, record, region, mask->data(), 1);
}

// The alpha of `picture` times `mask` (when given): a group's shape for the layers clipped to it.
Shape AlphaShape(const Pixels& picture, const std::optional<std::vector<float>>& mask) {
  Shape shape{picture.region, std::vector<float>(LayerArea(picture.region))};
  const int stride = picture.Stride();
  for (size_t i = 0; i < shape.values.size(); ++i) {
    shape.values[i] = picture.samples[i * stride + picture.colours] * (mask ? (*mask)[i] : 1.0f);
  }
  return shape;
}

// The group buffer of `depth` over `region`: transparent, or a copy of `from` there.
Pixels GroupBuffer(Context& context, size_t depth, const LayerRect& region, const Pixels* from,
                   int colours) {
  FloatBuffer& buffer = context.groups[depth];
  const size_t row = static_cast<size_t>(region.Width()) * static_cast<size_t>(colours + 1);
  const size_t size = LayerArea(region) * static_cast<size_t>(colours + 1);
  if (!from) {
    buffer.ResizeZeroed(size);
    return Pixels{region, colours, buffer.data()};
  }
  buffer.Resize(size);
  const Pixels copy{region, colours, buffer.data()};
  for (int64_t y = region.top; y < region.bottom; ++y) {
    std::memcpy(copy.At(region.left, y), from->At(region.left, y), row * sizeof(float));
  }
  return copy;
}

// Draws `members` on a picture of their own, whose bottom their knockouts reveal: transparency.
bool DrawIsolatedMembers(Context& context, const std::vector<LayerNode>& members,
                         const Pixels& target, size_t depth) {
  const bool knockout_was = std::exchange(context.knockout_to_clear, true);
  const Pixels* backdrop_was = std::exchange(context.knockout_backdrop, nullptr);
  const bool drawn = DrawMembers(context, members, target, depth);
  context.knockout_to_clear = knockout_was;
  context.knockout_backdrop = backdrop_was;
  return drawn;
}

// Draws a group with effects: its members on their own over the band grown by the effects' reach
// (a shadow in this band depends on what lies beyond it), under the group's mask; that picture
// then takes the effects as a layer's pixels do, and is blended as one whatever the group's mode.
bool DrawGroupWithEffects(Context& context, const LayerNode& group, const Pixels& target,
                          size_t depth, const Shape* clip, Shape* shape) {
  const LayerRecord& record = *group.record;
  const LayerRect box = MembersReach(group.members);
  const LayerRect region = box.Intersect(GrowRect(target.region, record.drawn_effects->reach));
  const LayerRect own = box.Intersect(target.region);
  const LayerRect out = GrowRect(box, record.drawn_effects->reach).Intersect(target.region);
  if (shape) *shape = Shape{own, {}};
  if (region.Empty() || out.Empty()) return true;
  const Pixels content = GroupBuffer(context, depth, region, nullptr, target.colours);
  if (!DrawIsolatedMembers(context, group.members, content, depth + 1)) return false;
  std::optional<std::vector<float>> mask;
  if (!GroupMask(context, record, region, mask)) return false;
  if (mask) {
    const auto stride = static_cast<size_t>(target.Stride());
    for (size_t i = 0; i < mask->size(); ++i)
      content.samples[i * stride + target.colours] *= (*mask)[i];
  }
  return BlendWithEffects(context, record, content, own, out, box, target, clip, shape);
}

// Draws a group; `clip`, when given, is the shape of the base it is clipped to, and `shape`
// receives where the group covers, before its opacity, for the layers clipped to it. Its buffers
// span only what its members reach.
bool DrawGroup(Context& context, const LayerNode& group, const Pixels& target, size_t depth,
               const Shape* clip, Shape* shape) {
  const LayerRecord& record = *group.record;
  if (depth >= MaxGroupDepth) return false;
  if (DrawsGroupEffects(group))
    return DrawGroupWithEffects(context, group, target, depth, clip, shape);
  const LayerRect reach = group.reach.Intersect(target.region);
  // An artboard's members are seen only on its board, so its buffer ends there.
  const ArtboardBoard* board = record.board ? &*record.board : nullptr;
  const LayerRect region = board   ? reach
                           : shape ? MembersReach(group.members).Intersect(target.region)
                                   : reach;
  if (shape) *shape = Shape{region, {}};
  if (region.Empty()) return true;
  std::optional<std::vector<float>> mask;
  if (!GroupMask(context, record, region, mask)) return false;
  const float opacity = LayerOpacity(record);
  BlendMode mode = BlendModeFromKey(record.blend_key);
  const int colours = target.colours;
  const int stride = target.Stride();
  // A board is a picture of its own: its members blend with its background, not with what
  // lies beneath it.
  if (board && mode == BlendMode::PassThrough) mode = BlendMode::Normal;

  if (mode == BlendMode::PassThrough) {
    if (shape) {
      // Coverage composes the same way whatever the members' modes: their alpha drawn on
      // their own is the group's shape.
      const Pixels alone = GroupBuffer(context, depth, region, nullptr, colours);
      if (!DrawMembers(context, group.members, alone, depth + 1)) return false;
      *shape = AlphaShape(alone, mask);
    }
    if (reach.Empty()) return true;
    // The members blend with what lies below; opacity, mask and clip then fade the group's work
    // back towards what was there, in premultiplied colour. Their knockouts reveal what lay
    // beneath the group, so then they are drawn on a copy, with the target left as it was.
    const bool knockouts = HasKnockoutMember(group.members);
    const bool knockout_was = std::exchange(context.knockout_to_clear, knockouts);
    const Pixels* backdrop_was = context.knockout_backdrop;
    bool members_drawn = false;
    if (opacity >= 1 && !mask && !clip && !knockouts) {
      members_drawn = DrawMembers(context, group.members, target, depth + 1);
    } else {
      const Pixels drawn = GroupBuffer(context, depth, region, &target, colours);
      context.knockout_backdrop = &target;
      members_drawn = DrawMembers(context, group.members, drawn, depth + 1);
      if (members_drawn) FadeInto(drawn, target, opacity, mask ? mask->data() : nullptr, clip);
    }
    context.knockout_to_clear = knockout_was;
    context.knockout_backdrop = backdrop_was;
    return members_drawn;
  }
  const Pixels isolated = GroupBuffer(context, depth, region, nullptr, colours);
  if (board && board->background) {
    const size_t area = LayerArea(region);
    for (size_t i = 0; i < area; ++i) {
      float* pixel = isolated.samples + i * static_cast<size_t>(stride);
      std::copy(board->background->begin(), board->background->begin() + colours, pixel);
      pixel[colours] = 1;
    }
  }
  if (!DrawIsolatedMembers(context, group.members, isolated, depth + 1)) return false;
  if (mask) {
    for (size_t i = 0; i < mask->size(); ++i) isolated.samples[i * stride + colours] *= (*mask)[i];
  }
  if (shape) *shape = AlphaShape(isolated, std::nullopt);
  if (!reach.Empty()) BlendOnto(isolated, target, mode, opacity, clip);
  return true;
}

// Draws `members` bottom first, from the topmost that covers the target opaquely. A clipped
// layer or group takes the shape of the nearest unclipped layer or group below it, and is hidden
// with it; a member that reaches nothing here and holds no shape for others is passed over.
bool DrawMembers(Context& context, const std::vector<LayerNode>& members, const Pixels& target,
                 size_t depth) {
  const auto colours = static_cast<uint16_t>(target.colours);
  size_t first = members.size();
  while (first > 0 && !CoversOpaquely(members[first - 1], target.region, colours)) --first;
  if (first > 0) --first;
  std::optional<Shape> base;
  for (size_t index = first; index < members.size(); ++index) {
    const LayerNode& node = members[index];
    const LayerRecord& record = *node.record;
    const bool clipped_above = index + 1 < members.size() && members[index + 1].record->clipped;
    if (!record.clipped) {
      base.reset();
      if (record.hidden) continue;
      if (!clipped_above && node.reach.Intersect(target.region).Empty()) continue;
      Shape shape;
      Shape* wanted = clipped_above ? &shape : nullptr;
      const bool drawn = node.group ? DrawGroup(context, node, target, depth, nullptr, wanted)
                         : DrawsFromSettings(record, colours)
                             ? DrawFromSettings(context, record, target, nullptr, wanted)
                             : DrawLayer(context, record, target, nullptr, wanted);
      if (!drawn) return false;
      if (clipped_above) base = std::move(shape);
      continue;
    }
    if (!base || record.hidden) continue;
    if (node.reach.Intersect(base->region).Empty()) continue;
    const bool drawn = node.group ? DrawGroup(context, node, target, depth, &*base, nullptr)
                       : DrawsFromSettings(record, colours)
                           ? DrawFromSettings(context, record, target, &*base, nullptr)
                           : DrawLayer(context, record, target, &*base, nullptr);
    if (!drawn) return false;
  }
  return true;
}

}  // namespace

FloatBuffer::FloatBuffer(size_t size) { Resize(size); }

FloatBuffer::~FloatBuffer() {
  if (data_) munmap(data_, capacity_ * sizeof(float));
}

FloatBuffer::FloatBuffer(const FloatBuffer& other) {
  Resize(other.size_);
  if (size_ > 0) std::memcpy(data_, other.data_, size_ * sizeof(float));
}

FloatBuffer::FloatBuffer(FloatBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

FloatBuffer& FloatBuffer::operator=(FloatBuffer&& other) noexcept {
  if (this == &other) return *this;
  if (data_) munmap(data_, capacity_ * sizeof(float));
  data_ = std::exchange(other.data_, nullptr);
  size_ = std::exchange(other.size_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
  return *this;
}

void FloatBuffer::Resize(size_t size) {
  if (size <= capacity_) {
    size_ = size;
    return;
  }
  if (size > SIZE_MAX / sizeof(float)) throw std::bad_alloc();
  void* memory = mmap(nullptr, size * sizeof(float), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  madvise(memory, size * sizeof(float), MADV_HUGEPAGE);  // a hint: fine to be refused
  if (data_) munmap(data_, capacity_ * sizeof(float));
  data_ = static_cast<float*>(memory);
  size_ = capacity_ = size;
}

void FloatBuffer::ResizeZeroed(size_t size) {
  const bool fresh = size > capacity_;
  Resize(size);
  if (!fresh && size > 0) std::memset(data_, 0, size * sizeof(float));
}

std::optional<LayerPixels> CompositeLayers(std::span<const uint8_t> file,
                                           const LayeredDocument& document,
                                           const std::vector<LayerNode>& tree,
                                           const CompositePlan& plan) {
  if (document.colour_channels < 1 || document.colour_channels > 4) return std::nullopt;
  LayerPixels canvas;
  canvas.region = LayerRect{0, 0, document.height, document.width};
  canvas.colours = document.colour_channels;
  canvas.samples = FloatBuffer(LayerArea(canvas.region) * canvas.Stride());
  Context context(file, document);
  // Knockouts at the top level reveal the background layer, or transparency without one.
  const LayerRecord* background = BackgroundLayer(tree);
  context.knockout_to_clear = HasKnockoutMember(tree);
  const int64_t rows = std::max<int64_t>(plan.band_rows, 1);
  for (int64_t top = 0; top < canvas.region.bottom; top += rows) {
    const LayerRect band{top, 0, std::min(top + rows, canvas.region.bottom), canvas.region.right};
    Pixels backdrop{band, canvas.colours, nullptr};
    if (context.knockout_to_clear && background) {
      context.background.ResizeZeroed(LayerArea(band) * static_cast<size_t>(canvas.Stride()));
      backdrop.samples = context.background.data();
      if (!DrawLayer(context, *background, backdrop, nullptr, nullptr)) return std::nullopt;
      context.knockout_backdrop = &backdrop;
    }
    if (!DrawMembers(context, tree, Pixels{band, canvas.colours, canvas.At(0, top)}, 0)) {
      return std::nullopt;
    }
  }
  return canvas;
}

std::optional<LayerPixels> CompositeLayers(std::span<const uint8_t> file,
                                           const LayeredDocument& document) {
  const std::vector<LayerNode> tree = BuildLayerTree(document);
  return CompositeLayers(file, document, tree, PlanComposite(file, document, tree));
}
