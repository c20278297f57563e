// Adjustment layers that remap colours (levels, curves, hue/saturation, exposure, vibrance, colour
// balance, black & white, channel mixer, photo filter, gradient map, selective colour), rebuilt in
// this process. Each block is written here byte by byte in its published layout, and each
// expected colour is worked out here from the adjustment's definition: levels' input and output
// ranges with a gamma, curves' natural cubic spline, hue/saturation on the HSL double cone,
// exposure on sRGB-decoded light, gradient stops with midpoints, selective colour's ink changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "engine/isolation/decoder_protocol.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

// Big-endian 16-bit values, as the blocks hold them (negative ones in two's complement).
std::string Shorts(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) {
    bytes += static_cast<char>((value >> 8) & 0xff);
    bytes += static_cast<char>(value & 0xff);
  }
  return bytes;
}

std::string Long(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string Float(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return Long(bits);
}

Colour Rgb8(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0}; }

Colour Grey(double v) { return {v, v, v}; }

double Clamp(double v) { return std::clamp(v, 0.0, 1.0); }

double Luma(const Colour& c) { return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]; }

// HSL (hue in degrees) to RGB, from the double cone's definition.
Colour Hsl(double hue, double saturation, double lightness) {
  const auto channel = [&](double n) {
    const double k = std::fmod(n + hue / 30, 12);
    const double a = saturation * std::min(lightness, 1 - lightness);
    return lightness - a * std::max(-1.0, std::min({k - 3, 9 - k, 1.0}));
  };
  return {channel(0), channel(8), channel(4)};
}

double SrgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double LinearToSrgb(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

// Five-value levels records: the first for every channel, then red, green and blue; the rest of
// the 29 records as Photoshop pads them, unchanged.
std::string LevelsBlock(const std::vector<std::array<int, 5>>& records) {
  std::string block = Shorts({2});
  for (size_t i = 0; i < 29; ++i) {
    const std::array<int, 5> r = i < records.size() ? records[i] : std::array{0, 255, 0, 255, 100};
    block += Shorts({r[0], r[1], r[2], r[3], r[4]});
  }
  return block;
}

double Levelled(double v, const std::array<int, 5>& r) {
  const double t = Clamp((v * 255 - r[0]) / (r[1] - r[0]));
  return (r[2] + std::pow(t, 100.0 / r[4]) * (r[3] - r[2])) / 255;
}

// A curve: its count, then each point as output, input.
std::string Curve(const std::vector<std::array<int, 2>>& points) {
  std::string bytes = Shorts({static_cast<int>(points.size())});
  for (const auto& [input, output] : points) bytes += Shorts({output, input});
  return bytes;
}

std::string HueBlock(bool colourize, std::array<int, 3> colour, std::array<int, 3> master,
                     std::array<int, 3> reds = {}) {
  std::string block = Shorts({2}) + std::string{static_cast<char>(colourize), '\0'};
  block += Shorts({colour[0], colour[1], colour[2], master[0], master[1], master[2]});
  const int ranges[6][4] = {{315, 345, 15, 45},   {15, 45, 75, 105},    {75, 105, 135, 165},
                            {135, 165, 195, 225}, {195, 225, 255, 285}, {255, 285, 315, 345}};
  for (int i = 0; i < 6; ++i) {
    const std::array<int, 3> change = i == 0 ? reds : std::array<int, 3>{};
    block += Shorts(
        {ranges[i][0], ranges[i][1], ranges[i][2], ranges[i][3], change[0], change[1], change[2]});
  }
  return block;
}

// A gradient map's block: its name, colour stops (RGB, location 0..4096, midpoint percent), two
// opaque transparency stops and the smoothness fields after them.
// The newer layout (version 3) has an interpolation method before the name.
std::string GradientBlock(bool reverse, const std::vector<std::array<int, 5>>& stops,
                          const std::string& method = "") {
  std::string block =
      Shorts({method.empty() ? 1 : 3}) + std::string{static_cast<char>(reverse), '\0'};
  block += method + Long(2) + Shorts({'G', 0});
  block += Shorts({static_cast<int>(stops.size())});
  for (const auto& [location, midpoint, r, g, b] : stops) {
    block += Long(static_cast<uint32_t>(location)) + Long(static_cast<uint32_t>(midpoint));
    block += Shorts({0, r * 257, g * 257, b * 257, 0, 0});
  }
  block += Shorts({2}) + Long(0) + Long(50) + Shorts({255}) + Long(4096) + Long(50) + Shorts({255});
  return block + Shorts({2, 4096, 32, 0}) + Long(0) + Shorts({0, 0}) + Long(0) + Shorts({0});
}

// Selective colour: relative or absolute, then cyan, magenta, yellow and black changes for reds,
// yellows, greens, cyans, blues, magentas, whites, neutrals and blacks.
std::string SelectiveBlock(bool absolute, const std::vector<std::array<int, 4>>& ranges) {
  std::string block = Shorts({1, absolute ? 1 : 0, 0, 0, 0, 0});
  for (size_t i = 0; i < 9; ++i) {
    const std::array<int, 4> r = i < ranges.size() ? ranges[i] : std::array<int, 4>{};
    block += Shorts({r[0], r[1], r[2], r[3]});
  }
  return block;
}

class ColourAdjustmentTest : public ::testing::Test {
 protected:
  // A row of `colours`, one pixel each, under an adjustment layer holding `blocks`.
  PsdSpec Document(const std::vector<Colour>& colours,
                   const std::vector<std::pair<std::string, std::string>>& blocks,
                   PsdMode mode = PsdMode::Rgb) {
    const auto width = static_cast<uint32_t>(colours.size());
    PsdSpec spec = PlaceholderDocument(mode, 8, width, 1);
    PsdLayer row = SolidLayer(spec, {0, 0, 1, static_cast<int32_t>(width)}, {0, 0, 0});
    for (size_t c = 0; c < row.channels.size(); ++c) {
      row.channels[c].plane = PsdLayerPlane(
          width, 1, 8, [&](uint32_t x, uint32_t) { return PsdSampleOf(colours[x][c], 8); });
    }
    spec.layers.push_back(row);
    PsdLayer adjustment;
    for (const auto& [key, data] : blocks) adjustment.blocks.push_back({key, data});
    spec.layers.push_back(adjustment);
    return spec;
  }

  Bitmap Rebuild(const PsdSpec& spec) {
    const std::string file = WritePsd(spec);
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    bool nothing_to_build = false;
    left_out_ = 0;
    return RebuildFromLayers(bytes, 0, nothing_to_build, [this](const CompositePlan& plan) {
      left_out_ = plan.left_out;
      return true;
    });
  }

  // Rebuilds `colours` under the adjustment and checks each pixel against `expected` of its
  // colour, within `levels` of 8 bits.
  void Check(const std::vector<Colour>& colours, const std::string& key, const std::string& data,
             const std::function<Colour(const Colour&)>& expected, double levels = 1.0) {
    const Bitmap image = Rebuild(Document(colours, {{key, data}}));
    ASSERT_TRUE(image);
    EXPECT_EQ(left_out_ & LeftOutAdjustments, 0u) << key << " was left out";
    for (size_t x = 0; x < colours.size(); ++x) {
      SCOPED_TRACE(::testing::Message() << key << " on pixel " << x);
      Colour want = expected(colours[x]);
      for (double& v : want) v = Clamp(v);
      ExpectPixel(image, static_cast<int>(x), 0, {want, 1.0}, levels);
    }
  }

  uint64_t left_out_ = 0;
};

const std::vector<Colour> Samples = {Rgb8(0, 0, 0),      Rgb8(255, 255, 255), Rgb8(30, 90, 200),
                                     Rgb8(200, 60, 40),  Rgb8(128, 128, 128), Rgb8(250, 240, 10),
                                     Rgb8(12, 180, 100), Rgb8(70, 20, 130)};

}  // namespace

TEST_F(ColourAdjustmentTest, LevelsMapInputRangeThroughGammaOntoOutputRange) {
  const std::array<int, 5> all{20, 230, 10, 240, 160}, red{0, 200, 0, 255, 100},
      blue{40, 255, 60, 255, 50};
  const std::array<int, 5> same{0, 255, 0, 255, 100};
  // Each channel's own levels come first, then those for every channel.
  Check(Samples, "levl", LevelsBlock({all, red, same, blue}), [&](const Colour& c) {
    return Colour{Levelled(Levelled(c[0], red), all), Levelled(c[1], all),
                  Levelled(Levelled(c[2], blue), all)};
  });
  // Output black above output white turns the levels round.
  const std::array<int, 5> reversed{0, 255, 255, 0, 100};
  Check(Samples, "levl", LevelsBlock({reversed}), [](const Colour& c) {
    return Colour{1 - c[0], 1 - c[1], 1 - c[2]};
  });

  // A greyscale document's levels are the first record's alone.
  PsdSpec grey = Document({Grey(0.1), Grey(0.5), Grey(0.9)}, {{"levl", LevelsBlock({all, red})}},
                          PsdMode::Greyscale);
  const Bitmap image = Rebuild(grey);
  ASSERT_TRUE(image);
  for (int x = 0; x < 3; ++x) {
    const double v = Levelled(Stored(0.1 + 0.4 * x, 8), all);
    ExpectPixel(image, x, 0, {Grey(v), 1.0});
  }
}

TEST_F(ColourAdjustmentTest, BrightnessContrastLegacyShiftsAndCurrentFollowsPhotoshop) {
  // Legacy brightness adds its value to every level.
  Check(Samples, "brit", Shorts({40, 0, 127, 0}), [](const Colour& c) {
    return Colour{c[0] + 40 / 255.0, c[1] + 40 / 255.0, c[2] + 40 / 255.0};
  });

  // The current mode (its settings in "CgEd"), against levels read from a Photoshop document's
  // own composite: each pair is input, output in 8-bit levels.
  const auto current = [](int brightness, int contrast, int mean) {
    PsdDescriptorWriter settings("null");
    settings.Long("Vrsn", 1).Long("Brgh", brightness).Long("Cntr", contrast).Long("means", mean);
    settings.Bool("Lab ", false).Bool("useLegacy", false).Bool("Auto", false);
    return std::vector<std::pair<std::string, std::string>>{
        {"brit", Shorts({brightness, contrast, mean, 0})}, {"CgEd", settings.Versioned()}};
  };
  struct Measured {
    int brightness, contrast;
    std::array<std::array<int, 2>, 4> levels;
  };
  const Measured measured[] = {{150, -21, {{{40, 106}, {100, 215}, {160, 248}, {220, 254}}}},
                               {23, 70, {{{40, 31}, {100, 110}, {160, 200}, {220, 245}}}},
                               {-31, 47, {{{40, 24}, {100, 72}, {160, 134}, {220, 204}}}},
                               {-95, -50, {{{40, 29}, {100, 67}, {160, 100}, {220, 139}}}}};
  for (const Measured& m : measured) {
    SCOPED_TRACE(::testing::Message() << m.brightness << " brightness " << m.contrast);
    std::vector<Colour> greys = {Grey(0), Grey(1)};
    for (const auto& [in, out] : m.levels) greys.push_back(Grey(in / 255.0));
    const Bitmap image = Rebuild(Document(greys, current(m.brightness, m.contrast, 127)));
    ASSERT_TRUE(image);
    EXPECT_EQ(left_out_ & LeftOutAdjustments, 0u);
    // Black and white stay.
    ExpectPixel(image, 0, 0, {Grey(0), 1.0});
    ExpectPixel(image, 1, 0, {Grey(1), 1.0});
    for (size_t i = 0; i < m.levels.size(); ++i) {
      ExpectPixel(image, static_cast<int>(i + 2), 0, {Grey(m.levels[i][1] / 255.0), 1.0}, 5.0);
    }
  }

  // Contrast turns about the mean level the layer stores: that level stays, the others move away.
  for (const int mean : {90, 170}) {
    SCOPED_TRACE(::testing::Message() << "mean " << mean);
    const Bitmap image =
        Rebuild(Document({Grey((mean - 40) / 255.0), Grey(mean / 255.0), Grey((mean + 40) / 255.0)},
                         current(0, 60, mean)));
    ASSERT_TRUE(image);
    ExpectPixel(image, 1, 0, {Grey(mean / 255.0), 1.0});
    EXPECT_LT(ReadPixel(image, 0, 0).green / 257.0, mean - 40 - 5);
    EXPECT_GT(ReadPixel(image, 2, 0).green / 257.0, mean + 40 + 5);
  }
}

TEST_F(ColourAdjustmentTest, CurvesFollowANaturalCubicSplineThroughTheirPoints) {
  // Three evenly spaced points: the inner second derivative is 3 (y0 - 2 y1 + y2) / (2 h^2) and
  // both ends are straight.
  const double x0 = 15, x1 = 135, x2 = 255, y0 = 0, y1 = 200, y2 = 255, h = 120;
  const double m = 3 * (y0 - 2 * y1 + y2) / (2 * h * h);
  const auto spline = [&](double v) {
    const double x = v * 255;
    double y = 0;
    if (x <= x0) {
      y = y0;
    } else if (x <= x1) {
      y = m * std::pow(x - x0, 3) / (6 * h) + y0 / h * (x1 - x) + (y1 / h - m * h / 6) * (x - x0);
    } else {
      y = m * std::pow(x2 - x, 3) / (6 * h) + (y1 / h - m * h / 6) * (x2 - x) + y2 / h * (x - x1);
    }
    return Clamp(y / 255);
  };
  std::vector<Colour> ramp;
  for (const int level : {0, 10, 15, 40, 100, 135, 170, 230, 255})
    ramp.push_back(Grey(level / 255.0));
  ramp.push_back(Rgb8(60, 140, 220));
  const std::string curve = Curve({{15, 0}, {135, 200}, {255, 255}});
  // One curve for every channel (bit 0), the form's padding byte and version first.
  Check(ramp, "curv", std::string(1, '\0') + Shorts({1}) + Long(1) + curve, [&](const Colour& c) {
    return Colour{spline(c[0]), spline(c[1]), spline(c[2])};
  });

  // A green curve (bit 2) that halves, applied before the curve for every channel.
  const std::string half = Curve({{0, 0}, {255, 128}});
  Check(ramp, "curv", std::string(1, '\0') + Shorts({1}) + Long(1 | 4) + curve + half,
        [&](const Colour& c) {
          return Colour{spline(c[0]), spline(std::round(c[1] * 128) / 255), spline(c[2])};
        });

  // The later list, which names each curve's channel, is the one that counts.
  const std::string identity = Curve({{0, 0}, {255, 255}});
  const std::string list =
      "Crv " + Shorts({4}) + Long(1) + Shorts({0}) + Curve({{0, 255}, {255, 0}});
  Check(ramp, "curv", std::string(1, '\0') + Shorts({1}) + Long(1) + identity + list,
        [](const Colour& c) {
          return Colour{1 - c[0], 1 - c[1], 1 - c[2]};
        });
}

TEST_F(ColourAdjustmentTest, HueSaturationTurnsHuesAndScalesSaturationAndLightness) {
  // A third of a turn takes red to green: the channels move round by one.
  Check(Samples, "hue2", HueBlock(false, {}, {120, 0, 0}), [](const Colour& c) {
    return Colour{c[2], c[0], c[1]};
  });
  // No saturation leaves the double cone's lightness, (max + min) / 2.
  Check(Samples, "hue2", HueBlock(false, {}, {0, -100, 0}), [](const Colour& c) {
    return Grey((std::max({c[0], c[1], c[2]}) + std::min({c[0], c[1], c[2]})) / 2);
  });
  // Lightness moves toward white or black by its share.
  Check(Samples, "hue2", HueBlock(false, {}, {0, 0, 50}), [](const Colour& c) {
    return Colour{(1 + c[0]) / 2, (1 + c[1]) / 2, (1 + c[2]) / 2};
  });
  Check(Samples, "hue2", HueBlock(false, {}, {0, 0, -25}), [](const Colour& c) {
    return Colour{c[0] * 0.75, c[1] * 0.75, c[2] * 0.75};
  });
  // Colourize gives every pixel one hue and saturation at its own lightness.
  Check(Samples, "hue2", HueBlock(true, {240, 60, 0}, {}), [](const Colour& c) {
    return Hsl(240, 0.6, (std::max({c[0], c[1], c[2]}) + std::min({c[0], c[1], c[2]})) / 2);
  });
}

TEST_F(ColourAdjustmentTest, HueSaturationOfOneRangeFadesOutAcrossItsRamps) {
  // Reds lose all saturation; hue 30 lies halfway down the reds' ramp (15..45), hue 240 outside.
  const std::vector<Colour> colours = {Hsl(0, 0.8, 0.5), Hsl(30, 1, 0.5), Hsl(240, 0.8, 0.5),
                                       Hsl(350, 0.6, 0.4)};
  std::vector<Colour> stored;
  for (const Colour& c : colours)
    stored.push_back({Stored(c[0], 8), Stored(c[1], 8), Stored(c[2], 8)});
  const Bitmap image = Rebuild(Document(stored, {{"hue2", HueBlock(false, {}, {}, {0, -100, 0})}}));
  ASSERT_TRUE(image);
  ExpectPixel(image, 0, 0, {Grey(0.5), 1.0});
  ExpectPixel(image, 1, 0, {Hsl(30, 0.5, 0.5), 1.0});
  ExpectPixel(image, 2, 0, {stored[2], 1.0});
  ExpectPixel(image, 3, 0, {Grey(0.4), 1.0});
}

TEST_F(ColourAdjustmentTest, ExposureScalesLightThenAddsOffsetAndGamma) {
  for (const auto& [stops, offset, gamma] : {std::array<float, 3>{1, 0, 1},
                                             {-2, 0, 1},
                                             {0.5f, 0.05f, 1},
                                             {0, 0, 2.2f},
                                             {-1, -0.02f, 0.8f}}) {
    SCOPED_TRACE(::testing::Message() << stops << " stops " << offset << " offset " << gamma);
    Check(Samples, "expA", Shorts({1}) + Float(stops) + Float(offset) + Float(gamma),
          [&](const Colour& c) {
            Colour out{};
            for (int i = 0; i < 3; ++i) {
              const double light = std::max(SrgbToLinear(c[i]) * std::exp2(stops) + offset, 0.0);
              out[i] = LinearToSrgb(std::pow(light, 1 / gamma));
            }
            return out;
          });
  }
}

TEST_F(ColourAdjustmentTest, ExposureInA32BitDocumentWorksOnItsLightUnbounded) {
  // 32-bit samples are light already: one stop up, a 0.02 offset and gamma 1.25 give
  // (2 v + 0.02)^0.8, past 1 where the light goes past it.
  const std::vector<double> light = {0.0, 0.1, 0.25, 0.6};
  const auto width = static_cast<uint32_t>(light.size());
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 32, width, 1);
  PsdLayer row = SolidLayer(spec, {0, 0, 1, static_cast<int32_t>(width)}, {0, 0, 0});
  for (PsdLayer::Channel& channel : row.channels) {
    channel.plane = PsdLayerPlane(width, 1, 32,
                                  [&](uint32_t x, uint32_t) { return PsdSampleOf(light[x], 32); });
  }
  spec.layers.push_back(row);
  PsdLayer exposure;
  exposure.blocks.push_back({"expA", Shorts({1}) + Float(1) + Float(0.02f) + Float(1.25f)});
  spec.layers.push_back(exposure);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_RGBF);
  const auto* pixels = reinterpret_cast<const FIRGBF*>(FreeImage_GetScanLine(image.get(), 0));
  for (size_t x = 0; x < light.size(); ++x) {
    const double want = std::pow(2 * light[x] + 0.02, 0.8);
    EXPECT_NEAR(pixels[x].red, want, 1e-4) << x;
    EXPECT_NEAR(pixels[x].blue, want, 1e-4) << x;
  }
  EXPECT_GT(pixels[3].green, 1.0f);
}

TEST_F(ColourAdjustmentTest, ChannelMixerAndBlackAndWhiteWeighTheChannels) {
  // Red from half red and half green plus a tenth; green doubled; blue from red alone.
  const std::string mixer =
      Shorts({1, 0, 50, 50, 0, 0, 10, 0, 200, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Check(Samples, "mixr", mixer, [](const Colour& c) {
    return Colour{0.5 * c[0] + 0.5 * c[1] + 0.1, 2 * c[1], c[0]};
  });
  // Monochrome: every channel is the first row's.
  const std::string mono = Shorts({1, 1, 30, 60, 10, 0, 0}) + std::string(30, '\0');
  Check(Samples, "mixr", mono,
        [](const Colour& c) { return Grey(0.3 * c[0] + 0.6 * c[1] + 0.1 * c[2]); });

  // Black & white: grey keeps the smallest channel, then weighs what the middle channel adds (a
  // mixed colour) and what the largest adds over that (a primary).
  PsdDescriptorWriter weights("null");
  weights.Long("Rd  ", 40).Long("Yllw", 70).Long("Grn ", 30).Long("Cyn ", 50).Long("Bl  ", 10);
  weights.Long("Mgnt", 90).Bool("useTint", false);
  const double w[6] = {0.4, 0.7, 0.3, 0.5, 0.1, 0.9};  // red, yellow, green, cyan, blue, magenta
  Check(Samples, "blwh", weights.Versioned(), [&](const Colour& c) {
    const double r = c[0], g = c[1], b = c[2];
    if (r >= g && g >= b) return Grey(b + (g - b) * w[1] + (r - g) * w[0]);
    if (r >= b && b >= g) return Grey(g + (b - g) * w[5] + (r - b) * w[0]);
    if (g >= r && r >= b) return Grey(b + (r - b) * w[1] + (g - r) * w[2]);
    if (g >= b && b >= r) return Grey(r + (b - r) * w[3] + (g - b) * w[2]);
    if (b >= r && r >= g) return Grey(g + (r - g) * w[5] + (b - r) * w[4]);
    return Grey(r + (g - r) * w[3] + (b - g) * w[4]);
  });

  // A tint keeps the grey's luma and takes the tint's hue.
  PsdDescriptorWriter tint("RGBC");
  tint.Double("Rd  ", 200).Double("Grn ", 150).Double("Bl  ", 100);
  PsdDescriptorWriter tinted("null");
  tinted.Long("Rd  ", 40).Long("Yllw", 60).Long("Grn ", 40).Long("Cyn ", 60).Long("Bl  ", 20);
  tinted.Long("Mgnt", 80).Bool("useTint", true).Object("tintColor", tint);
  const Bitmap image = Rebuild(Document({Grey(0.5)}, {{"blwh", tinted.Versioned()}}));
  ASSERT_TRUE(image);
  // Luma 0.5 along the tint's line through grey: tint + (0.5 - luma(tint)).
  const Colour tone = Rgb8(200, 150, 100);
  const double shift = 0.5 - Luma(tone);
  ExpectPixel(image, 0, 0, {{tone[0] + shift, tone[1] + shift, tone[2] + shift}, 1.0});
}

TEST_F(ColourAdjustmentTest, GradientMapColoursByLumaBetweenStopsAndMidpoints) {
  // Black to white, reversed: the luma turned round.
  Check(Samples, "grdm", GradientBlock(true, {{0, 50, 0, 0, 0}, {4096, 50, 255, 255, 255}}),
        [](const Colour& c) { return Grey(1 - Luma(c)); });
  // Red, green at the middle, blue; the last span's midpoint at a quarter: a quarter of the way
  // along it the colour is half green, half blue.
  const std::string stops =
      GradientBlock(false, {{0, 50, 255, 0, 0}, {2048, 50, 0, 255, 0}, {4096, 25, 0, 0, 255}});
  const auto gradient = [](const Colour& c) {
    const double level = Luma(c);
    if (level <= 0.5) {
      const double t = level / 0.5;
      return Colour{1 - t, t, 0};
    }
    const double along = (level - 0.5) / 0.5;
    const double t = along < 0.25 ? 0.5 * along / 0.25 : 0.5 + 0.5 * (along - 0.25) / 0.75;
    return Colour{0, 1 - t, t};
  };
  std::vector<Colour> greys;
  for (const int level : {0, 64, 100, 128, 150, 160, 200, 255})
    greys.push_back(Grey(level / 255.0));
  Check(greys, "grdm", stops, gradient);
  Check({Rgb8(0, 255, 0), Rgb8(30, 90, 200)}, "grdm", stops, gradient);

  // The perceptual method places a pixel by its light: sRGB-decoded luma.
  const std::string perceptual =
      GradientBlock(false, {{0, 50, 0, 0, 0}, {4096, 50, 255, 120, 0}}, "Perc");
  Check(greys, "grdm", perceptual, [](const Colour& c) {
    const double t = SrgbToLinear(Luma(c));
    return Colour{t, t * 120 / 255, 0};
  });
}

TEST_F(ColourAdjustmentTest, SelectiveColourChangesTheInkOfEachRange) {
  // Reds: a colour holds as much red as its red channel leads the next; its inks change by that
  // share of (1 + colour change)(1 + black change) - 1, or of that times the ink when relative.
  const std::array<int, 4> reds{15, -14, 33, 6};
  const auto expected = [&](bool absolute) {
    return [&, absolute](const Colour& c) {
      const double high = std::max({c[0], c[1], c[2]});
      const double middle = c[0] + c[1] + c[2] - high - std::min({c[0], c[1], c[2]});
      const double share = c[0] == high ? high - middle : 0;
      Colour out{};
      for (int i = 0; i < 3; ++i) {
        const double ink = 1 - c[i];
        const double change = (1 + reds[i] / 100.0) * (1 + reds[3] / 100.0) - 1;
        out[i] = 1 - (ink + share * change * (absolute ? 1 : ink));
      }
      return out;
    };
  };
  // Only reds and blues (which take none of the change) among these.
  const std::vector<Colour> colours = {Rgb8(255, 124, 0), Rgb8(200, 60, 40), Rgb8(180, 30, 90),
                                       Rgb8(30, 90, 200), Rgb8(255, 0, 0)};
  Check(colours, "selc", SelectiveBlock(true, {reds}), expected(true));
  Check(colours, "selc", SelectiveBlock(false, {reds}), expected(false));
}

TEST_F(ColourAdjustmentTest, VibranceBalanceAndPhotoFilterKeepWhatTheyPromise) {
  // Saturation -100 leaves luma; vibrance alone leaves greys and the fullest colours.
  PsdDescriptorWriter dull("null");
  dull.Long("vibrance", 0).Long("Strt", -100);
  Check(Samples, "vibA", dull.Versioned(), [](const Colour& c) { return Grey(Luma(c)); });
  PsdDescriptorWriter vivid("null");
  vivid.Long("vibrance", 80).Long("Strt", 0);
  Check({Grey(0.3), Rgb8(255, 0, 0), Rgb8(0, 0, 255)}, "vibA", vivid.Versioned(),
        [](const Colour& c) { return c; });
  // ...and gives a dull colour more of its chroma, about its luma.
  const Bitmap vibrant = Rebuild(Document({Rgb8(140, 120, 110)}, {{"vibA", vivid.Versioned()}}));
  ASSERT_TRUE(vibrant);
  const Rgba16 more = ReadPixel(vibrant, 0, 0);
  EXPECT_GT((more.red - more.blue) / 257.0, 140 - 110);

  // Colour balance: midtones towards red lift a mid grey's red only; shadows leave white alone;
  // with luminosity kept the HSL lightness stays.
  const std::string midtones_red = Shorts({0, 0, 0, 60, 0, 0, 0, 0, 0}) + std::string(2, '\0');
  const Bitmap balanced = Rebuild(Document({Grey(0.5), Grey(1)}, {{"blnc", midtones_red}}));
  ASSERT_TRUE(balanced);
  const Rgba16 warmer = ReadPixel(balanced, 0, 0);
  EXPECT_GT(warmer.red / 257.0, 140);
  EXPECT_NEAR(warmer.green / 257.0, 128, 1);
  EXPECT_NEAR(warmer.blue / 257.0, 128, 1);
  ExpectPixel(balanced, 1, 0, {Grey(1), 1.0});
  const std::string kept = Shorts({0, 0, 0, 60, -30, 10, 0, 0, 0}) + std::string{'\1', '\0'};
  const Bitmap same_light = Rebuild(Document(Samples, {{"blnc", kept}}));
  ASSERT_TRUE(same_light);
  for (size_t x = 0; x < Samples.size(); ++x) {
    const Rgba16 out = ReadPixel(same_light, static_cast<int>(x), 0);
    const int high = std::max({out.red, out.green, out.blue});
    const int low = std::min({out.red, out.green, out.blue});
    const Colour& c = Samples[x];
    const double lightness = (std::max({c[0], c[1], c[2]}) + std::min({c[0], c[1], c[2]})) / 2;
    EXPECT_NEAR((high + low) / 2.0 / 257, lightness * 255, 1.5) << x;
  }

  // Photo filter at full density without keeping luminosity is the filter's colour multiplied
  // in; at a quarter, a quarter of the way there.
  const auto filter = [](int density, bool keep) {
    return Shorts({2, 0, 65535, 32896, 13107, 0}) + Long(static_cast<uint32_t>(density)) +
           std::string{static_cast<char>(keep), '\0', '\0', '\0'};
  };
  const Colour glass{1, 32896 / 65535.0, 13107 / 65535.0};
  Check(Samples, "phfl", filter(100, false), [&](const Colour& c) {
    return Colour{c[0] * glass[0], c[1] * glass[1], c[2] * glass[2]};
  });
  Check(Samples, "phfl", filter(25, false), [&](const Colour& c) {
    Colour out{};
    for (int i = 0; i < 3; ++i) out[i] = c[i] + 0.25 * (c[i] * glass[i] - c[i]);
    return out;
  });
}

TEST_F(ColourAdjustmentTest, AdjustmentsKeepClippingOpacityAndSayWhatIsLeftOut) {
  // Levels clipped to the upper of two layers, at 40% opacity: the lower one is not reached.
  const std::array<int, 5> darker{0, 255, 0, 128, 100};
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 1);
  const Colour lower = Rgb8(200, 100, 50), upper = Rgb8(40, 220, 160);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 1, 4}, lower));
  spec.layers.push_back(SolidLayer(spec, {0, 2, 1, 4}, upper));
  PsdLayer levels;
  levels.blocks.push_back({"levl", LevelsBlock({darker})});
  levels.clipped = true;
  levels.opacity = 102;
  spec.layers.push_back(levels);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  EXPECT_EQ(left_out_, 0u);
  const double t = 102 / 255.0;
  Colour mixed{};
  for (int c = 0; c < 3; ++c) mixed[c] = upper[c] + t * (Levelled(upper[c], darker) - upper[c]);
  ExpectPixel(image, 0, 0, {lower, 1.0});
  ExpectPixel(image, 3, 0, {mixed, 1.0});

  // A block that breaks its layout, and a kind we do not draw, change nothing and are named.
  for (const auto& [key, data] :
       {std::pair<std::string, std::string>{"levl", LevelsBlock({{200, 100, 0, 255, 100}})},
        {"curv", std::string(1, '\0') + Shorts({1}) + Long(1) + Curve({{100, 0}, {50, 255}})},
        {"hue2", Shorts({2})},
        {"grdm", Shorts({1, 0}) + Long(1000)},
        {"clrL", std::string(64, '\0')}}) {
    SCOPED_TRACE(key);
    const Bitmap left = Rebuild(Document({lower}, {{key, data}}));
    ASSERT_TRUE(left);
    EXPECT_NE(left_out_ & LeftOutAdjustments, 0u);
    ExpectPixel(left, 0, 0, {lower, 1.0});
  }

  // Blocks cut short anywhere are read within their bytes: drawn from what they hold, or left
  // out, and the rest of the document is still rebuilt.
  PsdDescriptorWriter vibrance("null");
  vibrance.Long("vibrance", 30).Long("Strt", 10);
  const std::string blocks[][2] = {
      {"levl", LevelsBlock({darker})},
      {"curv", std::string(1, '\0') + Shorts({1}) + Long(1) + Curve({{0, 0}, {255, 128}}) + "Crv " +
                   Shorts({4}) + Long(1) + Shorts({0}) + Curve({{0, 0}, {255, 128}})},
      {"hue2", HueBlock(false, {}, {30, 20, 0})},
      {"expA", Shorts({1}) + Float(1) + Float(0) + Float(1)},
      {"vibA", vibrance.Versioned()},
      {"blnc", Shorts({0, 0, 0, 60, 0, 0, 0, 0, 0}) + std::string(2, '\0')},
      {"mixr", Shorts({1, 1, 30, 60, 10, 0, 0}) + std::string(30, '\0')},
      {"phfl", Shorts({2, 0, 65535, 0, 0, 0}) + Long(50) + std::string(4, '\0')},
      {"grdm", GradientBlock(false, {{0, 50, 0, 0, 0}, {4096, 50, 255, 255, 255}}, "Perc")},
      {"selc", SelectiveBlock(true, {{10, 0, 0, 0}})}};
  for (const auto& [key, data] : blocks) {
    for (size_t size = 0; size < data.size(); ++size) {
      SCOPED_TRACE(::testing::Message() << key << " cut to " << size);
      const Bitmap cut = Rebuild(Document({lower}, {{key, data.substr(0, size)}}));
      ASSERT_TRUE(cut);
      EXPECT_EQ(ReadPixel(cut, 0, 0).alpha, 65535);
    }
  }
}
