#include "decoder/gradient.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "decoder/adjustments.h"
#include "engine/psd/psd_header.h"

namespace {

// Stop locations are stored in 4096ths, midpoints in percent.
constexpr double LocationUnits = 4096;

double Clamp(double value, double low, double high) {
  return std::isfinite(value) ? std::clamp(value, low, high) : low;
}

// The mix of two neighbouring stops at `t` between them: 0 at the first, 1 at the second, a half
// at `midpoint`.
double Mix(double t, double midpoint) {
  midpoint = Clamp(midpoint, 0.01, 0.99);
  return t <= midpoint ? 0.5 * t / midpoint : 0.5 + 0.5 * (t - midpoint) / (1 - midpoint);
}

// The segment of `stops` (sorted by location) that `t` falls in: the index of its lower stop and
// the mix towards the next; the same stop twice beyond the ends. A stop's midpoint is that of
// the segment that ends at it.
template <typename Stop>
std::pair<size_t, double> Segment(const std::vector<Stop>& stops, double t) {
  if (t <= stops.front().location) return {0, 0};
  for (size_t i = 0; i + 1 < stops.size(); ++i) {
    const Stop& low = stops[i];
    const Stop& high = stops[i + 1];
    if (t > high.location) continue;
    const double span = high.location - low.location;
    return {i, span <= 0 ? 1.0 : Mix((t - low.location) / span, high.midpoint)};
  }
  return {stops.size() - 1, 0};
}

// The colour channel `k` at mix `u` between stops `i` and `i + 1`, along the cubic through them
// whose slope at each stop is that from the stop before it to the stop after it (a stop at an
// end counts as its own neighbour beyond it, one segment away). At the middle of evenly spaced
// stops a, b, c, d it gives (9b + 9c - a - d) / 16, which is what stored composites of smooth
// gradients show.
double SmoothChannel(const std::vector<GradientColourStop>& stops, size_t i, double u, int k) {
  const size_t last = stops.size() - 1;
  const auto slope = [&](size_t at) {
    const size_t before = at == 0 ? 0 : at - 1, after = std::min(at + 1, last);
    double from = stops[before].location, to = stops[after].location;
    if (at == 0) from -= stops[after].location - stops[at].location;
    if (at == last) to += stops[at].location - stops[before].location;
    const double run = to - from;
    return run <= 0 ? 0.0 : (stops[after].colour[k] - stops[before].colour[k]) / run;
  };
  const size_t next = std::min(i + 1, last);
  const double length = stops[next].location - stops[i].location;
  const double p1 = stops[i].colour[k], p2 = stops[next].colour[k];
  const double m1 = slope(i) * length, m2 = slope(next) * length;
  const double u2 = u * u, u3 = u2 * u;
  return (2 * u3 - 3 * u2 + 1) * p1 + (u3 - 2 * u2 + u) * m1 + (3 * u2 - 2 * u3) * p2 +
         (u3 - u2) * m2;
}

template <typename Stop>
void SortStops(std::vector<Stop>& stops) {
  std::stable_sort(stops.begin(), stops.end(),
                   [](const Stop& a, const Stop& b) { return a.location < b.location; });
}

GradientShape ShapeOf(const std::string& type) {
  if (type == "Rdl ") return GradientShape::Radial;
  if (type == "Angl") return GradientShape::Angle;
  if (type == "Rflc") return GradientShape::Reflected;
  if (type == "Dmnd") return GradientShape::Diamond;
  return GradientShape::Linear;
}

}  // namespace

std::optional<Gradient> ReadGradient(const Descriptor& settings, uint16_t mode) {
  const Descriptor* stops = settings.Object("Grad");
  if (!stops || stops->Text("GrdF") == "ClNs") return std::nullopt;
  const std::vector<DescriptorValue>* colours = stops->List("Clrs");
  if (!colours || colours->empty()) return std::nullopt;
  Gradient gradient;
  for (const DescriptorValue& item : *colours) {
    if (!item.object) return std::nullopt;
    const Descriptor& stop = *item.object;
    GradientColourStop out;
    out.location = Clamp(stop.Number("Lctn") / LocationUnits, 0, 1);
    out.midpoint = Clamp(stop.Number("Mdpn", 50) / 100, 0, 1);
    const Descriptor* colour = stop.Object("Clr ");
    std::optional<std::array<float, 4>> value =
        colour ? ReadDescriptorColour(*colour, mode) : std::nullopt;
    if (!value) {
      // The foreground and background colours are not in the file: their defaults, black and
      // white.
      const std::string type = stop.Text("Type");
      if (type != "FrgC" && type != "BckC") return std::nullopt;
      Descriptor grey;
      grey.class_id = "Grsc";
      DescriptorValue level;
      level.kind = DescriptorValue::Kind::Number;
      level.number = type == "FrgC" ? 100 : 0;
      grey.items.emplace_back("Gry ", level);
      value = ReadDescriptorColour(grey, mode);
    }
    out.colour = *value;
    gradient.colours.push_back(out);
  }
  if (const std::vector<DescriptorValue>* opacities = stops->List("Trns")) {
    for (const DescriptorValue& item : *opacities) {
      if (!item.object) return std::nullopt;
      GradientOpacityStop out;
      out.location = Clamp(item.object->Number("Lctn") / LocationUnits, 0, 1);
      out.midpoint = Clamp(item.object->Number("Mdpn", 50) / 100, 0, 1);
      out.opacity = static_cast<float>(Clamp(item.object->Number("Opct", 100) / 100, 0, 1));
      gradient.opacities.push_back(out);
    }
  }
  if (gradient.opacities.empty()) gradient.opacities.push_back({});
  // Stored in 4096ths; gradients written without it are smooth, the editor's default.
  gradient.smoothness = Clamp(stops->Number("Intr", LocationUnits) / LocationUnits, 0, 1);
  SortStops(gradient.colours);
  SortStops(gradient.opacities);
  gradient.shape = ShapeOf(settings.Text("Type"));
  gradient.angle = Clamp(settings.Number("Angl", 90), -3600, 3600);
  gradient.scale = Clamp(settings.Number("Scl ", 100) / 100, 0.01, 100);
  if (const Descriptor* offset = settings.Object("Ofst")) {
    gradient.offset_x = Clamp(offset->Number("Hrzn") / 100, -100, 100);
    gradient.offset_y = Clamp(offset->Number("Vrtc") / 100, -100, 100);
  }
  // Only levels that stand for light (RGB and grey) can be mixed as light.
  gradient.mix_in_light =
      settings.Text("gs99") == "Lnr " && (mode == PsdModeRgb || mode == PsdModeGreyscale);
  gradient.reverse = settings.Flag("Rvrs");
  gradient.align = settings.Flag("Algn", true);
  return gradient;
}

std::shared_ptr<const Gradient> ReadGradientFill(std::span<const uint8_t> block, uint16_t mode) {
  const std::optional<Descriptor> settings = ReadVersionedDescriptor(block);
  if (!settings) return nullptr;
  std::optional<Gradient> gradient = ReadGradient(*settings, mode);
  if (!gradient) return nullptr;
  return std::make_shared<const Gradient>(std::move(*gradient));
}

GradientLine GradientEnds(const Gradient& gradient, const LayerRect& box) {
  const double width = static_cast<double>(box.Width());
  const double height = static_cast<double>(box.Height());
  const double centre_x = static_cast<double>(box.left) + width / 2 + gradient.offset_x * width;
  const double centre_y = static_cast<double>(box.top) + height / 2 + gradient.offset_y * height;
  const double radians = gradient.angle * std::numbers::pi / 180;
  // Rows go down, so the direction's vertical part is negated.
  const double cosine = std::cos(radians), sine = -std::sin(radians);
  // Half the chord the gradient's line cuts through the box: it leaves the box where it meets
  // the nearer pair of edges.
  constexpr double Tiny = 1e-9;
  double half = std::numeric_limits<double>::infinity();
  if (std::fabs(cosine) > Tiny) half = std::min(half, width / 2 / std::fabs(cosine));
  if (std::fabs(sine) > Tiny) half = std::min(half, height / 2 / std::fabs(sine));
  half = std::max(half * gradient.scale, 0.5);
  // The ends lie on whole pixels, snapped up and to the left; the slack keeps a product like
  // 4.9999999 from dropping a whole pixel.
  const auto snap = [](double value) { return std::floor(value + 1e-6); };
  GradientLine line;
  line.from_x = snap(centre_x - half * cosine);
  line.from_y = snap(centre_y - half * sine);
  line.centre_x = snap(centre_x);
  line.centre_y = snap(centre_y);
  line.to_x = snap(centre_x + half * cosine);
  line.to_y = snap(centre_y + half * sine);
  return line;
}

double GradientPlace(const Gradient& gradient, const GradientLine& line, double x, double y) {
  // Linear runs from end to end; the other shapes start at the centre and reach the end.
  const bool linear = gradient.shape == GradientShape::Linear;
  const double start_x = linear ? line.from_x : line.centre_x;
  const double start_y = linear ? line.from_y : line.centre_y;
  double reach_x = line.to_x - start_x, reach_y = line.to_y - start_y;
  double span = reach_x * reach_x + reach_y * reach_y;
  if (span <= 0) {
    // Snapped onto its start: a pixel's length the gradient's way.
    const double radians = gradient.angle * std::numbers::pi / 180;
    reach_x = std::cos(radians);
    reach_y = -std::sin(radians);
    span = 1;
  }
  const double dx = x - start_x, dy = y - start_y;
  const double along = (dx * reach_x + dy * reach_y) / span;  // in lengths of the reach
  const double across = (dy * reach_x - dx * reach_y) / span;
  double t = 0;
  switch (gradient.shape) {
    case GradientShape::Linear:
    case GradientShape::Reflected:
      t = linear ? along : std::fabs(along);
      break;
    case GradientShape::Radial:
      t = std::hypot(along, across);
      break;
    case GradientShape::Diamond:
      t = std::fabs(along) + std::fabs(across);
      break;
    case GradientShape::Angle: {
      // Once round, counter-clockwise from the gradient's direction.
      const double turn = std::atan2(-across, along) / (2 * std::numbers::pi);
      t = turn - std::floor(turn);
      break;
    }
  }
  t = Clamp(t, 0, 1);
  return gradient.reverse ? 1 - t : t;
}

void GradientColourAt(const Gradient& gradient, double t, int colours, float* colour,
                      float& opacity) {
  const auto [c, mix] = Segment(gradient.colours, t);
  const auto& low = gradient.colours[c].colour;
  const auto& high = gradient.colours[std::min(c + 1, gradient.colours.size() - 1)].colour;
  const double smooth = gradient.smoothness;
  for (int k = 0; k < colours; ++k) {
    double value = low[k] + mix * (high[k] - low[k]);
    if (smooth > 0) {
      value += smooth * (SmoothChannel(gradient.colours, c, mix, k) - value);
      // The curve stays between the two stops it joins: an ink that peaks at a stop does not
      // swell past it on either side, as stored composites show.
      value = std::clamp(value, static_cast<double>(std::min(low[k], high[k])),
                         static_cast<double>(std::max(low[k], high[k])));
    }
    colour[k] = static_cast<float>(value);
  }
  const auto [o, fade] = Segment(gradient.opacities, t);
  const float from = gradient.opacities[o].opacity;
  const float to = gradient.opacities[std::min(o + 1, gradient.opacities.size() - 1)].opacity;
  opacity = static_cast<float>(from + fade * (to - from));
}

void FillGradient(const Gradient& gradient, const LayerRect& box, const LayerRect& region,
                  int colours, float* out, size_t stride) {
  // A table of the stops' colours, finer than any depth tells apart, so each pixel costs only
  // its place.
  constexpr int Steps = 4096;
  std::vector<float> table(static_cast<size_t>(Steps + 1) * 5);
  // Colours that mix as light are mixed as light, and the table holds their levels again.
  Gradient mixed = gradient;
  if (gradient.mix_in_light) {
    for (GradientColourStop& stop : mixed.colours) {
      for (int k = 0; k < colours; ++k)
        stop.colour[k] = static_cast<float>(SrgbToLight(stop.colour[k]));
    }
  }
  for (int i = 0; i <= Steps; ++i) {
    float* entry = table.data() + static_cast<size_t>(i) * 5;
    GradientColourAt(mixed, static_cast<double>(i) / Steps, colours, entry, entry[4]);
    if (!gradient.mix_in_light) continue;
    for (int k = 0; k < colours; ++k) entry[k] = static_cast<float>(SrgbFromLight(entry[k]));
  }
  const GradientLine line = GradientEnds(gradient, box);
  for (int64_t y = region.top; y < region.bottom; ++y) {
    for (int64_t x = region.left; x < region.right; ++x, out += stride) {
      const double t =
          GradientPlace(gradient, line, static_cast<double>(x), static_cast<double>(y));
      const float* entry = table.data() + static_cast<size_t>(std::lround(t * Steps)) * 5;
      std::copy(entry, entry + colours, out);
      out[colours] = entry[4];
    }
  }
}
