#include "decoder/layer_effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string_view>

#include "decoder/adjustments.h"
#include "engine/image/byte_cursor.h"

namespace {

// Sizes and distances beyond this many pixels are taken as this: effects are at most 250 pixels
// wide where they are set, and a damaged file must not ask for more.
constexpr double MaxEffectSize = 1000;

// The blend modes of descriptors ("Md  ", type "BlnM") by their records' four-character keys.
constexpr std::pair<std::string_view, const char*> Modes[] = {
    {"Nrml", "norm"},        {"Dslv", "diss"},
    {"Drkn", "dark"},        {"Mltp", "mul "},
    {"CBrn", "idiv"},        {"linearBurn", "lbrn"},
    {"darkerColor", "dkCl"}, {"Lghn", "lite"},
    {"Scrn", "scrn"},        {"CDdg", "div "},
    {"linearDodge", "lddg"}, {"lighterColor", "lgCl"},
    {"Ovrl", "over"},        {"SftL", "sLit"},
    {"HrdL", "hLit"},        {"vividLight", "vLit"},
    {"linearLight", "lLit"}, {"pinLight", "pLit"},
    {"hardMix", "hMix"},     {"Dfrn", "diff"},
    {"Xclu", "smud"},        {"blendSubtraction", "fsub"},
    {"blendDivide", "fdiv"}, {"H   ", "hue "},
    {"Strt", "sat "},        {"Clr ", "colr"},
    {"Lmns", "lum "},
};

BlendMode ModeNamed(const std::string& name, BlendMode otherwise) {
  for (const auto& [text, key] : Modes) {
    if (name == text) return BlendModeFromKey(BigEndian32(reinterpret_cast<const uint8_t*>(key)));
  }
  return otherwise;
}

BlendMode ModeOf(const Descriptor& effect, BlendMode otherwise) {
  return ModeNamed(effect.Text("Md  "), otherwise);
}

// Values of descriptors put together here, for the effects of the old "lrFX" block.
DescriptorValue NumberValue(double number) {
  DescriptorValue value;
  value.kind = DescriptorValue::Kind::Number;
  value.number = number;
  return value;
}

DescriptorValue FlagValue(bool flag) {
  DescriptorValue value;
  value.kind = DescriptorValue::Kind::Flag;
  value.flag = flag;
  return value;
}

DescriptorValue EnumerationValue(std::string text) {
  DescriptorValue value;
  value.kind = DescriptorValue::Kind::Enumeration;
  value.text = std::move(text);
  return value;
}

DescriptorValue ObjectValue(Descriptor object) {
  DescriptorValue value;
  value.kind = DescriptorValue::Kind::Object;
  value.object = std::make_shared<const Descriptor>(std::move(object));
  return value;
}

// The fields of one "lrFX" effect, read in their published order; every read is checked, and a
// failed one leaves the reader failed for good.
class OldEffectFields {
 public:
  explicit OldEffectFields(std::span<const uint8_t> bytes) : cursor_(bytes) {}
  bool ok() const { return ok_; }
  uint64_t Unsigned(size_t size) {
    uint64_t value = 0;
    ok_ = ok_ && cursor_.Read(size, value);
    return value;
  }
  // Sizes, distances and angles: 16.16 fixed point, signed.
  double Fixed() { return static_cast<int32_t>(static_cast<uint32_t>(Unsigned(4))) / 65536.0; }
  // Opacities: 0..255, as percent.
  double Percent() { return static_cast<double>(Unsigned(1)) * 100 / 255; }
  bool Flag() { return Unsigned(1) != 0; }
  // "8BIM" then the mode's key, as a descriptor names it (normal for one we do not know).
  std::string Mode() {
    ok_ = ok_ && cursor_.Matches("8BIM") && cursor_.Skip(4);
    const auto key = static_cast<uint32_t>(Unsigned(4));
    for (const auto& [name, code] : Modes) {
      if (BigEndian32(reinterpret_cast<const uint8_t*>(code)) == key) return std::string(name);
    }
    return "Nrml";
  }
  // A colour structure as an RGB colour descriptor; of a space we cannot read, one of a class
  // that no reader takes, so that the effect is left out and said so.
  Descriptor Colour() {
    const auto space = static_cast<int>(Unsigned(2));
    std::array<uint16_t, 4> components{};
    for (uint16_t& component : components) component = static_cast<uint16_t>(Unsigned(2));
    Descriptor colour;
    const std::optional<std::array<float, 3>> rgb = StructureColour(space, components);
    colour.class_id = rgb ? "RGBC" : "unknown colour space";
    if (rgb) {
      const char* keys[] = {"Rd  ", "Grn ", "Bl  "};
      for (int c = 0; c < 3; ++c) colour.items.emplace_back(keys[c], NumberValue((*rgb)[c] * 255));
    }
    return colour;
  }

 private:
  ByteCursor cursor_;
  bool ok_ = true;
};

// One "lrFX" effect of key `key` as the "lfx2" descriptor of the same effect says it, under the
// name it has there; std::nullopt when its fields are cut short or the key is unknown.
std::optional<std::pair<std::string, Descriptor>> OldEffect(const std::string& key,
                                                            std::span<const uint8_t> bytes) {
  OldEffectFields fields(bytes);
  Descriptor effect;
  const auto put = [&effect](const char* name, DescriptorValue value) {
    effect.items.emplace_back(name, std::move(value));
  };
  std::string name;
  const uint64_t version = fields.Unsigned(4);
  if (key == "dsdw" || key == "isdw") {
    name = key == "dsdw" ? "DrSh" : "IrSh";
    put("blur", NumberValue(fields.Fixed()));
    fields.Fixed();  // intensity, which the newer effects do not have
    put("lagl", NumberValue(fields.Fixed()));
    put("Dstn", NumberValue(fields.Fixed()));
    put("Clr ", ObjectValue(fields.Colour()));
    put("Md  ", EnumerationValue(fields.Mode()));
    put("enab", FlagValue(fields.Flag()));
    put("uglg", FlagValue(fields.Flag()));
    put("Opct", NumberValue(fields.Percent()));
  } else if (key == "oglw" || key == "iglw") {
    name = key == "oglw" ? "OrGl" : "IrGl";
    put("blur", NumberValue(fields.Fixed()));
    fields.Fixed();  // intensity
    put("Clr ", ObjectValue(fields.Colour()));
    put("Md  ", EnumerationValue(fields.Mode()));
    put("enab", FlagValue(fields.Flag()));
    put("Opct", NumberValue(fields.Percent()));
  } else if (key == "bevl") {
    name = "ebbl";
    put("lagl", NumberValue(fields.Fixed()));
    fields.Fixed();  // depth in pixels, which has no counterpart in the newer depth
    put("blur", NumberValue(fields.Fixed()));
    put("hglM", EnumerationValue(fields.Mode()));
    put("sdwM", EnumerationValue(fields.Mode()));
    put("hglC", ObjectValue(fields.Colour()));
    put("sdwC", ObjectValue(fields.Colour()));
    static constexpr const char* Styles[] = {"", "OtrB", "InrB", "Embs", "PlEb", "strokeEmboss"};
    const uint64_t style = fields.Unsigned(1);
    put("bvlS", EnumerationValue(style < std::size(Styles) ? Styles[style] : ""));
    put("hglO", NumberValue(fields.Percent()));
    put("sdwO", NumberValue(fields.Percent()));
    put("enab", FlagValue(fields.Flag()));
    put("uglg", FlagValue(fields.Flag()));
    put("bvlD", EnumerationValue(fields.Flag() ? "Out " : "In  "));
  } else if (key == "sofi") {
    name = "SoFi";
    put("Md  ", EnumerationValue(fields.Mode()));
    put("Clr ", ObjectValue(fields.Colour()));
    put("Opct", NumberValue(fields.Percent()));
    put("enab", FlagValue(fields.Flag()));
  } else {
    return std::nullopt;
  }
  if (!fields.ok() || version > 2) return std::nullopt;
  effect.class_id = name;
  return std::pair{name, std::move(effect)};
}

double Bounded(double value, double low, double high) {
  return std::isfinite(value) ? std::clamp(value, low, high) : low;
}

// One effect's common settings; false when its colour cannot be read.
bool ReadCommon(const Descriptor& settings, uint16_t mode, BlendMode fallback,
                LayerEffect& effect) {
  effect.mode = ModeOf(settings, fallback);
  effect.opacity = static_cast<float>(Bounded(settings.Number("Opct", 100) / 100, 0, 1));
  effect.size = Bounded(settings.Number("blur"), 0, MaxEffectSize);
  effect.spread = Bounded(settings.Number("Ckmt") / 100, 0, 1);
  if (const Descriptor* colour = settings.Object("Clr ")) {
    const std::optional<std::array<float, 4>> value = ReadDescriptorColour(*colour, mode);
    if (!value) return false;
    effect.colour = *value;
  }
  return true;
}

// The displacement of a shadow: away from the light, which shines from `angle` degrees
// (counter-clockwise from the right; rows go down).
void SetOffset(const Descriptor& settings, double global_angle, LayerEffect& effect) {
  const bool global = settings.Flag("uglg", effect.kind != EffectKind::Satin);
  const double angle = global ? global_angle : Bounded(settings.Number("lagl"), -360, 360);
  const double distance = Bounded(settings.Number("Dstn"), 0, MaxEffectSize);
  const double radians = angle * std::numbers::pi / 180;
  effect.offset_x = std::lround(-distance * std::cos(radians));
  effect.offset_y = std::lround(distance * std::sin(radians));
}

// The contour `key` of `settings` ("ShpC": points of 0..255, inputs rising) into `effect`; an
// absent or linear one leaves it empty. False when the points cannot be read.
bool ReadContour(const Descriptor& settings, std::string_view key, LayerEffect& effect) {
  const Descriptor* shape = settings.Object(key);
  const std::vector<DescriptorValue>* points = shape ? shape->List("Crv ") : nullptr;
  if (!points) return true;
  std::vector<std::array<double, 2>> curve;
  for (const DescriptorValue& point : *points) {
    if (!point.object || curve.size() >= 256) return false;
    const double x = point.object->Number("Hrzn"), y = point.object->Number("Vrtc");
    if (!std::isfinite(x) || !std::isfinite(y) || x < 0 || x > 255) return false;
    if (!curve.empty() && x <= curve.back()[0]) return false;
    curve.push_back({x, std::clamp(y, 0.0, 255.0)});
  }
  if (curve.size() < 2) return false;
  const bool linear = curve.size() == 2 && curve[0] == std::array<double, 2>{0, 0} &&
                      curve[1][0] == 255 && curve[1][1] == 255;
  if (!linear) effect.contour = CurveTable(curve);
  return true;
}

// Reads one enabled effect of kind `key` into `effect`; false when it is not one we draw.
bool ReadEffect(std::string_view key, const Descriptor& settings, uint16_t mode,
                double global_angle,
                const std::function<bool(const std::string&)>& drawable_pattern,
                LayerEffect& effect) {
  if (key == "patternFill") {
    effect.kind = EffectKind::PatternOverlay;
    std::optional<PatternPlacement> placement = ReadPatternPlacement(settings);
    if (!placement || !drawable_pattern(placement->id) ||
        !ReadCommon(settings, mode, BlendMode::Normal, effect)) {
      return false;
    }
    effect.pattern = std::make_shared<const PatternPlacement>(std::move(*placement));
    return true;
  }
  if (key == "DrSh" || key == "IrSh") {
    effect.kind = key == "DrSh" ? EffectKind::DropShadow : EffectKind::InnerShadow;
    if (!ReadCommon(settings, mode, BlendMode::Multiply, effect) ||
        !ReadContour(settings, "TrnS", effect)) {
      return false;
    }
    SetOffset(settings, global_angle, effect);
    effect.knockout = settings.Flag("layerConceals", true);
    return true;
  }
  if (key == "OrGl" || key == "IrGl") {
    effect.kind = key == "OrGl" ? EffectKind::OuterGlow : EffectKind::InnerGlow;
    effect.from_centre = settings.Text("glwS") == "SrcC";
    effect.range = Bounded(settings.Number("Inpr", 50) / 100, 0.01, 1);
    // A glow of a gradient is drawn in its colour.
    return ReadCommon(settings, mode, BlendMode::Screen, effect) &&
           ReadContour(settings, "TrnS", effect);
  }
  if (key == "ChFX") {
    effect.kind = EffectKind::Satin;
    if (!ReadCommon(settings, mode, BlendMode::Multiply, effect) ||
        !ReadContour(settings, "MpgS", effect)) {
      return false;
    }
    effect.spread = 0;
    effect.invert = settings.Flag("Invr", true);
    SetOffset(settings, global_angle, effect);
    return true;
  }
  if (key == "ebbl") {
    // Smooth and chiselled slopes alike are drawn smooth, without gloss contour or texture.
    effect.kind = EffectKind::Bevel;
    const std::string style = settings.Text("bvlS");
    if (style != "InrB" && style != "OtrB" && style != "Embs" && style != "PlEb") return false;
    if (settings.Flag("useTexture")) return false;
    effect.style = style == "OtrB"   ? BevelStyle::Outer
                   : style == "Embs" ? BevelStyle::Emboss
                   : style == "PlEb" ? BevelStyle::Pillow
                                     : BevelStyle::Inner;
    effect.size = Bounded(settings.Number("blur", 5), 0, MaxEffectSize);
    effect.depth = Bounded(settings.Number("srgR", 100) / 100, 0.01, 10);
    effect.down = settings.Text("bvlD") == "Out ";
    effect.light_angle = settings.Flag("uglg", true)
                             ? global_angle
                             : Bounded(settings.Number("lagl", 120), -360, 360);
    effect.altitude = Bounded(settings.Number("Lald", 30), 0, 90);
    const auto colour = [&](const char* key, std::array<float, 4>& out) {
      const Descriptor* value = settings.Object(key);
      if (!value) return true;
      const std::optional<std::array<float, 4>> read = ReadDescriptorColour(*value, mode);
      if (read) out = *read;
      return read.has_value();
    };
    effect.colour = {1, 1, 1, 1};
    if (!colour("hglC", effect.colour) || !colour("sdwC", effect.shadow_colour)) return false;
    effect.mode = ModeNamed(settings.Text("hglM"), BlendMode::Screen);
    effect.shadow_mode = ModeNamed(settings.Text("sdwM"), BlendMode::Multiply);
    effect.opacity = static_cast<float>(Bounded(settings.Number("hglO", 75) / 100, 0, 1));
    effect.shadow_opacity = static_cast<float>(Bounded(settings.Number("sdwO", 75) / 100, 0, 1));
    return effect.size > 0;
  }
  if (key == "SoFi") {
    effect.kind = EffectKind::ColourOverlay;
    return ReadCommon(settings, mode, BlendMode::Normal, effect);
  }
  if (key == "GrFl") {
    effect.kind = EffectKind::GradientOverlay;
    std::optional<Gradient> gradient = ReadGradient(settings, mode);
    if (!gradient || !ReadCommon(settings, mode, BlendMode::Normal, effect)) return false;
    effect.gradient = std::make_shared<const Gradient>(std::move(*gradient));
    return true;
  }
  if (key == "FrFX") {
    effect.kind = EffectKind::Stroke;
    const std::string fill = settings.Text("PntT");
    if (!fill.empty() && fill != "SClr" && fill != "GrFl" && fill != "Ptrn") return false;
    if (!ReadCommon(settings, mode, BlendMode::Normal, effect)) return false;
    if (fill == "Ptrn") {
      // Laid out as a pattern overlay's, over the stroke's rings.
      std::optional<PatternPlacement> placement = ReadPatternPlacement(settings);
      if (!placement || !drawable_pattern(placement->id)) return false;
      effect.pattern = std::make_shared<const PatternPlacement>(std::move(*placement));
    } else if (fill == "GrFl") {
      std::optional<Gradient> gradient = ReadGradient(settings, mode);
      if (!gradient) return false;
      effect.gradient = std::make_shared<const Gradient>(std::move(*gradient));
    }
    effect.size = Bounded(settings.Number("Sz  ", 3), 0, MaxEffectSize);
    const std::string style = settings.Text("Styl");
    effect.position = style == "InsF"   ? StrokePosition::Inside
                      : style == "CtrF" ? StrokePosition::Centre
                                        : StrokePosition::Outside;
    return effect.size > 0;
  }
  return false;
}

// Every instance of an effect: the single one, or each of a list (drawn last first, as the list
// names the topmost first).
std::vector<const Descriptor*> Instances(const Descriptor& settings, std::string_view single,
                                         std::string_view multiple) {
  std::vector<const Descriptor*> found;
  if (const std::vector<DescriptorValue>* list = settings.List(multiple)) {
    for (auto item = list->rbegin(); item != list->rend(); ++item) {
      if (item->object) found.push_back(item->object.get());
    }
  } else if (const Descriptor* one = settings.Object(single)) {
    found.push_back(one);
  }
  return found;
}

// A plane of values over a rectangle, with `outside` beyond it.
struct Plane {
  LayerRect region;
  std::vector<float> values;
  float outside = 0;

  float At(int64_t x, int64_t y) const {
    if (y < region.top || y >= region.bottom || x < region.left || x >= region.right) {
      return outside;
    }
    return values[static_cast<size_t>((y - region.top) * region.Width() + (x - region.left))];
  }
};

float SourceAlpha(const EffectSource& source, int64_t x, int64_t y) {
  const LayerRect& r = source.region;
  if (y < r.top || y >= r.bottom || x < r.left || x >= r.right) return 0;
  const size_t i = static_cast<size_t>((y - r.top) * r.Width() + (x - r.left));
  return std::clamp(source.alpha[i * source.stride], 0.0f, 1.0f);
}

// The layer's coverage (or what it leaves uncovered, `inverse`) over `region`.
Plane Coverage(const EffectSource& source, const LayerRect& region, bool inverse) {
  Plane plane{region, std::vector<float>(LayerArea(region)), inverse ? 1.0f : 0.0f};
  size_t i = 0;
  for (int64_t y = region.top; y < region.bottom; ++y) {
    for (int64_t x = region.left; x < region.right; ++x, ++i) {
      const float alpha = SourceAlpha(source, x, y);
      plane.values[i] = inverse ? 1 - alpha : alpha;
    }
  }
  return plane;
}

// Squared distances along one line to the nearest place where `f` is 0 (others are `Far`), after
// Felzenszwalb and Huttenlocher's lower envelope of parabolas: linear in the line's length.
constexpr double Far = 1e12;
void LineDistances(const double* f, size_t n, double* d, std::vector<size_t>& v,
                   std::vector<double>& z) {
  if (n == 0) return;
  v.assign(n, 0);
  z.assign(n + 1, 0);
  size_t k = 0;
  z[0] = -HUGE_VAL;
  z[1] = HUGE_VAL;
  for (size_t q = 1; q < n; ++q) {
    const auto qd = static_cast<double>(q);
    double s = 0;
    for (;;) {
      // z[0] is minus infinity, so this stops at the first parabola at the latest.
      const auto vk = static_cast<double>(v[k]);
      s = ((f[q] + qd * qd) - (f[v[k]] + vk * vk)) / (2 * qd - 2 * vk);
      if (s > z[k]) break;
      --k;
    }
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = HUGE_VAL;
  }
  k = 0;
  for (size_t q = 0; q < n; ++q) {
    while (z[k + 1] < static_cast<double>(q)) ++k;
    const double dq = static_cast<double>(q) - static_cast<double>(v[k]);
    d[q] = dq * dq + f[v[k]];
  }
}

// The Euclidean distance of each place of `plane` to the nearest place where `inside` says yes
// (0 there), in pixels; nothing beyond the plane counts.
template <typename Inside>
std::vector<double> Distances(const Plane& plane, Inside inside) {
  const auto width = static_cast<size_t>(plane.region.Width());
  const auto height = static_cast<size_t>(plane.region.Height());
  std::vector<double> grid(width * height);
  for (size_t i = 0; i < grid.size(); ++i) grid[i] = inside(plane.values[i]) ? 0 : Far;
  std::vector<double> line(std::max(width, height)), out(line.size());
  std::vector<size_t> v;
  std::vector<double> z;
  for (size_t y = 0; y < height; ++y) {
    LineDistances(grid.data() + y * width, width, out.data(), v, z);
    std::copy(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(width),
              grid.begin() + static_cast<std::ptrdiff_t>(y * width));
  }
  for (size_t x = 0; x < width; ++x) {
    for (size_t y = 0; y < height; ++y) line[y] = grid[y * width + x];
    LineDistances(line.data(), height, out.data(), v, z);
    for (size_t y = 0; y < height; ++y) grid[y * width + x] = std::sqrt(out[y]);
  }
  return grid;
}

// Pixels `by` away from a covered place take full coverage, the next a share: spread of shadows
// and glows, choke of inner ones.
void Spread(Plane& plane, double by) {
  if (by < 0.5 || plane.values.empty()) return;
  const std::vector<double> distance = Distances(plane, [](float v) { return v >= 0.5f; });
  for (size_t i = 0; i < plane.values.size(); ++i) {
    const auto grown = static_cast<float>(std::clamp(by + 1 - distance[i], 0.0, 1.0));
    plane.values[i] = std::max(plane.values[i], grown);
  }
}

// One pass of a box of radius `radius` (fractional: the outermost places weigh the fraction)
// along `count` values `step` apart; beyond the ends lies `outside`.
void BoxLine(float* values, size_t count, size_t step, double radius, float outside,
             std::vector<double>& sums) {
  const auto whole = static_cast<size_t>(radius);
  const double fraction = radius - static_cast<double>(whole);
  const size_t pad = whole + 1;
  // Prefix sums over the line padded with `outside` at both ends.
  sums.assign(count + 2 * pad + 1, 0);
  for (size_t i = 0; i < count + 2 * pad; ++i) {
    const double value = i < pad || i >= pad + count ? outside : values[(i - pad) * step];
    sums[i + 1] = sums[i] + value;
  }
  const auto at = [&](size_t i) { return sums[i + 1] - sums[i]; };
  const double width = 2 * radius + 1;
  for (size_t x = 0; x < count; ++x) {
    const size_t centre = x + pad;
    double sum = sums[centre + whole + 1] - sums[centre - whole];
    sum += fraction * (at(centre - whole - 1) + at(centre + whole + 1));
    values[x * step] = static_cast<float>(sum / width);
  }
}

// A Gaussian stand-in: a box run three times along rows and columns, each a third of `size`,
// which reaches `size` in all and costs the same whatever the size.
void Blur(Plane& plane, double size) {
  if (size < 0.5 || plane.values.empty()) return;
  const double radius = size / 3;
  const auto width = static_cast<size_t>(plane.region.Width());
  const auto height = static_cast<size_t>(plane.region.Height());
  std::vector<double> sums;
  for (int pass = 0; pass < 3; ++pass) {
    for (size_t y = 0; y < height; ++y) {
      BoxLine(plane.values.data() + y * width, width, 1, radius, plane.outside, sums);
    }
    for (size_t x = 0; x < width; ++x) {
      BoxLine(plane.values.data() + x, height, width, radius, plane.outside, sums);
    }
  }
}

int64_t Margin(double size) { return static_cast<int64_t>(std::ceil(size)) + 2; }

LayerRect Shift(const LayerRect& rect, int64_t dx, int64_t dy) {
  return {rect.top + dy, rect.left + dx, rect.bottom + dy, rect.right + dx};
}

// A shadow's or glow's matte over `region`: the layer's coverage (or what it leaves uncovered)
// moved by the effect's offset, spread and blurred.
Plane Matte(const LayerEffect& effect, const EffectSource& source, const LayerRect& region,
            bool inverse) {
  const LayerRect from =
      GrowRect(Shift(region, -effect.offset_x, -effect.offset_y), Margin(effect.size));
  Plane plane = Coverage(source, from, inverse);
  Spread(plane, effect.size * effect.spread);
  Blur(plane, effect.size * (1 - effect.spread));
  return plane;
}

// The coverage of `effect` over `region` (one value a pixel) into `coverage`.
void EffectCoverage(const LayerEffect& effect, const EffectSource& source, const LayerRect& region,
                    std::vector<float>& coverage) {
  coverage.assign(LayerArea(region), 0);
  const auto each = [&](auto value) {
    size_t i = 0;
    for (int64_t y = region.top; y < region.bottom; ++y) {
      for (int64_t x = region.left; x < region.right; ++x, ++i) coverage[i] = value(x, y);
    }
  };
  const int64_t dx = effect.offset_x, dy = effect.offset_y;
  // A glow's linear contour spans its range: at the default half, the matte's first half
  // already reaches full strength.
  const auto stretch = [&](float v) {
    return Curved(effect.contour, static_cast<float>(std::min(1.0, v / effect.range)));
  };
  const auto shaped = [&](float v) { return Curved(effect.contour, v); };
  switch (effect.kind) {
    case EffectKind::DropShadow: {
      const Plane matte = Matte(effect, source, region, false);
      const bool knockout = effect.knockout && source.fill_opacity < 1;
      each([&](int64_t x, int64_t y) {
        const float shadow = shaped(matte.At(x - dx, y - dy));
        return knockout ? shadow * (1 - SourceAlpha(source, x, y)) : shadow;
      });
      return;
    }
    case EffectKind::OuterGlow: {
      const Plane matte = Matte(effect, source, region, false);
      each([&](int64_t x, int64_t y) { return stretch(matte.At(x, y)); });
      return;
    }
    case EffectKind::InnerShadow:
    case EffectKind::InnerGlow: {
      const Plane matte = Matte(effect, source, region, true);
      const bool centre = effect.kind == EffectKind::InnerGlow && effect.from_centre;
      each([&](int64_t x, int64_t y) {
        float edge = matte.At(x - dx, y - dy);
        edge = effect.kind == EffectKind::InnerGlow ? stretch(edge) : shaped(edge);
        return (centre ? 1 - edge : edge) * SourceAlpha(source, x, y);
      });
      return;
    }
    case EffectKind::Satin: {
      // The layer's shape moved both ways along the angle and blurred: where the two differ.
      LayerEffect back = effect;
      back.offset_x = -dx;
      back.offset_y = -dy;
      const Plane there = Matte(effect, source, region, false);
      const Plane back_there = Matte(back, source, region, false);
      each([&](int64_t x, int64_t y) {
        const float apart =
            shaped(std::fabs(there.At(x - dx, y - dy) - back_there.At(x + dx, y + dy)));
        return (effect.invert ? 1 - apart : apart) * SourceAlpha(source, x, y);
      });
      return;
    }
    case EffectKind::ColourOverlay:
    case EffectKind::GradientOverlay:
    case EffectKind::PatternOverlay:
      each([&](int64_t x, int64_t y) { return SourceAlpha(source, x, y); });
      return;
    case EffectKind::Bevel:
      return;  // two pictures: BevelCoverage
    case EffectKind::Stroke: {
      // Rings of whole pixels counted from the edge: the first ring outside (or inside) lies
      // one pixel from the other side. Outside rings fill what the layer leaves uncovered there,
      // inside ones what it covers.
      const double outer = effect.position == StrokePosition::Inside   ? 0
                           : effect.position == StrokePosition::Centre ? effect.size / 2
                                                                       : effect.size;
      const double inner = effect.size - outer;
      const Plane plane = Coverage(source, GrowRect(region, Margin(effect.size)), false);
      const int64_t margin = Margin(effect.size);
      const auto width = static_cast<size_t>(plane.region.Width());
      const auto inside = [](float v) { return v >= 0.5f; };
      const std::vector<double> to_inside =
          outer > 0 ? Distances(plane, inside) : std::vector<double>();
      const std::vector<double> to_outside =
          inner > 0 ? Distances(plane, [](float v) { return v < 0.5f; }) : std::vector<double>();
      size_t i = 0;
      for (int64_t y = region.top; y < region.bottom; ++y) {
        for (int64_t x = region.left; x < region.right; ++x, ++i) {
          const size_t at = static_cast<size_t>(y - region.top + margin) * width +
                            static_cast<size_t>(x - region.left + margin);
          const double alpha = plane.values[at];
          double value = 0;
          if (outer > 0) value += std::clamp(outer + 1 - to_inside[at], 0.0, 1.0) * (1 - alpha);
          if (inner > 0) value += std::clamp(inner + 1 - to_outside[at], 0.0, 1.0) * alpha;
          coverage[i] = static_cast<float>(value);
        }
      }
      return;
    }
  }
}

// A bevel's highlight and shadow over `region`. The layer's edge is raised into a slope of the
// bevel's size (inside it, outside it, or across it), from the distances to the edge on either
// side, smoothed; the light falls on the slope, and where it falls more steeply than on flat
// ground there is highlight, where less, shadow.
void BevelCoverage(const LayerEffect& effect, const EffectSource& source, const LayerRect& region,
                   std::vector<float>& highlight, std::vector<float>& shadow) {
  const int64_t margin = Margin(effect.size);
  Plane plane = Coverage(source, GrowRect(region, margin), false);
  const std::vector<double> to_inside = Distances(plane, [](float v) { return v >= 0.5f; });
  const std::vector<double> to_outside = Distances(plane, [](float v) { return v < 0.5f; });
  const double size = effect.size;
  const double shift = effect.style == BevelStyle::Inner   ? 0
                       : effect.style == BevelStyle::Outer ? size
                                                           : size / 2;
  // The height, signed distance from the edge (positive inside) moved and cut to the slope; a
  // pillow's edge is a groove, half the size deep, whose sides rise both ways.
  Plane height{plane.region, std::vector<float>(plane.values.size()), 0};
  for (size_t i = 0; i < plane.values.size(); ++i) {
    const double signed_distance =
        plane.values[i] >= 0.5f ? to_outside[i] - 0.5 : 0.5 - to_inside[i];
    height.values[i] = static_cast<float>(effect.style == BevelStyle::Pillow
                                              ? std::min(std::abs(signed_distance), size / 2)
                                              : std::clamp(signed_distance + shift, 0.0, size));
  }
  height.outside = effect.style == BevelStyle::Pillow ? static_cast<float>(size / 2) : 0.0f;
  Blur(height, std::max(1.0, size / 4));
  const double sign = effect.down ? -1 : 1;
  const double azimuth = effect.light_angle * std::numbers::pi / 180;
  const double altitude = effect.altitude * std::numbers::pi / 180;
  const double lx = std::cos(altitude) * std::cos(azimuth);
  const double ly = -std::cos(altitude) * std::sin(azimuth);
  const double lz = std::sin(altitude);
  const size_t area = LayerArea(region);
  highlight.assign(area, 0);
  shadow.assign(area, 0);
  size_t i = 0;
  for (int64_t y = region.top; y < region.bottom; ++y) {
    for (int64_t x = region.left; x < region.right; ++x, ++i) {
      const double dx = sign * effect.depth * (height.At(x + 1, y) - height.At(x - 1, y)) / 2;
      const double dy = sign * effect.depth * (height.At(x, y + 1) - height.At(x, y - 1)) / 2;
      const double shade = (-dx * lx - dy * ly + lz) / std::sqrt(dx * dx + dy * dy + 1);
      const double alpha = SourceAlpha(source, x, y);
      const double where = effect.style == BevelStyle::Inner   ? alpha
                           : effect.style == BevelStyle::Outer ? 1 - alpha
                                                               : 1.0;
      if (shade > lz) {
        highlight[i] =
            static_cast<float>(std::min(1.0, (shade - lz) / std::max(1 - lz, 1e-6)) * where);
      } else {
        shadow[i] = static_cast<float>(std::min(1.0, (lz - shade) / std::max(lz, 1e-6)) * where);
      }
    }
  }
}

}  // namespace

EffectStage StageOf(EffectKind kind) {
  switch (kind) {
    case EffectKind::DropShadow:
    case EffectKind::OuterGlow:
      return EffectStage::Below;
    case EffectKind::Stroke:
    case EffectKind::Bevel:
      return EffectStage::Top;
    default:
      return EffectStage::Interior;
  }
}

LayerRect GrowRect(const LayerRect& rect, int64_t by) {
  return {rect.top - by, rect.left - by, rect.bottom + by, rect.right + by};
}

LayerEffects ReadLayerEffects(const Descriptor& settings, uint16_t mode, double global_angle,
                              const std::function<bool(const std::string&)>& drawable_pattern) {
  LayerEffects out;
  if (!settings.Flag("masterFXSwitch", true)) return out;
  // Sizes and distances are the document's pixels as they stand: the effects' "Scl " follows the
  // document's resolution (100% at 72 pixels an inch) and scales nothing.
  // Bottom first, as they stack.
  static constexpr std::pair<std::string_view, std::string_view> Order[] = {
      {"DrSh", "dropShadowMulti"},
      {"OrGl", "outerGlowMulti"},
      {"patternFill", "patternFillMulti"},
      {"GrFl", "gradientFillMulti"},
      {"SoFi", "solidFillMulti"},
      {"ChFX", "satinMulti"},
      {"IrGl", "innerGlowMulti"},
      {"IrSh", "innerShadowMulti"},
      {"FrFX", "frameFXMulti"},
      {"ebbl", "bevelEmbossMulti"},
  };
  for (const auto& [single, multiple] : Order) {
    for (const Descriptor* instance : Instances(settings, single, multiple)) {
      if (!instance->Flag("enab")) continue;
      LayerEffect effect;
      if (!ReadEffect(single, *instance, mode, global_angle, drawable_pattern, effect)) {
        out.left_out = true;
        continue;
      }
      if (effect.opacity <= 0 && effect.shadow_opacity <= 0) continue;
      const int64_t offset = std::max(std::abs(effect.offset_x), std::abs(effect.offset_y));
      out.reach = std::max(out.reach, offset + Margin(effect.size));
      out.effects.push_back(std::move(effect));
    }
  }
  return out;
}

bool DrawEffects(const LayerEffects& effects, EffectStage stage, const EffectSource& source,
                 const LayerRect& region, int colours, const EffectSink& sink) {
  if (region.Empty()) return true;
  LayerPixels picture;
  picture.region = region;
  picture.colours = colours;
  std::vector<float> coverage;
  const auto stride = static_cast<size_t>(colours + 1);
  const size_t area = LayerArea(region);
  for (const LayerEffect& effect : effects.effects) {
    if (StageOf(effect.kind) != stage) continue;
    if (effect.kind == EffectKind::Bevel) {
      std::vector<float> dark;
      BevelCoverage(effect, source, region, coverage, dark);
      for (const bool light : {true, false}) {
        const std::vector<float>& amount = light ? coverage : dark;
        const std::array<float, 4>& colour = light ? effect.colour : effect.shadow_colour;
        picture.samples.Resize(area * stride);
        float* out = picture.samples.data();
        for (size_t i = 0; i < area; ++i) {
          std::copy(colour.begin(), colour.begin() + colours, out + i * stride);
          out[i * stride + colours] = amount[i];
        }
        const bool drawn = sink(picture, light ? effect.mode : effect.shadow_mode,
                                light ? effect.opacity : effect.shadow_opacity);
        if (!drawn) return false;
      }
      continue;
    }
    EffectCoverage(effect, source, region, coverage);
    picture.samples.Resize(area * stride);
    float* out = picture.samples.data();
    if (effect.pattern) {
      const PatternTile* tile = source.pattern ? source.pattern(effect.pattern->id) : nullptr;
      if (!tile) continue;
      // A pattern linked with the layer keeps the place it had when linked, which the file
      // records only as its phase: from the canvas's corner, as unlinked ones.
      FillPattern(*tile, *effect.pattern, 0, 0, region, out, stride);
      for (size_t i = 0; i < area; ++i) out[i * stride + colours] *= coverage[i];
    } else if (effect.gradient) {
      const LayerRect& box = effect.gradient->align ? source.box : source.canvas;
      FillGradient(*effect.gradient, box, region, colours, out, stride);
      for (size_t i = 0; i < area; ++i) out[i * stride + colours] *= coverage[i];
    } else {
      for (size_t i = 0; i < area; ++i) {
        std::copy(effect.colour.begin(), effect.colour.begin() + colours, out + i * stride);
        out[i * stride + colours] = coverage[i];
      }
    }
    if (!sink(picture, effect.mode, effect.opacity)) return false;
  }
  return true;
}

std::optional<Descriptor> ReadOldEffects(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t version = 0, count = 0;
  if (!fields.Read(2, version) || version != 0 || !fields.Read(2, count)) return std::nullopt;
  Descriptor effects;
  effects.class_id = "null";
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t size = 0;
    if (!fields.Matches("8BIM") || !fields.Skip(4)) return std::nullopt;
    const std::span<const uint8_t> key = fields.Peek(4);
    if (key.empty() || !fields.Skip(4) || !fields.Read(4, size)) return std::nullopt;
    const std::span<const uint8_t> data = fields.Peek(size);
    if (data.size() != size || !fields.Skip(size)) return std::nullopt;
    const std::string name(key.begin(), key.end());
    if (name == "cmnS") {
      // The common state: a version, then whether the effects show.
      uint64_t visible = 1;
      ByteCursor state(data);
      if (state.Skip(4) && state.Read(1, visible)) {
        effects.items.emplace_back("masterFXSwitch", FlagValue(visible != 0));
      }
      continue;
    }
    std::optional<std::pair<std::string, Descriptor>> effect = OldEffect(name, data);
    if (!effect) return std::nullopt;
    effects.items.emplace_back(effect->first, ObjectValue(std::move(effect->second)));
  }
  return effects;
}
