// Every blend mode of layered documents, rebuilt from a placeholder document by the decoder's
// compositor in this process, against the formulas written out here: the W3C Compositing and
// Blending recommendation where it has the mode, the published Photoshop formulas for the others.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/psd_writer.h"

namespace {

using Colour = std::array<double, 3>;
using Separable = std::function<double(double, double)>;

// Backdrop and source samples chosen so that no pair sits on a threshold of a formula (a sum of
// exactly 1, a source of 0 or 1), where one rounding could flip the answer.
constexpr int Backdrops[8] = {0, 33, 69, 107, 148, 181, 219, 255};
constexpr int Sources[8] = {0, 51, 89, 125, 133, 168, 204, 255};

double HardLight(double cb, double cs) {
  return cs <= 0.5 ? cb * 2 * cs : cb + (2 * cs - 1) - cb * (2 * cs - 1);
}
double ColourBurn(double cb, double cs) {
  if (cb >= 1) return 1;
  if (cs <= 0) return 0;
  return 1 - std::min(1.0, (1 - cb) / cs);
}
double ColourDodge(double cb, double cs) {
  if (cb <= 0) return 0;
  if (cs >= 1) return 1;
  return std::min(1.0, cb / (1 - cs));
}
double SoftLight(double cb, double cs) {
  if (cs <= 0.5) return cb - (1 - 2 * cs) * cb * (1 - cb);
  const double d = cb <= 0.25 ? ((16 * cb - 12) * cb + 4) * cb : std::sqrt(cb);
  return cb + (2 * cs - 1) * (d - cb);
}

double Lum(const Colour& c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; }
Colour ClipColour(Colour c) {
  const double l = Lum(c);
  const double n = std::min({c[0], c[1], c[2]}), x = std::max({c[0], c[1], c[2]});
  for (double& v : c) {
    if (n < 0) v = l + (v - l) * l / (l - n);
    if (x > 1) v = l + (v - l) * (1 - l) / (x - l);
  }
  return c;
}
Colour SetLum(const Colour& c, double l) {
  const double d = l - Lum(c);
  return ClipColour({c[0] + d, c[1] + d, c[2] + d});
}
double Sat(const Colour& c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }
Colour SetSat(const Colour& c, double s) {
  const double lo = std::min({c[0], c[1], c[2]}), hi = std::max({c[0], c[1], c[2]});
  Colour out{};
  for (int i = 0; i < 3; ++i) out[i] = hi > lo ? (c[i] - lo) * s / (hi - lo) : 0;
  return out;
}

struct Mode {
  const char* key;
  Separable separable;  // empty for the modes that look at the whole colour
  std::function<Colour(const Colour&, const Colour&)> whole;
};

std::vector<Mode> Modes() {
  return {
      {"norm", [](double, double cs) { return cs; }, nullptr},
      {"diss", [](double, double cs) { return cs; }, nullptr},
      {"dark", [](double cb, double cs) { return std::min(cb, cs); }, nullptr},
      {"mul ", [](double cb, double cs) { return cb * cs; }, nullptr},
      {"idiv", ColourBurn, nullptr},
      {"lbrn", [](double cb, double cs) { return std::max(0.0, cb + cs - 1); }, nullptr},
      {"lite", [](double cb, double cs) { return std::max(cb, cs); }, nullptr},
      {"scrn", [](double cb, double cs) { return cb + cs - cb * cs; }, nullptr},
      {"div ", ColourDodge, nullptr},
      {"lddg", [](double cb, double cs) { return std::min(1.0, cb + cs); }, nullptr},
      {"over", [](double cb, double cs) { return HardLight(cs, cb); }, nullptr},
      {"sLit", SoftLight, nullptr},
      {"hLit", HardLight, nullptr},
      // Vivid light: a black or white source wins over any backdrop, and hard mix keeps a black
      // or white backdrop (what the stored composites of the corpus's blend-mode documents show
      // where the two meet extremes; colour burn and dodge keep the backdrop's extremes instead).
      {"vLit",
       [](double cb, double cs) {
         if (cs <= 0) return 0.0;
         if (cs >= 1) return 1.0;
         return cs <= 0.5 ? std::max(0.0, 1 - (1 - cb) / (2 * cs))
                          : std::min(1.0, cb / (2 * (1 - cs)));
       },
       nullptr},
      {"lLit", [](double cb, double cs) { return std::clamp(cb + 2 * cs - 1, 0.0, 1.0); }, nullptr},
      {"pLit",
       [](double cb, double cs) {
         return cs <= 0.5 ? std::min(cb, 2 * cs) : std::max(cb, 2 * cs - 1);
       },
       nullptr},
      {"hMix",
       [](double cb, double cs) {
         if (cb <= 0 || cb >= 1) return cb;
         return cb + cs >= 1 ? 1.0 : 0.0;
       },
       nullptr},
      {"diff", [](double cb, double cs) { return std::fabs(cb - cs); }, nullptr},
      {"smud", [](double cb, double cs) { return cb + cs - 2 * cb * cs; }, nullptr},
      {"fsub", [](double cb, double cs) { return std::max(0.0, cb - cs); }, nullptr},
      {"fdiv",
       [](double cb, double cs) {
         return cs <= 0 ? (cb <= 0 ? 0.0 : 1.0) : std::min(1.0, cb / cs);
       },
       nullptr},
      {"dkCl", nullptr,
       [](const Colour& cb, const Colour& cs) { return Lum(cb) < Lum(cs) ? cb : cs; }},
      {"lgCl", nullptr,
       [](const Colour& cb, const Colour& cs) { return Lum(cb) > Lum(cs) ? cb : cs; }},
      {"hue ", nullptr,
       [](const Colour& cb, const Colour& cs) { return SetLum(SetSat(cs, Sat(cb)), Lum(cb)); }},
      {"sat ", nullptr,
       [](const Colour& cb, const Colour& cs) { return SetLum(SetSat(cb, Sat(cs)), Lum(cb)); }},
      {"colr", nullptr, [](const Colour& cb, const Colour& cs) { return SetLum(cs, Lum(cb)); }},
      {"lum ", nullptr, [](const Colour& cb, const Colour& cs) { return SetLum(cb, Lum(cs)); }},
  };
}

class BlendModes : public ::testing::TestWithParam<Mode> {};

TEST_P(BlendModes, MatchTheirFormulas) {
  const Mode& mode = GetParam();
  constexpr uint32_t Side = 8;
  // The backdrop is opaque but for its last two columns (alpha 0.5); the source has alpha 0.75.
  const auto backdrop_sample = [](uint32_t x, uint32_t c) { return Backdrops[(x + 3 * c) % 8]; };
  const auto source_sample = [](uint32_t y, uint32_t c) { return Sources[(y + 5 * c) % 8]; };
  const auto backdrop_alpha = [](uint32_t x) { return x < 6 ? 255 : 128; };
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, Side, Side, 3);
  FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t) { return 255; });
  spec.resources.push_back(PsdVersionInfoResource(false));
  PsdLayer bottom, top;
  for (PsdLayer* layer : {&bottom, &top}) {
    layer->bottom = Side;
    layer->right = Side;
    layer->compression = PsdChannelCompression::Rle;
  }
  bottom.channels.push_back(
      {-1, PsdLayerPlane(Side, Side, 8, [&](uint32_t x, uint32_t) { return backdrop_alpha(x); })});
  top.channels.push_back(
      {-1, PsdLayerPlane(Side, Side, 8, [](uint32_t, uint32_t) { return 191; })});
  for (int16_t c = 0; c < 3; ++c) {
    bottom.channels.push_back({c, PsdLayerPlane(Side, Side, 8, [&](uint32_t x, uint32_t) {
                                 return backdrop_sample(x, c);
                               })});
    top.channels.push_back({c, PsdLayerPlane(Side, Side, 8, [&](uint32_t, uint32_t y) {
                              return source_sample(y, c);
                            })});
  }
  std::copy(mode.key, mode.key + 5, top.blend_key);
  spec.layers = {bottom, top};
  const std::string file = WritePsd(spec);
  const std::vector<uint8_t> bytes(file.begin(), file.end());
  bool nothing_to_build = false;
  const Bitmap image = RebuildFromLayers(bytes, 0, nothing_to_build);
  ASSERT_TRUE(image);

  for (uint32_t y = 0; y < Side; ++y) {
    for (uint32_t x = 0; x < Side; ++x) {
      Colour cb{}, cs{};
      for (uint32_t c = 0; c < 3; ++c) {
        cb[c] = backdrop_sample(x, c) / 255.0;
        cs[c] = source_sample(y, c) / 255.0;
      }
      Colour blended{};
      if (mode.separable) {
        for (int c = 0; c < 3; ++c) blended[c] = mode.separable(cb[c], cs[c]);
      } else {
        blended = mode.whole(cb, cs);
      }
      // Source-over with blending: cs' = (1 - ab) cs + ab B; co = as cs' + (1 - as) ab cb.
      const double ab = backdrop_alpha(x) / 255.0, as = 191 / 255.0;
      const double ao = as + ab * (1 - as);
      const Rgba16 pixel = ReadPixel(image, static_cast<int>(x), static_cast<int>(y));
      const uint16_t got[3] = {pixel.red, pixel.green, pixel.blue};
      for (int c = 0; c < 3; ++c) {
        const double mixed = (1 - ab) * cs[c] + ab * blended[c];
        const double want = (as * mixed + (1 - as) * ab * cb[c]) / ao;
        EXPECT_NEAR(got[c] / 257.0, want * 255, 1.0) << x << "," << y << " channel " << c;
      }
      EXPECT_NEAR(pixel.alpha / 257.0, ao * 255, 1.0) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, BlendModes, ::testing::ValuesIn(Modes()),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           std::string name;
                           for (const char* c = info.param.key; *c; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

}  // namespace
