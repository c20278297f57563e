#include "decoder/adjustments.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "decoder/descriptor.h"
#include "decoder/psd_layers.h"
#include "engine/image/byte_cursor.h"
#include "engine/psd/psd_header.h"

struct AdjustmentSettings {
  // Levels of one channel: the input range that maps onto the output range, bent by the gamma.
  struct LevelsRange {
    float in_black = 0, in_white = 1, out_black = 0, out_white = 1, gamma = 1;
  };

  // One range of colours that hue/saturation changes apart from the rest: its hues in degrees,
  // the ramps outside [begin, end] fading its change out.
  struct HueRange {
    float ramp_begin = 0, begin = 0, end = 0, ramp_end = 0;
    float hue = 0, saturation = 0, lightness = 0;
  };

  struct GradientStop {
    float position = 0;  // 0..1
    float midpoint = 0.5f;
    std::array<float, 3> rgb{};
  };

  // Levels: [0] for every channel, then one a channel; curves likewise, 256 outputs each (0..1),
  // none where the channel keeps its levels.
  std::array<LevelsRange, 5> levels{};
  std::array<std::vector<float>, 5> curves{};
  // Hue/saturation: colourize sets one hue and saturation; otherwise the master change plus each
  // colour range's where a hue falls in it. Hue in degrees, the rest -1..1.
  bool colourize = false;
  float colourize_hue = 0, colourize_saturation = 0, colourize_lightness = 0;
  float hue = 0, saturation = 0, lightness = 0;
  std::array<HueRange, 6> ranges{};
  // Exposure: stops, offset and gamma, on linear light.
  float exposure = 0, offset = 0, gamma = 1;
  // Vibrance and saturation, -1..1.
  float vibrance = 0, vibrance_saturation = 0;
  // Colour balance: shadows, midtones, highlights, each cyan-red, magenta-green, yellow-blue,
  // -1..1.
  std::array<std::array<float, 3>, 3> balance{};
  bool preserve_luminosity = false;
  // Black & white: the weight of red, yellow, green, cyan, blue and magenta; an optional tint.
  std::array<float, 6> weights{};
  bool tint = false;
  std::array<float, 3> tint_rgb{};
  // Channel mixer: each output channel from red, green, blue, plus a constant (fractions).
  bool monochrome = false;
  std::array<std::array<float, 4>, 3> mix{};
  // Photo filter: its colour and density (0..1); preserve_luminosity above.
  std::array<float, 3> filter{};
  float density = 0;
  // Gradient map: colour stops along the level; the perceptual method places a pixel on the
  // gradient by its light rather than its level.
  std::vector<GradientStop> stops;
  bool light_level = false;
  // Selective colour: cyan, magenta, yellow and black changes (-1..1) for reds, yellows, greens,
  // cyans, blues, magentas, whites, neutrals and blacks; absolute or relative to the ink there.
  bool absolute = false;
  std::array<std::array<float, 4>, 9> selective{};
};

namespace {

using LevelsRange = AdjustmentSettings::LevelsRange;
using HueRange = AdjustmentSettings::HueRange;
using GradientStop = AdjustmentSettings::GradientStop;

// Blocks of adjustment and fill layers that we know but do not draw.
constexpr uint32_t UndrawnKeys[] = {
    FourCc("hue "),
    FourCc("clrL"),
    FourCc("GdFl"),
    FourCc("PtFl"),
};

float Clamp01(double value) { return static_cast<float>(std::clamp(value, 0.0, 1.0)); }

// Rec. 601 luma, which the threshold of an RGB picture is taken on.
float Luma(const float* rgb) { return 0.299f * rgb[0] + 0.587f * rgb[1] + 0.114f * rgb[2]; }

// Lab as a Lab document stores it: L over 0..100, a and b with 0 at 128 of 255.
std::array<float, 4> StoredLab(double l, double a, double b) {
  return {Clamp01(l / 100), Clamp01((a + 128) / 255), Clamp01((b + 128) / 255), 0};
}

// sRGB (0..1) in CIE Lab under D50, the white Lab documents are relative to: IEC 61966-2.1's
// curve, then its primaries adapted to D50 (Bradford), as the ICC's sRGB profile gives them.
std::array<float, 4> SrgbToStoredLab(double r, double g, double b) {
  const auto linear = [](double v) { return SrgbToLight(std::clamp(v, 0.0, 1.0)); };
  r = linear(r);
  g = linear(g);
  b = linear(b);
  const double x = (0.4360747 * r + 0.3850649 * g + 0.1430804 * b) / 0.9642;
  const double y = 0.2225045 * r + 0.7168786 * g + 0.0606169 * b;
  const double z = (0.0139322 * r + 0.0971045 * g + 0.7141733 * b) / 0.8249;
  const auto f = [](double t) {
    return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116;
  };
  return StoredLab(116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z)));
}

// A colour descriptor ("RGBC", "Grsc", "CMYC", "HSBC"; "LbCl" in a Lab document) in the channels
// of a document of `mode`, as stored; std::nullopt for a kind we do not read.
std::optional<std::array<float, 4>> DocumentColour(const Descriptor& colour, uint16_t mode) {
  double r = 0, g = 0, b = 0;  // 0..1
  const std::string& kind = colour.class_id;
  if (kind == "LbCl") {
    if (mode != PsdModeLab) return std::nullopt;
    return StoredLab(colour.Number("Lmnc"), colour.Number("A   "), colour.Number("B   "));
  }
  if (kind == "RGBC") {
    r = colour.Number("Rd  ") / 255;
    g = colour.Number("Grn ") / 255;
    b = colour.Number("Bl  ") / 255;
  } else if (kind == "Grsc") {
    r = g = b = 1 - colour.Number("Gry ") / 100;
  } else if (kind == "CMYC") {
    const double k = colour.Number("Blck") / 100;
    r = (1 - colour.Number("Cyn ") / 100) * (1 - k);
    g = (1 - colour.Number("Mgnt") / 100) * (1 - k);
    b = (1 - colour.Number("Ylw ") / 100) * (1 - k);
    if (mode == PsdModeCmyk) {
      return std::array<float, 4>{Clamp01(1 - colour.Number("Cyn ") / 100),
                                  Clamp01(1 - colour.Number("Mgnt") / 100),
                                  Clamp01(1 - colour.Number("Ylw ") / 100), Clamp01(1 - k)};
    }
  } else if (kind == "HSBC") {
    // Hue in degrees, saturation and brightness in percent.
    const double h = std::fmod(std::fmod(colour.Number("H   "), 360) + 360, 360) / 60;
    const double s = colour.Number("Strt") / 100, v = colour.Number("Brgh") / 100;
    const double c = v * s, x = c * (1 - std::fabs(std::fmod(h, 2) - 1)), m = v - c;
    const int sector = static_cast<int>(h) % 6;
    const double table[6][3] = {{c, x, 0}, {x, c, 0}, {0, c, x}, {0, x, c}, {x, 0, c}, {c, 0, x}};
    r = table[sector][0] + m;
    g = table[sector][1] + m;
    b = table[sector][2] + m;
  } else {
    return std::nullopt;
  }
  if (mode == PsdModeGreyscale) {
    const float rgb[3] = {Clamp01(r), Clamp01(g), Clamp01(b)};
    return std::array<float, 4>{Luma(rgb), 0, 0, 0};
  }
  if (mode == PsdModeCmyk) {
    // The plain conversion: black takes what the three have in common.
    const double k = 1 - std::max({r, g, b});
    const auto ink = [k](double value) { return k >= 1 ? 0.0 : (1 - value - k) / (1 - k); };
    return std::array<float, 4>{Clamp01(1 - ink(r)), Clamp01(1 - ink(g)), Clamp01(1 - ink(b)),
                                Clamp01(1 - k)};
  }
  // Colours given in other spaces are taken as sRGB.
  if (mode == PsdModeLab) return SrgbToStoredLab(r, g, b);
  return std::array<float, 4>{Clamp01(r), Clamp01(g), Clamp01(b), 0};
}

// Brightness and contrast on one sample (0..1), as Photoshop's legacy mode: brightness shifts
// every level, contrast stretches the levels about the middle.
float LegacyBrightnessContrast(float value, float brightness, float contrast) {
  double v = value + brightness / 255.0;
  const double middle = 127.5 / 255;
  if (contrast >= 100) return v >= middle ? 1.0f : 0.0f;
  const double slope = contrast >= 0 ? 100.0 / (100.0 - contrast) : (100.0 + contrast) / 100.0;
  return Clamp01((v - middle) * slope + middle);
}

// The current mode is not published; this model was measured against Photoshop's own composites
// of the current mode. Black and white stay where they are. Brightness bends the levels as
// 1 - (1 - t)^k on nearly linear light (t = v^2.2), k = 2^(brightness / 47). Contrast is an S of
// two rational arcs meeting at the image's mean level (which the layer stores), with slope
// 2^(contrast / 88) there.
float BrightnessContrast(float value, float brightness, float contrast, float mean) {
  double v = std::clamp<double>(value, 0, 1);
  if (brightness != 0) {
    const double k = std::exp2(brightness / 47.0);
    v = std::pow(1 - std::pow(1 - std::pow(v, 2.2), k), 1 / 2.2);
  }
  if (contrast != 0) {
    // Rises from 0 to 1 with slope s at 0 and 1/s at 1; s > 0, so the divisor never vanishes.
    const double s = std::exp2(-contrast / 88.0);
    const auto arc = [s](double u) { return u * s / (1 + (s - 1) * u); };
    const double m = std::clamp<double>(mean, 1 / 255.0, 254 / 255.0);
    v = v < m ? m * arc(v / m) : 1 - (1 - m) * arc((1 - v) / (1 - m));
  }
  return Clamp01(v);
}

float Levelled(const LevelsRange& range, float value) {
  double v = std::clamp((value - range.in_black) / (range.in_white - range.in_black), 0.0f, 1.0f);
  if (range.gamma != 1) v = std::pow(v, 1.0 / range.gamma);
  return Clamp01(range.out_black + v * (range.out_white - range.out_black));
}

// Hue (degrees), saturation and lightness, the double cone model.
std::array<float, 3> ToHsl(const float* rgb) {
  const float high = std::max({rgb[0], rgb[1], rgb[2]}), low = std::min({rgb[0], rgb[1], rgb[2]});
  const float lightness = (high + low) / 2, chroma = high - low;
  if (chroma <= 0) return {0, 0, lightness};
  const float saturation = chroma / (1 - std::fabs(2 * lightness - 1));
  float hue = 0;
  if (high == rgb[0]) {
    hue = std::fmod((rgb[1] - rgb[2]) / chroma + 6, 6.0f);
  } else if (high == rgb[1]) {
    hue = (rgb[2] - rgb[0]) / chroma + 2;
  } else {
    hue = (rgb[0] - rgb[1]) / chroma + 4;
  }
  return {hue * 60, std::min(saturation, 1.0f), lightness};
}

void FromHsl(float hue, float saturation, float lightness, float* rgb) {
  const float chroma = (1 - std::fabs(2 * lightness - 1)) * saturation;
  const float h = std::fmod(std::fmod(hue, 360.0f) + 360, 360.0f) / 60;
  const float x = chroma * (1 - std::fabs(std::fmod(h, 2.0f) - 1)), m = lightness - chroma / 2;
  const float table[6][3] = {{chroma, x, 0}, {x, chroma, 0}, {0, chroma, x},
                             {0, x, chroma}, {x, 0, chroma}, {chroma, 0, x}};
  const int sector = std::min(static_cast<int>(h), 5);
  for (int c = 0; c < 3; ++c) rgb[c] = Clamp01(table[sector][c] + m);
}

// How much of a range's change a hue takes: all inside [begin, end], fading to none across the
// ramps, in degrees round the circle.
float RangeWeight(const HueRange& range, float hue) {
  const auto from = [](float start, float h) {
    return std::fmod(std::fmod(h - start, 360.0f) + 360, 360.0f);
  };
  const float inside = from(range.begin, range.end), at = from(range.begin, hue);
  if (at <= inside) return 1;
  const float after = at - inside, ramp_out = from(range.end, range.ramp_end);
  if (ramp_out > 0 && after < ramp_out) return 1 - after / ramp_out;
  const float before = from(hue, range.begin), ramp_in = from(range.ramp_begin, range.begin);
  if (ramp_in > 0 && before < ramp_in) return 1 - before / ramp_in;
  return 0;
}

// Lightness toward white for more, toward black for less.
void Lighten(float amount, float* rgb) {
  for (int c = 0; c < 3; ++c) {
    rgb[c] = amount >= 0 ? rgb[c] + (1 - rgb[c]) * amount : rgb[c] * (1 + amount);
  }
}

void HueSaturation(const AdjustmentSettings& s, float* rgb) {
  std::array<float, 3> hsl = ToHsl(rgb);
  if (s.colourize) {
    FromHsl(s.colourize_hue, s.colourize_saturation, hsl[2], rgb);
    Lighten(s.colourize_lightness, rgb);
    return;
  }
  float hue = s.hue, saturation = s.saturation, lightness = s.lightness;
  if (hsl[1] > 0) {
    for (const HueRange& range : s.ranges) {
      const float weight = RangeWeight(range, hsl[0]);
      hue += weight * range.hue;
      saturation += weight * range.saturation;
      lightness += weight * range.lightness;
    }
  }
  saturation = std::clamp(saturation, -1.0f, 1.0f);
  FromHsl(hsl[0] + hue, Clamp01(hsl[1] * (1 + saturation)), hsl[2], rgb);
  Lighten(std::clamp(lightness, -1.0f, 1.0f), rgb);
}

// Moves a colour to the luma `luma`, bringing it back within the levels along its line to grey.
void SetLuma(float* rgb, float luma) {
  const float shift = luma - Luma(rgb);
  for (int c = 0; c < 3; ++c) rgb[c] += shift;
  const float l = Luma(rgb);
  const float low = std::min({rgb[0], rgb[1], rgb[2]}), high = std::max({rgb[0], rgb[1], rgb[2]});
  for (int c = 0; c < 3; ++c) {
    if (low < 0) rgb[c] = l + (rgb[c] - l) * l / (l - low);
    if (high > 1) rgb[c] = l + (rgb[c] - l) * (1 - l) / (high - l);
    rgb[c] = std::clamp(rgb[c], 0.0f, 1.0f);
  }
}

void Vibrance(const AdjustmentSettings& s, float* rgb) {
  const float luma = Luma(rgb);
  const float chroma = std::max({rgb[0], rgb[1], rgb[2]}) - std::min({rgb[0], rgb[1], rgb[2]});
  // Vibrance does most to the dullest colours, saturation the same to all.
  const float factor = (1 + s.vibrance * (1 - chroma)) * (1 + s.vibrance_saturation);
  for (int c = 0; c < 3; ++c) rgb[c] = Clamp01(luma + factor * (rgb[c] - luma));
}

void ColourBalance(const AdjustmentSettings& s, float* rgb) {
  const float lightness = ToHsl(rgb)[2];
  // Shadows, midtones and highlights overlap, each at most 0.7 of its change.
  const auto ramp = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
  const float weights[3] = {ramp((lightness - 1.0f / 3) / -0.25f + 0.5f) * 0.7f,
                            ramp((lightness - 1.0f / 3) / 0.25f + 0.5f) *
                                ramp((lightness + 1.0f / 3 - 1) / -0.25f + 0.5f) * 0.7f,
                            ramp((lightness + 1.0f / 3 - 1) / 0.25f + 0.5f) * 0.7f};
  for (int c = 0; c < 3; ++c) {
    float v = rgb[c];
    for (int range = 0; range < 3; ++range) v += weights[range] * s.balance[range][c];
    rgb[c] = Clamp01(v);
  }
  if (s.preserve_luminosity) {
    const std::array<float, 3> hsl = ToHsl(rgb);
    FromHsl(hsl[0], hsl[1], lightness, rgb);
  }
}

void BlackAndWhite(const AdjustmentSettings& s, float* rgb) {
  // The smallest channel is grey already; what the middle one adds over it is the mixed colour
  // (yellow, cyan or magenta), what the largest adds over that is its primary.
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [rgb](int a, int b) { return rgb[a] < rgb[b]; });
  const int low = order[0], middle = order[1], high = order[2];
  static constexpr int Primary[3] = {0, 2, 4};  // red, green, blue among the weights
  // The mix of the two largest channels: red+green yellow, green+blue cyan, red+blue magenta.
  const int pair = high + middle;
  const int secondary = pair == 1 ? 1 : pair == 3 ? 3 : 5;
  const float grey = rgb[low] +
                     (rgb[middle] - rgb[low]) * s.weights[static_cast<size_t>(secondary)] +
                     (rgb[high] - rgb[middle]) * s.weights[static_cast<size_t>(Primary[high])];
  const float level = Clamp01(grey);
  if (!s.tint) {
    rgb[0] = rgb[1] = rgb[2] = level;
    return;
  }
  std::copy(s.tint_rgb.begin(), s.tint_rgb.end(), rgb);
  SetLuma(rgb, level);
}

void ChannelMixer(const AdjustmentSettings& s, float* rgb) {
  float out[3];
  for (int c = 0; c < 3; ++c) {
    const auto& row = s.mix[static_cast<size_t>(s.monochrome ? 0 : c)];
    out[c] = Clamp01(row[0] * rgb[0] + row[1] * rgb[1] + row[2] * rgb[2] + row[3]);
  }
  std::copy(out, out + 3, rgb);
}

void PhotoFilter(const AdjustmentSettings& s, float* rgb) {
  // A coloured glass: the light is multiplied by the filter, as much as the density says.
  const float luma = Luma(rgb);
  for (int c = 0; c < 3; ++c)
    rgb[c] += s.density * (rgb[c] * s.filter[static_cast<size_t>(c)] - rgb[c]);
  if (s.preserve_luminosity) SetLuma(rgb, luma);
}

void GradientMap(const AdjustmentSettings& s, float* rgb) {
  const float level = s.light_level
                          ? static_cast<float>(SrgbToLight(std::clamp(Luma(rgb), 0.0f, 1.0f)))
                          : Luma(rgb);
  const std::vector<GradientStop>& stops = s.stops;
  if (level <= stops.front().position) {
    std::copy(stops.front().rgb.begin(), stops.front().rgb.end(), rgb);
    return;
  }
  for (size_t i = 1; i < stops.size(); ++i) {
    const GradientStop &a = stops[i - 1], &b = stops[i];
    if (level > b.position) continue;
    float t = b.position > a.position ? (level - a.position) / (b.position - a.position) : 1;
    // The midpoint is where the span is half one colour, half the other.
    t = t < b.midpoint ? 0.5f * t / b.midpoint : 0.5f + 0.5f * (t - b.midpoint) / (1 - b.midpoint);
    for (int c = 0; c < 3; ++c) {
      rgb[c] = a.rgb[static_cast<size_t>(c)] +
               t * (b.rgb[static_cast<size_t>(c)] - a.rgb[static_cast<size_t>(c)]);
    }
    return;
  }
  std::copy(stops.back().rgb.begin(), stops.back().rgb.end(), rgb);
}

void SelectiveColour(const AdjustmentSettings& s, float* rgb) {
  const float high = std::max({rgb[0], rgb[1], rgb[2]}), low = std::min({rgb[0], rgb[1], rgb[2]});
  const float middle = rgb[0] + rgb[1] + rgb[2] - high - low;
  // How much of each range a colour holds: a primary by how far its channel leads, a mixed colour
  // by how far its two channels lead the third; whites, neutrals and blacks by the levels.
  float amounts[9] = {};
  const int leader = rgb[0] == high ? 0 : rgb[1] == high ? 1 : 2;
  const int last = rgb[2] == low ? 2 : rgb[1] == low ? 1 : 0;
  amounts[leader * 2] = high - middle;               // reds, greens, blues
  static constexpr int MixedWithout[3] = {3, 5, 1};  // cyans, magentas, yellows
  amounts[MixedWithout[last]] = middle - low;
  if (low > 0.5f) amounts[6] = (low - 0.5f) * 2;
  if (high < 0.5f) amounts[8] = (0.5f - high) * 2;
  amounts[7] = std::max(0.0f, 1 - (std::fabs(high - 0.5f) + std::fabs(low - 0.5f)));
  float ink[3] = {1 - rgb[0], 1 - rgb[1], 1 - rgb[2]};
  float change[3] = {};
  for (size_t range = 0; range < 9; ++range) {
    if (amounts[range] <= 0) continue;
    const auto& adjust = s.selective[range];
    for (size_t c = 0; c < 3; ++c) {
      // Black darkens every ink in proportion to what the colour ink leaves.
      const float total = (1 + adjust[c]) * (1 + adjust[3]) - 1;
      change[c] += amounts[range] * total * (s.absolute ? 1 : ink[c]);
    }
  }
  for (int c = 0; c < 3; ++c) rgb[c] = Clamp01(1 - (ink[c] + change[c]));
}

bool ReadSigned(ByteCursor& fields, float& value) {
  uint64_t bits = 0;
  if (!fields.Read(2, bits)) return false;
  value = static_cast<int16_t>(bits);
  return true;
}

bool ReadFloat(ByteCursor& fields, float& value) {
  const std::span<const uint8_t> bytes = fields.Peek(4);
  if (bytes.size() < 4) return false;
  value = BigEndianFloat(bytes.data());
  fields.Skip(4);
  return std::isfinite(value);
}

}  // namespace

std::optional<std::array<float, 3>> StructureColour(int space, const std::array<uint16_t, 4>& c) {
  const auto unit = [](uint16_t value) { return value / 65535.0; };
  switch (space) {
    case 0:
      return std::array<float, 3>{Clamp01(unit(c[0])), Clamp01(unit(c[1])), Clamp01(unit(c[2]))};
    case 1: {
      const double h = unit(c[0]) * 6, s = unit(c[1]), v = unit(c[2]);
      const double chroma = v * s, x = chroma * (1 - std::fabs(std::fmod(h, 2) - 1));
      const double table[6][3] = {{chroma, x, 0}, {x, chroma, 0}, {0, chroma, x},
                                  {0, x, chroma}, {x, 0, chroma}, {chroma, 0, x}};
      const int sector = std::min(static_cast<int>(h), 5);
      const double m = v - chroma;
      return std::array<float, 3>{Clamp01(table[sector][0] + m), Clamp01(table[sector][1] + m),
                                  Clamp01(table[sector][2] + m)};
    }
    case 2: {
      // Stored as 1 - ink.
      const double k = 1 - unit(c[3]);
      return std::array<float, 3>{Clamp01(unit(c[0]) * (1 - k)), Clamp01(unit(c[1]) * (1 - k)),
                                  Clamp01(unit(c[2]) * (1 - k))};
    }
    case 7: {
      // L* 0..10000, a* and b* signed hundredths, on the D50 white.
      const double l = c[0] / 100.0;
      const double a = static_cast<int16_t>(c[1]) / 100.0, b = static_cast<int16_t>(c[2]) / 100.0;
      const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
      const auto f = [](double t) {
        return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29);
      };
      const double x = 0.96422 * f(fx), y = f(fy), z = 0.82521 * f(fz);
      // D50 XYZ to linear sRGB (Bradford adapted).
      const double lin[3] = {3.1338561 * x - 1.6168667 * y - 0.4906146 * z,
                             -0.9787684 * x + 1.9161415 * y + 0.0334540 * z,
                             0.0719453 * x - 0.2289914 * y + 1.4052427 * z};
      std::array<float, 3> rgb{};
      for (int i = 0; i < 3; ++i) rgb[i] = Clamp01(SrgbFromLight(std::clamp(lin[i], 0.0, 1.0)));
      return rgb;
    }
    case 8: {
      const float grey = Clamp01(c[0] / 10000.0);
      return std::array<float, 3>{grey, grey, grey};
    }
    default:
      return std::nullopt;
  }
}

namespace {

std::optional<AdjustmentSettings> ReadLevels(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t version = 0;
  if (!fields.Read(2, version) || version != 2) return std::nullopt;
  AdjustmentSettings settings;
  for (LevelsRange& range : settings.levels) {
    float in_black = 0, in_white = 0, out_black = 0, out_white = 0, gamma = 0;
    if (!ReadSigned(fields, in_black) || !ReadSigned(fields, in_white) ||
        !ReadSigned(fields, out_black) || !ReadSigned(fields, out_white) ||
        !ReadSigned(fields, gamma)) {
      return std::nullopt;
    }
    if (in_black < 0 || in_white > 255 || in_black >= in_white || gamma < 1) return std::nullopt;
    range = {in_black / 255, in_white / 255, std::clamp(out_black, 0.0f, 255.0f) / 255,
             std::clamp(out_white, 0.0f, 255.0f) / 255, std::min(gamma, 999.0f) / 100};
  }
  return settings;
}

// One curve: its point count, then output and input of each point.
bool ReadCurve(ByteCursor& fields, std::vector<float>& table) {
  uint64_t count = 0;
  if (!fields.Read(2, count) || count < 2 || count > 19) return false;
  std::vector<std::array<double, 2>> points;
  for (uint64_t i = 0; i < count; ++i) {
    float output = 0, input = 0;
    if (!ReadSigned(fields, output) || !ReadSigned(fields, input)) return false;
    if (input < 0 || input > 255 || (!points.empty() && input <= points.back()[0])) return false;
    points.push_back({input, std::clamp(output, 0.0f, 255.0f)});
  }
  table = CurveTable(points);
  return true;
}

std::optional<AdjustmentSettings> ReadCurves(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t version = 0, present = 0;
  if (!fields.Skip(1) || !fields.Read(2, version) || (version != 1 && version != 4) ||
      !fields.Read(4, present)) {
    return std::nullopt;
  }
  AdjustmentSettings settings;
  for (size_t channel = 0; channel < 32; ++channel) {
    if ((present >> channel & 1) == 0) continue;
    std::vector<float> table;
    if (!ReadCurve(fields, table)) return std::nullopt;
    if (channel < settings.curves.size()) settings.curves[channel] = std::move(table);
  }
  // A later list names each curve's channel and replaces the first.
  if (fields.Matches("Crv ")) {
    fields.Skip(4);
    uint64_t count = 0;
    if (!fields.Skip(2) || !fields.Read(4, count)) return settings;
    AdjustmentSettings listed;
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t channel = 0;
      std::vector<float> table;
      if (!fields.Read(2, channel) || !ReadCurve(fields, table)) return settings;
      if (channel < listed.curves.size()) listed.curves[channel] = std::move(table);
    }
    return listed;
  }
  return settings;
}

std::optional<AdjustmentSettings> ReadHueSaturation(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t version = 0, colourize = 0;
  if (!fields.Read(2, version) || version != 2 || !fields.Read(1, colourize) || !fields.Skip(1)) {
    return std::nullopt;
  }
  AdjustmentSettings settings;
  settings.colourize = colourize != 0;
  float values[6] = {};
  for (float& value : values) {
    if (!ReadSigned(fields, value)) return std::nullopt;
  }
  settings.colourize_hue = values[0];
  settings.colourize_saturation = std::clamp(values[1], 0.0f, 100.0f) / 100;
  settings.colourize_lightness = std::clamp(values[2], -100.0f, 100.0f) / 100;
  settings.hue = std::clamp(values[3], -180.0f, 180.0f);
  settings.saturation = std::clamp(values[4], -100.0f, 100.0f) / 100;
  settings.lightness = std::clamp(values[5], -100.0f, 100.0f) / 100;
  for (HueRange& range : settings.ranges) {
    float fields_of_range[7] = {};
    for (float& value : fields_of_range) {
      if (!ReadSigned(fields, value)) return std::nullopt;
    }
    range = {fields_of_range[0],
             fields_of_range[1],
             fields_of_range[2],
             fields_of_range[3],
             std::clamp(fields_of_range[4], -180.0f, 180.0f),
             std::clamp(fields_of_range[5], -100.0f, 100.0f) / 100,
             std::clamp(fields_of_range[6], -100.0f, 100.0f) / 100};
  }
  return settings;
}

std::optional<AdjustmentSettings> ReadExposure(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  AdjustmentSettings settings;
  if (!fields.Skip(2) || !ReadFloat(fields, settings.exposure) ||
      !ReadFloat(fields, settings.offset) || !ReadFloat(fields, settings.gamma)) {
    return std::nullopt;
  }
  settings.exposure = std::clamp(settings.exposure, -20.0f, 20.0f);
  settings.offset = std::clamp(settings.offset, -0.5f, 0.5f);
  settings.gamma = std::clamp(settings.gamma, 0.01f, 9.99f);
  return settings;
}

std::optional<AdjustmentSettings> ReadVibrance(std::span<const uint8_t> block) {
  const std::optional<Descriptor> descriptor = ReadVersionedDescriptor(block);
  if (!descriptor) return std::nullopt;
  AdjustmentSettings settings;
  settings.vibrance =
      static_cast<float>(std::clamp(descriptor->Number("vibrance"), -100.0, 100.0) / 100);
  settings.vibrance_saturation =
      static_cast<float>(std::clamp(descriptor->Number("Strt"), -100.0, 100.0) / 100);
  return settings;
}

std::optional<AdjustmentSettings> ReadColourBalance(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  AdjustmentSettings settings;
  for (auto& range : settings.balance) {
    for (float& value : range) {
      if (!ReadSigned(fields, value)) return std::nullopt;
      value = std::clamp(value, -100.0f, 100.0f) / 100;
    }
  }
  uint64_t preserve = 0;
  if (!fields.Read(1, preserve)) return std::nullopt;
  settings.preserve_luminosity = preserve != 0;
  return settings;
}

std::optional<AdjustmentSettings> ReadBlackAndWhite(std::span<const uint8_t> block) {
  const std::optional<Descriptor> descriptor = ReadVersionedDescriptor(block);
  if (!descriptor) return std::nullopt;
  AdjustmentSettings settings;
  static constexpr std::pair<const char*, double> Weights[] = {
      {"Rd  ", 40}, {"Yllw", 60}, {"Grn ", 40}, {"Cyn ", 60}, {"Bl  ", 20}, {"Mgnt", 80}};
  for (size_t i = 0; i < 6; ++i) {
    const double weight = descriptor->Number(Weights[i].first, Weights[i].second);
    settings.weights[i] = static_cast<float>(std::clamp(weight, -200.0, 300.0) / 100);
  }
  const Descriptor* tint = descriptor->Object("tintColor");
  if (descriptor->Flag("useTint") && tint) {
    const std::optional<std::array<float, 4>> rgb = DocumentColour(*tint, PsdModeRgb);
    if (!rgb) return std::nullopt;
    settings.tint = true;
    std::copy(rgb->begin(), rgb->begin() + 3, settings.tint_rgb.begin());
  }
  return settings;
}

std::optional<AdjustmentSettings> ReadChannelMixer(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t monochrome = 0;
  if (!fields.Skip(2) || !fields.Read(2, monochrome)) return std::nullopt;
  AdjustmentSettings settings;
  settings.monochrome = monochrome != 0;
  for (auto& row : settings.mix) {
    // Red, green, blue, black (CMYK only), constant.
    float values[5] = {};
    for (float& value : values) {
      if (!ReadSigned(fields, value)) return std::nullopt;
    }
    row = {
        std::clamp(values[0], -200.0f, 200.0f) / 100, std::clamp(values[1], -200.0f, 200.0f) / 100,
        std::clamp(values[2], -200.0f, 200.0f) / 100, std::clamp(values[4], -200.0f, 200.0f) / 100};
  }
  return settings;
}

std::optional<AdjustmentSettings> ReadPhotoFilter(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t version = 0, space = 0;
  if (!fields.Read(2, version) || version != 2 || !fields.Read(2, space)) return std::nullopt;
  std::array<uint16_t, 4> components{};
  for (uint16_t& component : components) {
    uint64_t value = 0;
    if (!fields.Read(2, value)) return std::nullopt;
    component = static_cast<uint16_t>(value);
  }
  uint64_t density = 0, preserve = 0;
  if (!fields.Read(4, density) || !fields.Read(1, preserve)) return std::nullopt;
  const std::optional<std::array<float, 3>> colour =
      StructureColour(static_cast<int>(space), components);
  if (!colour) return std::nullopt;
  AdjustmentSettings settings;
  settings.filter = *colour;
  settings.density = static_cast<float>(std::min<uint64_t>(density, 100)) / 100;
  settings.preserve_luminosity = preserve != 0;
  return settings;
}

std::optional<AdjustmentSettings> ReadGradientMap(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t version = 0, reverse = 0, method = 0, characters = 0, count = 0;
  if (!fields.Read(2, version) || !fields.Read(1, reverse) || !fields.Skip(1) ||
      (version >= 3 && !fields.Read(4, method)) || !fields.Read(4, characters) ||
      !fields.Skip(characters * 2) || !fields.Read(2, count) || count < 1 || count > 256) {
    return std::nullopt;
  }
  AdjustmentSettings settings;
  settings.light_level = method == FourCc("Perc");
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t location = 0, midpoint = 0, space = 0;
    std::array<uint16_t, 4> components{};
    if (!fields.Read(4, location) || !fields.Read(4, midpoint) || !fields.Read(2, space)) {
      return std::nullopt;
    }
    for (uint16_t& component : components) {
      uint64_t value = 0;
      if (!fields.Read(2, value)) return std::nullopt;
      component = static_cast<uint16_t>(value);
    }
    if (!fields.Skip(2)) return std::nullopt;
    const std::optional<std::array<float, 3>> colour =
        StructureColour(static_cast<int>(space), components);
    if (!colour) return std::nullopt;
    const float position = static_cast<float>(std::min<uint64_t>(location, 4096)) / 4096;
    const float middle = static_cast<float>(std::clamp<uint64_t>(midpoint, 5, 95)) / 100;
    settings.stops.push_back({reverse ? 1 - position : position, middle, *colour});
  }
  if (reverse) {
    // A stop's midpoint is that of the span that ends at it; turned round, the span ends at the
    // stop that began it.
    std::reverse(settings.stops.begin(), settings.stops.end());
    for (size_t i = settings.stops.size() - 1; i >= 1; --i) {
      settings.stops[i].midpoint = 1 - settings.stops[i - 1].midpoint;
    }
  }
  std::stable_sort(
      settings.stops.begin(), settings.stops.end(),
      [](const GradientStop& a, const GradientStop& b) { return a.position < b.position; });
  return settings;
}

std::optional<AdjustmentSettings> ReadSelectiveColour(std::span<const uint8_t> block) {
  ByteCursor fields(block);
  uint64_t method = 0;
  if (!fields.Skip(2) || !fields.Read(2, method) || !fields.Skip(8)) return std::nullopt;
  AdjustmentSettings settings;
  settings.absolute = method == 1;
  for (auto& range : settings.selective) {
    for (float& value : range) {
      if (!ReadSigned(fields, value)) return std::nullopt;
      value = std::clamp(value, -100.0f, 100.0f) / 100;
    }
  }
  return settings;
}

}  // namespace

bool ReadAdjustmentBlock(uint32_t key, std::span<const uint8_t> block, uint16_t mode,
                         LayerAdjustment& adjustment) {
  ByteCursor fields(block);
  uint64_t value = 0;
  const auto unsupported = [&] {
    adjustment.kind = AdjustmentKind::Unsupported;
    adjustment.key = key;
    return true;
  };
  if (key == FourCc("nvrt")) {
    adjustment.kind = AdjustmentKind::Invert;
    adjustment.key = key;
    return true;
  }
  if (key == FourCc("post")) {
    if (!fields.Read(2, value) || value < 2 || value > 255) return unsupported();
    adjustment.kind = AdjustmentKind::Posterize;
    adjustment.key = key;
    adjustment.levels = static_cast<int>(value);
    return true;
  }
  if (key == FourCc("thrs")) {
    if (!fields.Read(2, value) || value < 1 || value > 255 || mode == PsdModeCmyk) {
      return unsupported();
    }
    adjustment.kind = AdjustmentKind::Threshold;
    adjustment.key = key;
    adjustment.threshold = static_cast<float>(value) / 255.0f;
    return true;
  }
  if (key == FourCc("brit")) {
    // Brightness, contrast, mean and Lab-only, two bytes each; a later "CgEd" says more.
    uint64_t brightness = 0, contrast = 0, mean = 127;
    if (!fields.Read(2, brightness) || !fields.Read(2, contrast) || mode == PsdModeCmyk) {
      return unsupported();
    }
    if (fields.Read(2, mean) && mean <= 255) adjustment.mean = static_cast<float>(mean) / 255;
    adjustment.kind = AdjustmentKind::BrightnessContrast;
    adjustment.key = key;
    adjustment.brightness = static_cast<int16_t>(brightness);
    adjustment.contrast = static_cast<int16_t>(contrast);
    adjustment.legacy = true;
    return true;
  }
  if (key == FourCc("CgEd")) {
    if (adjustment.kind != AdjustmentKind::BrightnessContrast) return true;
    const std::optional<Descriptor> settings = ReadVersionedDescriptor(block);
    if (!settings) return true;
    adjustment.brightness = static_cast<float>(std::clamp(settings->Number("Brgh"), -150.0, 150.0));
    adjustment.contrast = static_cast<float>(std::clamp(settings->Number("Cntr"), -100.0, 100.0));
    adjustment.legacy = settings->Flag("useLegacy");
    const double mean = settings->Number("means", adjustment.mean * 255.0);
    adjustment.mean = static_cast<float>(std::clamp(mean, 0.0, 255.0) / 255);
    return true;
  }
  if (key == FourCc("SoCo")) {
    const std::optional<Descriptor> fill = ReadVersionedDescriptor(block);
    const Descriptor* colour = fill ? fill->Object("Clr ") : nullptr;
    const std::optional<std::array<float, 4>> stored =
        colour ? DocumentColour(*colour, mode) : std::nullopt;
    if (!stored) return unsupported();
    adjustment.kind = AdjustmentKind::SolidColour;
    adjustment.key = key;
    adjustment.colour = *stored;
    return true;
  }
  using Reader = std::optional<AdjustmentSettings> (*)(std::span<const uint8_t>);
  static constexpr std::tuple<uint32_t, AdjustmentKind, Reader> Settings[] = {
      {FourCc("levl"), AdjustmentKind::Levels, ReadLevels},
      {FourCc("curv"), AdjustmentKind::Curves, ReadCurves},
      {FourCc("hue2"), AdjustmentKind::HueSaturation, ReadHueSaturation},
      {FourCc("expA"), AdjustmentKind::Exposure, ReadExposure},
      {FourCc("vibA"), AdjustmentKind::Vibrance, ReadVibrance},
      {FourCc("blnc"), AdjustmentKind::ColourBalance, ReadColourBalance},
      {FourCc("blwh"), AdjustmentKind::BlackAndWhite, ReadBlackAndWhite},
      {FourCc("mixr"), AdjustmentKind::ChannelMixer, ReadChannelMixer},
      {FourCc("phfl"), AdjustmentKind::PhotoFilter, ReadPhotoFilter},
      {FourCc("grdm"), AdjustmentKind::GradientMap, ReadGradientMap},
      {FourCc("selc"), AdjustmentKind::SelectiveColour, ReadSelectiveColour},
  };
  for (const auto& [name, kind, read] : Settings) {
    if (key != name) continue;
    // Other modes than RGB and grey keep the adjustments that work channel by channel (CMYK on
    // its ink); the colour ones are defined on RGB light and not drawn there.
    const bool per_channel = kind == AdjustmentKind::Levels || kind == AdjustmentKind::Curves;
    if (mode != PsdModeRgb && mode != PsdModeGreyscale && !per_channel) return unsupported();
    std::optional<AdjustmentSettings> settings = read(block);
    if (!settings) return unsupported();
    adjustment.kind = kind;
    adjustment.key = key;
    adjustment.settings = std::make_shared<const AdjustmentSettings>(std::move(*settings));
    return true;
  }
  for (const uint32_t undrawn : UndrawnKeys) {
    if (key == undrawn) return unsupported();
  }
  return false;
}

void ApplyAdjustment(const LayerAdjustment& adjustment, uint16_t mode, float* pixel, int colours,
                     bool linear) {
  switch (adjustment.kind) {
    case AdjustmentKind::Invert:
      for (int c = 0; c < colours; ++c) pixel[c] = 1 - std::clamp(pixel[c], 0.0f, 1.0f);
      return;
    case AdjustmentKind::Posterize: {
      // Equal bins over the levels, each given one of `levels` evenly spaced values; CMYK is
      // posterized in ink, as it is shown.
      const float n = static_cast<float>(adjustment.levels);
      for (int c = 0; c < colours; ++c) {
        float v = std::clamp(pixel[c], 0.0f, 1.0f);
        if (mode == PsdModeCmyk) v = 1 - v;
        v = std::min(std::floor(v * n), n - 1) / (n - 1);
        pixel[c] = mode == PsdModeCmyk ? 1 - v : v;
      }
      return;
    }
    case AdjustmentKind::Threshold: {
      const float level = colours >= 3 ? Luma(pixel) : pixel[0];
      // Compared at 8 bits, as the level is given.
      const float out =
          std::round(level * 255.0f) >= std::round(adjustment.threshold * 255.0f) ? 1.0f : 0.0f;
      for (int c = 0; c < colours; ++c) pixel[c] = out;
      return;
    }
    case AdjustmentKind::BrightnessContrast:
      for (int c = 0; c < colours; ++c) {
        pixel[c] = adjustment.legacy ? LegacyBrightnessContrast(pixel[c], adjustment.brightness,
                                                                adjustment.contrast)
                                     : BrightnessContrast(pixel[c], adjustment.brightness,
                                                          adjustment.contrast, adjustment.mean);
      }
      return;
    case AdjustmentKind::Levels:
    case AdjustmentKind::Curves: {
      // Each channel's own setting, then the one for them all; CMYK on its ink. A grey
      // document's one channel has the first setting alone.
      const AdjustmentSettings& s = *adjustment.settings;
      const bool ink = mode == PsdModeCmyk;
      for (int c = 0; c < colours; ++c) {
        float v = ink ? 1 - pixel[c] : pixel[c];
        const auto channel = static_cast<size_t>(c + 1);
        if (adjustment.kind == AdjustmentKind::Levels) {
          if (colours > 1) v = Levelled(s.levels[channel], v);
          v = Levelled(s.levels[0], v);
        } else {
          if (colours > 1) v = Curved(s.curves[channel], v);
          v = Curved(s.curves[0], v);
        }
        pixel[c] = ink ? 1 - v : v;
      }
      return;
    }
    case AdjustmentKind::Exposure: {
      const AdjustmentSettings& s = *adjustment.settings;
      const double scale = std::exp2(s.exposure);
      for (int c = 0; c < colours; ++c) {
        if (linear) {
          const double light = std::max(std::max(pixel[c], 0.0f) * scale + s.offset, 0.0);
          pixel[c] = static_cast<float>(std::pow(light, 1.0 / s.gamma));
          continue;
        }
        const double light =
            std::max(SrgbToLight(std::clamp(pixel[c], 0.0f, 1.0f)) * scale + s.offset, 0.0);
        pixel[c] = Clamp01(SrgbFromLight(std::pow(light, 1.0 / s.gamma)));
      }
      return;
    }
    case AdjustmentKind::None:
    case AdjustmentKind::SolidColour:
    case AdjustmentKind::Unsupported:
      return;
    default:
      break;
  }
  // The colour adjustments work on RGB; a grey pixel is lent its three channels and takes back
  // their luma.
  float rgb[3] = {pixel[0], colours >= 3 ? pixel[1] : pixel[0], colours >= 3 ? pixel[2] : pixel[0]};
  for (float& v : rgb) v = std::clamp(v, 0.0f, 1.0f);
  const AdjustmentSettings& s = *adjustment.settings;
  switch (adjustment.kind) {
    case AdjustmentKind::HueSaturation:
      HueSaturation(s, rgb);
      break;
    case AdjustmentKind::Vibrance:
      Vibrance(s, rgb);
      break;
    case AdjustmentKind::ColourBalance:
      ColourBalance(s, rgb);
      break;
    case AdjustmentKind::BlackAndWhite:
      BlackAndWhite(s, rgb);
      break;
    case AdjustmentKind::ChannelMixer:
      ChannelMixer(s, rgb);
      break;
    case AdjustmentKind::PhotoFilter:
      PhotoFilter(s, rgb);
      break;
    case AdjustmentKind::GradientMap:
      GradientMap(s, rgb);
      break;
    case AdjustmentKind::SelectiveColour:
      SelectiveColour(s, rgb);
      break;
    default:
      return;
  }
  if (colours >= 3) {
    std::copy(rgb, rgb + 3, pixel);
  } else {
    pixel[0] = Luma(rgb);
  }
}

std::vector<float> CurveTable(const std::vector<std::array<double, 2>>& points) {
  const size_t n = points.size();
  std::vector<double> second(n, 0);  // the spline's second derivative at each point
  if (n > 2) {
    // Tridiagonal system for the inner points, the ends held straight.
    std::vector<double> diagonal(n, 0), right(n, 0);
    for (size_t i = 1; i + 1 < n; ++i) {
      const double h0 = points[i][0] - points[i - 1][0], h1 = points[i + 1][0] - points[i][0];
      diagonal[i] = 2 * (h0 + h1);
      right[i] =
          6 * ((points[i + 1][1] - points[i][1]) / h1 - (points[i][1] - points[i - 1][1]) / h0);
      if (i > 1) {
        const double factor = h0 / diagonal[i - 1];
        diagonal[i] -= factor * h0;
        right[i] -= factor * right[i - 1];
      }
    }
    for (size_t i = n - 2; i >= 1; --i) {
      const double h1 = points[i + 1][0] - points[i][0];
      second[i] = (right[i] - h1 * second[i + 1]) / diagonal[i];
    }
  }
  std::vector<float> table(256);
  size_t segment = 0;
  for (int level = 0; level < 256; ++level) {
    const double x = level;
    double y = 0;
    if (x <= points.front()[0]) {
      y = points.front()[1];
    } else if (x >= points.back()[0]) {
      y = points.back()[1];
    } else {
      while (x > points[segment + 1][0]) ++segment;
      const auto& [x0, y0] = points[segment];
      const auto& [x1, y1] = points[segment + 1];
      const double h = x1 - x0, a = (x1 - x) / h, b = (x - x0) / h;
      y = a * y0 + b * y1 +
          ((a * a * a - a) * second[segment] + (b * b * b - b) * second[segment + 1]) * h * h / 6;
    }
    table[static_cast<size_t>(level)] = Clamp01(y / 255);
  }
  return table;
}

float Curved(const std::vector<float>& table, float value) {
  if (table.empty()) return value;
  const float at = std::clamp(value, 0.0f, 1.0f) * 255;
  const auto below = static_cast<size_t>(std::min(at, 254.0f));
  const float t = at - static_cast<float>(below);
  return table[below] + t * (table[below + 1] - table[below]);
}

double SrgbToLight(double level) {
  return level <= 0.04045 ? level / 12.92 : std::pow((level + 0.055) / 1.055, 2.4);
}

double SrgbFromLight(double light) {
  return light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
}

std::optional<std::array<float, 4>> ReadDescriptorColour(const Descriptor& colour, uint16_t mode) {
  return DocumentColour(colour, mode);
}
