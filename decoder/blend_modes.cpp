#include "decoder/blend_modes.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "decoder/psd_layers.h"

namespace {

struct KeyedMode {
  uint32_t key;
  BlendMode mode;
};

constexpr KeyedMode Modes[] = {
    {FourCc("norm"), BlendMode::Normal},      {FourCc("diss"), BlendMode::Normal},
    {FourCc("dark"), BlendMode::Darken},      {FourCc("mul "), BlendMode::Multiply},
    {FourCc("idiv"), BlendMode::ColorBurn},   {FourCc("lbrn"), BlendMode::LinearBurn},
    {FourCc("dkCl"), BlendMode::DarkerColor}, {FourCc("lite"), BlendMode::Lighten},
    {FourCc("scrn"), BlendMode::Screen},      {FourCc("div "), BlendMode::ColorDodge},
    {FourCc("lddg"), BlendMode::LinearDodge}, {FourCc("lgCl"), BlendMode::LighterColor},
    {FourCc("over"), BlendMode::Overlay},     {FourCc("sLit"), BlendMode::SoftLight},
    {FourCc("hLit"), BlendMode::HardLight},   {FourCc("vLit"), BlendMode::VividLight},
    {FourCc("lLit"), BlendMode::LinearLight}, {FourCc("pLit"), BlendMode::PinLight},
    {FourCc("hMix"), BlendMode::HardMix},     {FourCc("diff"), BlendMode::Difference},
    {FourCc("smud"), BlendMode::Exclusion},   {FourCc("fsub"), BlendMode::Subtract},
    {FourCc("fdiv"), BlendMode::Divide},      {FourCc("hue "), BlendMode::Hue},
    {FourCc("sat "), BlendMode::Saturation},  {FourCc("colr"), BlendMode::Color},
    {FourCc("lum "), BlendMode::Luminosity},  {FourCc("pass"), BlendMode::PassThrough},
};

float Clamp(float value) { return std::clamp(value, 0.0f, 1.0f); }

// The Lab documents' own whole-colour modes, by the keys LabBlendKey gives them.
constexpr KeyedMode LabModes[] = {
    {FourCc("Ldkc"), BlendMode::LabDarkerColor}, {FourCc("Llgc"), BlendMode::LabLighterColor},
    {FourCc("Lhue"), BlendMode::LabHue},         {FourCc("Lsat"), BlendMode::LabSaturation},
    {FourCc("Lclr"), BlendMode::LabColor},       {FourCc("Llum"), BlendMode::LabLuminosity},
};

constexpr std::pair<uint32_t, uint32_t> LabKeys[] = {
    {FourCc("dkCl"), FourCc("Ldkc")}, {FourCc("lgCl"), FourCc("Llgc")},
    {FourCc("hue "), FourCc("Lhue")}, {FourCc("sat "), FourCc("Lsat")},
    {FourCc("colr"), FourCc("Lclr")}, {FourCc("lum "), FourCc("Llum")},
};

// Stored a and b put neutral at 128 of 255.
constexpr float LabNeutral = 128.0f / 255.0f;

// The whole-colour modes on L, a, b as stored: darker and lighter colour compare lightness; hue
// turns the backdrop's a, b to the source's angle, saturation scales them to the source's
// chroma, colour takes the source's a, b and luminosity its L. A neutral colour has no hue: it
// gives none, and takes none.
void BlendLab(BlendMode mode, const float* cb, const float* cs, float* out) {
  const float ab = cb[1] - LabNeutral, bb = cb[2] - LabNeutral;
  const float as = cs[1] - LabNeutral, bs = cs[2] - LabNeutral;
  const float chroma_b = std::hypot(ab, bb), chroma_s = std::hypot(as, bs);
  float result[3] = {cb[0], cb[1], cb[2]};
  switch (mode) {
    case BlendMode::LabDarkerColor:
      if (cs[0] < cb[0]) std::copy(cs, cs + 3, result);
      break;
    case BlendMode::LabLighterColor:
      if (cs[0] > cb[0]) std::copy(cs, cs + 3, result);
      break;
    case BlendMode::LabHue:
      if (chroma_s > 0) {
        result[1] = LabNeutral + chroma_b * as / chroma_s;
        result[2] = LabNeutral + chroma_b * bs / chroma_s;
      }
      break;
    case BlendMode::LabSaturation:
      if (chroma_b > 0) {
        result[1] = LabNeutral + chroma_s * ab / chroma_b;
        result[2] = LabNeutral + chroma_s * bb / chroma_b;
      }
      break;
    case BlendMode::LabColor:
      result[1] = cs[1];
      result[2] = cs[2];
      break;
    case BlendMode::LabLuminosity:
      result[0] = cs[0];
      break;
    default:
      std::copy(cs, cs + 3, result);
      break;
  }
  for (int c = 0; c < 3; ++c) out[c] = Clamp(result[c]);
}

// W3C.
float ColorBurn(float cb, float cs) {
  if (cb >= 1) return 1;
  if (cs <= 0) return 0;
  return 1 - std::min(1.0f, (1 - cb) / cs);
}

// W3C.
float ColorDodge(float cb, float cs) {
  if (cb <= 0) return 0;
  if (cs >= 1) return 1;
  return std::min(1.0f, cb / (1 - cs));
}

// W3C.
float HardLight(float cb, float cs) {
  if (cs <= 0.5f) return cb * 2 * cs;
  const float s = 2 * cs - 1;
  return cb + s - cb * s;
}

// W3C.
float SoftLight(float cb, float cs) {
  if (cs <= 0.5f) return cb - (1 - 2 * cs) * cb * (1 - cb);
  const float d = cb <= 0.25f ? ((16 * cb - 12) * cb + 4) * cb : std::sqrt(std::max(cb, 0.0f));
  return cb + (2 * cs - 1) * (d - cb);
}

// W3C non-separable helpers, on three channels.
float Lum(const float* c) { return 0.3f * c[0] + 0.59f * c[1] + 0.11f * c[2]; }

void ClipColour(float* c) {
  const float l = Lum(c);
  const float n = std::min({c[0], c[1], c[2]});
  const float x = std::max({c[0], c[1], c[2]});
  for (int i = 0; i < 3; ++i) {
    if (n < 0 && l - n > 0) c[i] = l + (c[i] - l) * l / (l - n);
    if (x > 1 && x - l > 0) c[i] = l + (c[i] - l) * (1 - l) / (x - l);
  }
}

void SetLum(const float* c, float l, float* out) {
  const float d = l - Lum(c);
  for (int i = 0; i < 3; ++i) out[i] = c[i] + d;
  ClipColour(out);
}

float Sat(const float* c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }

void SetSat(const float* c, float s, float* out) {
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [c](int a, int b) { return c[a] < c[b]; });
  const int min = order[0], mid = order[1], max = order[2];
  if (c[max] > c[min]) {
    out[mid] = (c[mid] - c[min]) * s / (c[max] - c[min]);
    out[max] = s;
  } else {
    out[mid] = out[max] = 0;
  }
  out[min] = 0;
}

}  // namespace

BlendMode BlendModeFromKey(uint32_t key) {
  for (const KeyedMode& entry : Modes) {
    if (entry.key == key) return entry.mode;
  }
  for (const KeyedMode& entry : LabModes) {
    if (entry.key == key) return entry.mode;
  }
  return BlendMode::Normal;
}

bool IsSeparable(BlendMode mode) {
  switch (mode) {
    case BlendMode::DarkerColor:
    case BlendMode::LighterColor:
    case BlendMode::Hue:
    case BlendMode::Saturation:
    case BlendMode::Color:
    case BlendMode::Luminosity:
    case BlendMode::LabDarkerColor:
    case BlendMode::LabLighterColor:
    case BlendMode::LabHue:
    case BlendMode::LabSaturation:
    case BlendMode::LabColor:
    case BlendMode::LabLuminosity:
      return false;
    default:
      return true;
  }
}

float BlendChannel(BlendMode mode, float cb, float cs) {
  switch (mode) {
    case BlendMode::Darken:
      return std::min(cb, cs);
    case BlendMode::Multiply:
      return cb * cs;
    case BlendMode::ColorBurn:
      return ColorBurn(cb, cs);
    case BlendMode::LinearBurn:
      return std::max(0.0f, cb + cs - 1);
    case BlendMode::Lighten:
      return std::max(cb, cs);
    case BlendMode::Screen:
      return cb + cs - cb * cs;
    case BlendMode::ColorDodge:
      return ColorDodge(cb, cs);
    case BlendMode::LinearDodge:
      return std::min(1.0f, cb + cs);
    case BlendMode::Overlay:
      return HardLight(cs, cb);
    case BlendMode::SoftLight:
      return SoftLight(cb, cs);
    case BlendMode::HardLight:
      return HardLight(cb, cs);
    case BlendMode::VividLight:
      // Burn or dodge by the doubled source, where (unlike colour burn and dodge themselves) a
      // black or white source wins over any backdrop, as stored composites show.
      if (cs <= 0.5f) return cs <= 0 ? 0.0f : Clamp(1 - (1 - cb) / (2 * cs));
      return cs >= 1 ? 1.0f : Clamp(cb / (2 * (1 - cs)));
    case BlendMode::LinearLight:
      return Clamp(cb + 2 * cs - 1);
    case BlendMode::PinLight:
      return cs <= 0.5f ? std::min(cb, 2 * cs) : std::max(cb, 2 * cs - 1);
    case BlendMode::HardMix:
      // A black or white backdrop stays; elsewhere the two add up to black or white.
      if (cb <= 0 || cb >= 1) return cb <= 0 ? 0.0f : 1.0f;
      return cb + cs >= 1 ? 1.0f : 0.0f;
    case BlendMode::Difference:
      return std::fabs(cb - cs);
    case BlendMode::Exclusion:
      return cb + cs - 2 * cb * cs;
    case BlendMode::Subtract:
      return std::max(0.0f, cb - cs);
    case BlendMode::Divide:
      if (cs <= 0) return cb <= 0 ? 0.0f : 1.0f;
      return std::min(1.0f, cb / cs);
    default:
      return cs;  // normal, and any mode that is not separable
  }
}

uint32_t LabBlendKey(uint32_t key) {
  for (const auto& [own, lab] : LabKeys) {
    if (key == own) return lab;
  }
  return key;
}

void BlendColour(BlendMode mode, const float* cb, const float* cs, float* out, int colours) {
  if (mode >= BlendMode::LabDarkerColor && colours == 3) {
    BlendLab(mode, cb, cs, out);
    return;
  }
  if (colours == 4) {
    // CMYK, in stored values (1 = no ink): the whole-colour modes work on cyan, magenta and
    // yellow as on red, green and blue; black comes with the lightness, from the backdrop for
    // hue, saturation and colour and from the source for luminosity. Darker and lighter colour
    // compare the colours' lightness with black applied.
    const float kb[3] = {cb[0] * cb[3], cb[1] * cb[3], cb[2] * cb[3]};
    const float ks[3] = {cs[0] * cs[3], cs[1] * cs[3], cs[2] * cs[3]};
    const float black_b = cb[3], black_s = cs[3];
    switch (mode) {
      case BlendMode::DarkerColor:
        std::copy(Lum(kb) < Lum(ks) ? cb : cs, (Lum(kb) < Lum(ks) ? cb : cs) + 4, out);
        return;
      case BlendMode::LighterColor:
        std::copy(Lum(kb) > Lum(ks) ? cb : cs, (Lum(kb) > Lum(ks) ? cb : cs) + 4, out);
        return;
      default:
        BlendColour(mode, cb, cs, out, 3);
        out[3] = mode == BlendMode::Luminosity ? black_s : black_b;
        return;
    }
  }
  if (colours != 3) {
    // On grey, hue, saturation and colour keep the backdrop's lightness and so the backdrop.
    switch (mode) {
      case BlendMode::DarkerColor:
        out[0] = std::min(cb[0], cs[0]);
        return;
      case BlendMode::LighterColor:
        out[0] = std::max(cb[0], cs[0]);
        return;
      case BlendMode::Luminosity:
        out[0] = cs[0];
        return;
      default:
        out[0] = cb[0];
        return;
    }
  }
  float result[3];
  float scratch[3];
  switch (mode) {
    case BlendMode::DarkerColor:
      std::copy(cs, cs + 3, result);
      if (Lum(cb) < Lum(cs)) std::copy(cb, cb + 3, result);
      break;
    case BlendMode::LighterColor:
      std::copy(cs, cs + 3, result);
      if (Lum(cb) > Lum(cs)) std::copy(cb, cb + 3, result);
      break;
    case BlendMode::Hue:
      SetSat(cs, Sat(cb), scratch);
      SetLum(scratch, Lum(cb), result);
      break;
    case BlendMode::Saturation:
      SetSat(cb, Sat(cs), scratch);
      SetLum(scratch, Lum(cb), result);
      break;
    case BlendMode::Color:
      SetLum(cs, Lum(cb), result);
      break;
    case BlendMode::Luminosity:
      SetLum(cb, Lum(cs), result);
      break;
    default:
      std::copy(cs, cs + 3, result);
      break;
  }
  std::copy(result, result + 3, out);
}
