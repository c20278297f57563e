// Layer effects and gradient fills rebuilt in this process. The expected pictures are worked out
// here from the effects' geometry (a stroke's rings counted from the layer's edge, a shadow moved
// away from the light by its distance, a blur that keeps the shadow's amount and stays within its
// size) and from linear interpolation between gradient stops, never taken from the code under
// test.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "engine/isolation/decoder_protocol.h"
#include "tests/engine/layer_documents.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

const Colour White{1, 1, 1};
const Colour Black{0, 0, 0};
const Colour Red{1, 0, 0};
const Colour Green{0, 1, 0};
const Colour Blue{0, 0, 1};

class LayerEffectTest : public ::testing::Test {
 protected:
  Bitmap Rebuild(const PsdSpec& spec, int64_t band_rows = 0) {
    const std::string file = WritePsd(spec);
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    bool nothing_to_build = false;
    return RebuildFromLayers(bytes, band_rows, nothing_to_build, [this](const CompositePlan& plan) {
      plan_ = plan;
      return true;
    });
  }
  // Rebuilds `spec` whole and in bands of `rows`: within a level of `want` each time, with no
  // effect left out.
  void ExpectRebuiltAs(const PsdSpec& spec, const Bitmap& want, int64_t rows) {
    for (const int64_t band : {int64_t{0}, rows}) {
      SCOPED_TRACE(band);
      const Bitmap got = Rebuild(spec, band);
      ASSERT_TRUE(got);
      EXPECT_EQ(plan_.left_out & LeftOutEffects, 0u);
      const PictureDifference difference = ComparePictures(got, want);
      ASSERT_TRUE(difference.same_size);
      EXPECT_LE(difference.max_colour, 1.0);
      EXPECT_LE(difference.max_alpha, 1.0);
    }
  }

  CompositePlan plan_;
};

// A white document of `width` by `height` with a white background layer.
PsdSpec WhiteDocument(uint32_t width, uint32_t height) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, width, height);
  spec.layers.push_back(
      SolidLayer(spec, {0, 0, static_cast<int32_t>(height), static_cast<int32_t>(width)}, White));
  return spec;
}

PsdDescriptorWriter RgbColour(const Colour& colour) {
  PsdDescriptorWriter out("RGBC");
  out.Double("Rd  ", colour[0] * 255)
      .Double("Grn ", colour[1] * 255)
      .Double("Bl  ", colour[2] * 255);
  return out;
}

// The "lfx2" block of `effects` (pairs of key and settings), master switch `on`.
PsdLayer::Block EffectsBlock(
    const std::vector<std::pair<std::string, PsdDescriptorWriter>>& effects, bool on = true) {
  PsdDescriptorWriter top("null");
  top.UnitFloat("Scl ", "#Prc", 100).Bool("masterFXSwitch", on);
  for (const auto& [key, settings] : effects) top.Object(key, settings);
  return {"lfx2", std::string(4, '\0') + top.Versioned()};
}

PsdDescriptorWriter Stroke(const char* style, double size, const Colour& colour) {
  PsdDescriptorWriter out("FrFX");
  out.Bool("enab", true)
      .Enum("Styl", "FStl", style)
      .Enum("PntT", "FrFl", "SClr")
      .Enum("Md  ", "BlnM", "Nrml")
      .UnitFloat("Opct", "#Prc", 100)
      .UnitFloat("Sz  ", "#Pxl", size)
      .Object("Clr ", RgbColour(colour));
  return out;
}

PsdDescriptorWriter Shadow(double distance, double size, double opacity, bool global_light,
                           double angle = 0, bool conceals = true) {
  PsdDescriptorWriter out("DrSh");
  out.Bool("enab", true)
      .Enum("Md  ", "BlnM", "Nrml")
      .Object("Clr ", RgbColour(Black))
      .UnitFloat("Opct", "#Prc", opacity)
      .Bool("uglg", global_light)
      .UnitFloat("lagl", "#Ang", angle)
      .UnitFloat("Dstn", "#Pxl", distance)
      .UnitFloat("Ckmt", "#Prc", 0)
      .UnitFloat("blur", "#Pxl", size)
      .Bool("layerConceals", conceals);
  return out;
}

PsdDescriptorWriter Overlay(const Colour& colour, double opacity = 100) {
  PsdDescriptorWriter out("SoFi");
  out.Bool("enab", true)
      .Enum("Md  ", "BlnM", "Nrml")
      .UnitFloat("Opct", "#Prc", opacity)
      .Object("Clr ", RgbColour(colour));
  return out;
}

// A bevel of `style`, 4 pixels wide and up, lit by its own light from `angle` degrees: a white
// highlight and a black shadow at `opacity` percent, in the modes named.
PsdDescriptorWriter Bevel(const char* style, const char* highlight, const char* shadow,
                          double opacity, double angle) {
  PsdDescriptorWriter out("ebbl");
  out.Bool("enab", true)
      .Enum("bvlS", "BESl", style)
      .Enum("hglM", "BlnM", highlight)
      .Object("hglC", RgbColour(White))
      .UnitFloat("hglO", "#Prc", opacity)
      .Enum("sdwM", "BlnM", shadow)
      .Object("sdwC", RgbColour(Black))
      .UnitFloat("sdwO", "#Prc", opacity)
      .Bool("uglg", false)
      .UnitFloat("lagl", "#Ang", angle)
      .UnitFloat("blur", "#Pxl", 4)
      .Enum("bvlD", "BESs", "In  ");
  return out;
}

// A square of `colour` over columns and rows 10..29 of a 40 x 40 canvas of `ground`, with a
// bevel of `style` in normal modes at full opacity, lit from the left (180 degrees) at 30 degrees.
PsdSpec BevelledSquare(const char* style, const Colour& colour, const Colour& ground) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 40, 40);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 40, 40}, ground));
  PsdLayer square = SolidLayer(spec, {10, 10, 30, 30}, colour);
  PsdDescriptorWriter bevel = Bevel(style, "Nrml", "Nrml", 100, 180);
  bevel.UnitFloat("Lald", "#Ang", 30).UnitFloat("srgR", "#Prc", 100);
  square.blocks.push_back(EffectsBlock({{"ebbl", bevel}}));
  spec.layers.push_back(square);
  return spec;
}

struct Stop {
  int location;  // 0..4096
  Colour colour;
};

// A gradient's stops ("Grad"), with opacity stops from `opacity_from` to `opacity_to` percent
// and the smoothness in 4096ths (none: colours mix in straight lines).
PsdDescriptorWriter Stops(const std::vector<Stop>& stops, double opacity_from = 100,
                          double opacity_to = 100, double smoothness = 0) {
  std::vector<PsdDescriptorWriter> colours;
  for (const Stop& stop : stops) {
    PsdDescriptorWriter item("Clrt");
    item.Object("Clr ", RgbColour(stop.colour))
        .Enum("Type", "Clry", "UsrS")
        .Long("Lctn", stop.location)
        .Long("Mdpn", 50);
    colours.push_back(item);
  }
  std::vector<PsdDescriptorWriter> opacities;
  for (const auto& [location, opacity] : {std::pair{0, opacity_from}, {4096, opacity_to}}) {
    PsdDescriptorWriter item("TrnS");
    item.UnitFloat("Opct", "#Prc", opacity).Long("Lctn", location).Long("Mdpn", 50);
    opacities.push_back(item);
  }
  PsdDescriptorWriter out("Grdn");
  out.Enum("GrdF", "GrdF", "CstS")
      .Double("Intr", smoothness)
      .List("Clrs", colours)
      .List("Trns", opacities);
  return out;
}

// The gradient's settings as an overlay (with `overlay`) or a fill layer hold them.
PsdDescriptorWriter GradientSettings(const char* class_id, const std::vector<Stop>& stops,
                                     const char* shape, double angle, bool reverse,
                                     double opacity_from = 100, double opacity_to = 100,
                                     double smoothness = 0, bool align = true) {
  PsdDescriptorWriter out(class_id);
  if (std::string(class_id) == "GrFl") {
    out.Bool("enab", true).Enum("Md  ", "BlnM", "Nrml").UnitFloat("Opct", "#Prc", 100);
  }
  out.Object("Grad", Stops(stops, opacity_from, opacity_to, smoothness))
      .UnitFloat("Angl", "#Ang", angle)
      .Enum("Type", "GrdT", shape)
      .Bool("Rvrs", reverse)
      .Bool("Algn", align)
      .UnitFloat("Scl ", "#Prc", 100);
  return out;
}

PsdResource GlobalAngle(int32_t degrees) {
  const auto u = static_cast<uint32_t>(degrees);
  return {1037, std::string{static_cast<char>(u >> 24), static_cast<char>(u >> 16),
                            static_cast<char>(u >> 8), static_cast<char>(u)}};
}

Expected Opaque(const Colour& colour) { return {colour, 1.0}; }

Colour Mix(const Colour& a, const Colour& b, double t) {
  return {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]), a[2] + t * (b[2] - a[2])};
}

// How dark (0..1) the red channel of a pixel is against white.
double Darkness(const Bitmap& image, int x, int y) {
  return 1 - ReadPixel(image, x, y).red / 65535.0;
}

}  // namespace

TEST_F(LayerEffectTest, AStrokeIsAsWideAsItsSizeOnTheSideItsPositionSays) {
  // A blue square over rows and columns 8..15; the stroke's rings are counted in whole pixels
  // from its edge, along row 11 to the right and along the diagonal from its corner.
  struct Case {
    const char* style;
    double size;
    std::vector<std::pair<int, Colour>> row;  // column on row 11, colour
  };
  const std::vector<Case> cases = {
      {"OutF", 3, {{13, Blue}, {15, Blue}, {16, Red}, {18, Red}, {19, White}}},
      {"InsF", 1, {{13, Blue}, {14, Blue}, {15, Red}, {16, White}}},
      {"InsF", 2, {{13, Blue}, {14, Red}, {15, Red}, {16, White}}},
      {"CtrF", 2, {{14, Blue}, {15, Red}, {16, Red}, {17, White}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.style) + " " + std::to_string(test.size));
    PsdSpec spec = WhiteDocument(24, 24);
    PsdLayer square = SolidLayer(spec, {8, 8, 16, 16}, Blue);
    square.blocks.push_back(EffectsBlock({{"FrFX", Stroke(test.style, test.size, Red)}}));
    spec.layers.push_back(square);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    for (const auto& [x, colour] : test.row) {
      SCOPED_TRACE(x);
      ExpectPixel(image, x, 11, Opaque(colour));
    }
    // The stroke goes round the corner: an outside one reaches the pixel two across and two down
    // from it (2.8 pixels away) but not the one three each way (4.2).
    if (std::string(test.style) == "OutF") {
      ExpectPixel(image, 17, 17, Opaque(Red));
      ExpectPixel(image, 18, 18, Opaque(White));
      ExpectPixel(image, 7, 11, Opaque(Red));  // and all four sides
      ExpectPixel(image, 11, 5, Opaque(Red));
      ExpectPixel(image, 11, 4, Opaque(White));
    }
  }
}

TEST_F(LayerEffectTest, ADropShadowIsMovedAwayFromTheLightByItsDistance) {
  // A green square of 2 over rows and columns 8..9, a hard black shadow 5 pixels away.
  struct Case {
    bool global;
    int32_t global_angle, angle;
    double distance;
    int dx, dy;  // where the shadow lies, worked out from the angle by hand
  };
  const std::vector<Case> cases = {
      {true, 90, 0, 5, 0, 5},     // light from above: the shadow falls below
      {false, 90, 180, 5, 5, 0},  // the layer's own light, from the left: it falls to the right
      {false, 0, 45, 4 * std::numbers::sqrt2, -4, 4},  // from the upper right: down and left
      {true, -90, 30, 4, 0, -4},                       // from below: up
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << test.dx << "," << test.dy);
    PsdSpec spec = WhiteDocument(24, 24);
    spec.resources.push_back(GlobalAngle(test.global_angle));
    PsdLayer square = SolidLayer(spec, {8, 8, 10, 10}, Green);
    square.blocks.push_back(
        EffectsBlock({{"DrSh", Shadow(test.distance, 0, 100, test.global, test.angle)}}));
    spec.layers.push_back(square);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    ExpectPixel(image, 8, 8, Opaque(Green));  // the layer covers its own shadow
    for (int y = 8; y < 10; ++y) {
      for (int x = 8; x < 10; ++x) {
        const int sx = x + test.dx, sy = y + test.dy;
        ExpectPixel(image, sx, sy, Opaque(Black));
        // Past the shadow on the far side, nothing.
        ExpectPixel(image,
                    sx + (test.dx > 0   ? 2
                          : test.dx < 0 ? -2
                                        : 0),
                    sy + (test.dy > 0   ? 2
                          : test.dy < 0 ? -2
                                        : 0),
                    Opaque(White));
      }
    }
  }
  // Half the opacity, half the shadow.
  PsdSpec spec = WhiteDocument(24, 24);
  spec.resources.push_back(GlobalAngle(90));
  PsdLayer square = SolidLayer(spec, {8, 8, 10, 10}, Green);
  square.blocks.push_back(EffectsBlock({{"DrSh", Shadow(5, 0, 50, true)}}));
  spec.layers.push_back(square);
  const Bitmap half = Rebuild(spec);
  ASSERT_TRUE(half);
  ExpectPixel(half, 8, 13, Over(Opaque(White), Black, 0.5));
}

TEST_F(LayerEffectTest, ABlurredShadowKeepsItsAmountAndStaysWithinItsSize) {
  // The layer itself is not drawn (fill opacity 0) and does not hide its shadow, so the picture
  // is the shadow alone: blurring spreads the 36 pixels' worth of it without adding or losing any,
  // no further than its size, evenly on every side.
  constexpr int Size = 9;
  PsdSpec spec = WhiteDocument(50, 50);
  PsdLayer square = SolidLayer(spec, {20, 20, 26, 26}, Black);
  square.fill_opacity = 0;
  square.blocks.push_back(EffectsBlock({{"DrSh", Shadow(0, Size, 100, true, 0, false)}}));
  spec.layers.push_back(square);
  for (const int64_t rows : {0, 1, 7}) {
    SCOPED_TRACE(rows);
    const Bitmap image = Rebuild(spec, rows);
    ASSERT_TRUE(image);
    double amount = 0;
    for (int y = 0; y < 50; ++y) {
      for (int x = 0; x < 50; ++x) {
        const double dark = Darkness(image, x, y);
        amount += dark;
        const int away = std::max({20 - x, x - 25, 20 - y, y - 25, 0});
        if (away > Size + 1) {
          EXPECT_NEAR(dark, 0, 1 / 255.0) << x << "," << y;
        }
      }
    }
    EXPECT_NEAR(amount, 36, 36 * 0.02);
    EXPECT_LT(Darkness(image, 22, 22), 1.0);  // blurred even inside
    for (int step = 0; step < Size; ++step) {
      const double inner = Darkness(image, 25 + step, 22), outer = Darkness(image, 26 + step, 22);
      EXPECT_GE(inner, outer) << step;
      EXPECT_NEAR(outer, Darkness(image, 19 - step, 23), 1 / 255.0) << step;  // left as right
      EXPECT_NEAR(outer, Darkness(image, 22, 26 + step), 1 / 255.0) << step;  // below as right
    }
    EXPECT_GT(Darkness(image, 26, 22), 0.1);
  }
}

TEST_F(LayerEffectTest, AContourShapesTheShadowsFadeLevelByLevel) {
  // The same blurred shadow twice, alone (the layer's fill hidden): once with the linear contour,
  // once with a contour from (0, 0) to (128, 255), a straight line that reaches full strength
  // halfway and stays there. Every level of the first becomes min(1, level * 255 / 128).
  const auto shadow = [](bool contour) {
    PsdSpec spec = WhiteDocument(40, 40);
    PsdLayer square = SolidLayer(spec, {15, 15, 25, 25}, Black);
    square.fill_opacity = 0;
    PsdDescriptorWriter settings = Shadow(0, 8, 100, true, 0, false);
    if (contour) {
      std::vector<PsdDescriptorWriter> points;
      for (const auto& [x, y] : {std::pair{0.0, 0.0}, {128.0, 255.0}}) {
        PsdDescriptorWriter point("CrPt");
        point.Double("Hrzn", x).Double("Vrtc", y);
        points.push_back(point);
      }
      PsdDescriptorWriter curve("ShpC");
      curve.List("Crv ", points);
      settings.Object("TrnS", curve);
    }
    square.blocks.push_back(EffectsBlock({{"DrSh", settings}}));
    spec.layers.push_back(square);
    return spec;
  };
  const Bitmap linear = Rebuild(shadow(false));
  const Bitmap shaped = Rebuild(shadow(true));
  ASSERT_TRUE(linear);
  ASSERT_TRUE(shaped);
  int fading = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) {
      const double level = Darkness(linear, x, y);
      if (level > 0.05 && level < 0.45) ++fading;
      EXPECT_NEAR(Darkness(shaped, x, y), std::min(1.0, level * 255 / 128), 2.5 / 255)
          << x << "," << y;
    }
  }
  EXPECT_GT(fading, 20);  // the blur's fade was there to be shaped
}

TEST_F(LayerEffectTest, AGroupsEffectsTakeItsMembersAsOnePicture) {
  // Two squares in a group with a drop shadow and an outside stroke: the picture of one layer
  // holding both squares with the same effects, in one pass and in bands of rows. With the
  // group's fill opacity at 0, its members go and the effects stay.
  const auto squares = [](PsdSpec& spec) {
    return std::vector<PsdLayer>{SolidLayer(spec, {6, 6, 14, 14}, Blue),
                                 SolidLayer(spec, {10, 16, 18, 24}, Red)};
  };
  const auto settings = [] {
    return EffectsBlock({{"DrSh", Shadow(4, 3, 75, true, 30)}, {"FrFX", Stroke("OutF", 2, Green)}});
  };
  const auto grouped = [&](int fill_opacity) {
    PsdSpec spec = WhiteDocument(32, 28);
    AddGroup(spec, squares(spec), "pass", 255);
    spec.layers.back().blocks.push_back(settings());
    spec.layers.back().fill_opacity = fill_opacity;
    return spec;
  };
  // One layer holding both squares over their common rectangle, transparent between them.
  const auto reference = [&](int fill_opacity) {
    PsdSpec spec = WhiteDocument(32, 28);
    PsdLayer layer;
    layer.top = 6;
    layer.left = 6;
    layer.bottom = 18;
    layer.right = 24;
    const auto where = [](uint32_t x, uint32_t y) {
      const int cx = static_cast<int>(x) + 6, cy = static_cast<int>(y) + 6;
      if (cx < 14 && cy < 14) return 1;    // the blue square
      if (cx >= 16 && cy >= 10) return 2;  // the red one
      return 0;
    };
    layer.channels.push_back({-1, PsdLayerPlane(18, 12, 8, [&](uint32_t x, uint32_t y) {
                                return where(x, y) ? 255u : 0u;
                              })});
    for (int c = 0; c < 3; ++c) {
      layer.channels.push_back(
          {static_cast<int16_t>(c), PsdLayerPlane(18, 12, 8, [&](uint32_t x, uint32_t y) {
             const int part = where(x, y);
             return part == 0
                        ? 0u
                        : static_cast<uint32_t>(std::lround((part == 1 ? Blue : Red)[c] * 255));
           })});
    }
    layer.blocks.push_back(settings());
    layer.fill_opacity = fill_opacity;
    spec.layers.push_back(layer);
    return spec;
  };
  for (const int fill_opacity : {255, 0}) {
    SCOPED_TRACE(fill_opacity);
    const Bitmap want = Rebuild(reference(fill_opacity));
    ASSERT_TRUE(want);
    ExpectRebuiltAs(grouped(fill_opacity), want, 5);
  }
}

TEST_F(LayerEffectTest, AFillLayerTakesEffectsAsAPixelLayerOfItsShapeDoes) {
  // A blue fill shaped by a vector mask over columns 8..15 and rows 6..11, with a shadow and a
  // stroke, against a blue pixel layer over the same square with the same effects.
  const auto settings = [] {
    return EffectsBlock({{"DrSh", Shadow(3, 2, 60, true, 45)}, {"FrFX", Stroke("OutF", 2, Red)}});
  };
  PsdSpec filled = WhiteDocument(32, 24);
  PsdDescriptorWriter blue("RGBC");
  blue.Double("Rd  ", 0).Double("Grn ", 0).Double("Bl  ", 255);
  PsdDescriptorWriter colour("null");
  colour.Object("Clr ", blue);
  PsdLayer fill;
  fill.opacity = 255;
  fill.blocks.push_back({"SoCo", colour.Versioned()});
  fill.blocks.push_back(
      {"vmsk", PsdVectorMaskBlock({{true,
                                    {PsdCornerKnot(0.25, 0.25), PsdCornerKnot(0.5, 0.25),
                                     PsdCornerKnot(0.5, 0.5), PsdCornerKnot(0.25, 0.5)}}})});
  fill.blocks.push_back(settings());
  filled.layers.push_back(fill);
  PsdSpec pixels = WhiteDocument(32, 24);
  PsdLayer square = SolidLayer(pixels, {6, 8, 12, 16}, Blue);
  square.blocks.push_back(settings());
  pixels.layers.push_back(square);
  const Bitmap want = Rebuild(pixels);
  ASSERT_TRUE(want);
  ExpectRebuiltAs(filled, want, 4);
}

TEST_F(LayerEffectTest, OverlaysOnAHalfCoveredEdgeLeaveNoFringe) {
  // A black layer whose pixels are half transparent, overlaid in white over a white backdrop:
  // the overlay recolours what the layer covers, so the layer's black does not show through at
  // full strength (there is none at all), and at 50 % it is half of what covers half the pixel:
  // white * (1 - 0.5 * 0.5) + black * 0.25.
  for (const auto& [strength, grey] : {std::pair{100.0, 1.0}, {50.0, 0.75}}) {
    SCOPED_TRACE(strength);
    PsdSpec spec = WhiteDocument(6, 6);
    PsdLayer half = SolidLayer(spec, {1, 1, 5, 5}, Black, 0.5);
    half.blocks.push_back(EffectsBlock({{"SoFi", Overlay(White, strength)}}));
    spec.layers.push_back(half);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    ExpectPixel(image, 3, 3, Opaque({grey, grey, grey}), 1.5);
  }
}

TEST_F(LayerEffectTest, FillOpacityFadesTheLayerButNotItsOverlays) {
  PsdSpec spec = WhiteDocument(8, 8);
  PsdLayer square = SolidLayer(spec, {2, 2, 6, 6}, Red);
  square.fill_opacity = 0;
  spec.layers.push_back(square);
  const Bitmap without = Rebuild(spec);
  ASSERT_TRUE(without);
  ExpectPixel(without, 3, 3, Opaque(White));

  spec.layers.back().blocks.push_back(EffectsBlock({{"SoFi", Overlay(Green)}}));
  const Bitmap overlaid = Rebuild(spec);
  ASSERT_TRUE(overlaid);
  ExpectPixel(overlaid, 3, 3, Opaque(Green));
  ExpectPixel(overlaid, 1, 3, Opaque(White));  // only where the layer covers

  // The layer's opacity fades its effects with it; an overlay's own opacity mixes it over the
  // layer's fill.
  spec.layers.back().opacity = 128;
  const Bitmap faded = Rebuild(spec);
  ASSERT_TRUE(faded);
  ExpectPixel(faded, 3, 3, Over(Opaque(White), Green, 128 / 255.0));
  spec.layers.back().opacity = 255;
  spec.layers.back().fill_opacity = 255;
  spec.layers.back().blocks = {EffectsBlock({{"SoFi", Overlay(Green, 40)}})};
  const Bitmap mixed = Rebuild(spec);
  ASSERT_TRUE(mixed);
  ExpectPixel(mixed, 3, 3, Opaque(Mix(Red, Green, 0.4)));

  // At half fill, an overlay still covers the layer; blended as a group with it ("infx"), the
  // overlay takes the layer's fill opacity too.
  spec.layers.back().fill_opacity = 128;
  spec.layers.back().blocks = {EffectsBlock({{"SoFi", Overlay(Green)}})};
  const Bitmap apart = Rebuild(spec);
  ASSERT_TRUE(apart);
  ExpectPixel(apart, 3, 3, Opaque(Green));
  spec.layers.back().blocks.push_back({"infx", std::string("\1\0\0\0", 4)});
  const Bitmap grouped = Rebuild(spec);
  ASSERT_TRUE(grouped);
  ExpectPixel(grouped, 3, 3, Over(Opaque(White), Green, 128 / 255.0));
  spec.layers.back().fill_opacity = 255;

  // A colour overlay lies over a gradient overlay and hides it.
  spec.layers.back().blocks = {EffectsBlock(
      {{"GrFl", GradientSettings("GrFl", {{0, Black}, {4096, White}}, "Lnr ", 0, false)},
       {"SoFi", Overlay(Blue)}})};
  const Bitmap covered = Rebuild(spec);
  ASSERT_TRUE(covered);
  ExpectPixel(covered, 2, 3, Opaque(Blue));
  ExpectPixel(covered, 5, 3, Opaque(Blue));

  // With the master switch off, or the effect disabled, nothing of it is drawn.
  spec.layers.back().blocks = {EffectsBlock({{"SoFi", Overlay(Blue)}}, false)};
  const Bitmap off = Rebuild(spec);
  ASSERT_TRUE(off);
  ExpectPixel(off, 3, 3, Opaque(Red));
  PsdDescriptorWriter disabled("SoFi");
  disabled.Bool("enab", false).Object("Clr ", RgbColour(Blue));
  spec.layers.back().blocks = {EffectsBlock({{"SoFi", disabled}})};
  const Bitmap unused = Rebuild(spec);
  ASSERT_TRUE(unused);
  ExpectPixel(unused, 3, 3, Opaque(Red));
  EXPECT_EQ(plan_.left_out & LeftOutEffects, 0u);
}

TEST_F(LayerEffectTest, AGradientOverlayInterpolatesBetweenItsStopsAcrossTheLayer) {
  // A layer 10 pixels wide at columns 5..14: the gradient spans the layer, not the canvas, and a
  // pixel, sampled at its top-left corner (as the stored composites of gradient fills show), lies
  // (x - 5) / 10 of the way along it when it runs right.
  const std::vector<Stop> stops = {{0, Red}, {2048, Green}, {4096, Blue}};
  const auto along = [&](double t) {
    return t <= 0.5 ? Mix(Red, Green, t / 0.5) : Mix(Green, Blue, (t - 0.5) / 0.5);
  };
  struct Case {
    const char* shape;
    double angle;
    bool reverse;
    std::function<double(int x, int y)> place;
  };
  const std::vector<Case> cases = {
      {"Lnr ", 0, false, [](int x, int) { return (x - 5) / 10.0; }},
      {"Lnr ", 0, true, [](int x, int) { return 1 - (x - 5) / 10.0; }},
      {"Lnr ", 180, false, [](int x, int) { return 1 - (x - 5) / 10.0; }},
      // Upwards over the 10 rows 0..9.
      {"Lnr ", 90, false, [](int, int y) { return (10 - y) / 10.0; }},
      // From the middle (10, 5) outwards to half the span.
      {"Rflc", 0, false, [](int x, int) { return std::fabs(x - 10) / 5; }},
      {"Rdl ", 0, false, [](int x, int y) { return std::min(1.0, std::hypot(x - 10, y - 5) / 5); }},
      {"Dmnd", 0, false,
       [](int x, int y) { return std::min(1.0, (std::fabs(x - 10) + std::fabs(y - 5)) / 5); }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << test.shape << " " << test.angle << " " << test.reverse);
    PsdSpec spec = WhiteDocument(20, 10);
    PsdLayer layer = SolidLayer(spec, {0, 5, 10, 15}, White);
    layer.blocks.push_back(EffectsBlock(
        {{"GrFl", GradientSettings("GrFl", stops, test.shape, test.angle, test.reverse)}}));
    spec.layers.push_back(layer);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    for (const auto& [x, y] : {std::pair{5, 2}, {7, 5}, {9, 9}, {10, 4}, {12, 0}, {14, 6}}) {
      SCOPED_TRACE(testing::Message() << x << "," << y);
      ExpectPixel(image, x, y, Opaque(along(test.place(x, y))), 1.5);
    }
    ExpectPixel(image, 3, 3, Opaque(White));
  }
  // Opacity stops from 100% to 0% fade the gradient out over the layer below it.
  PsdSpec spec = WhiteDocument(20, 10);
  PsdLayer layer = SolidLayer(spec, {0, 5, 10, 15}, Black);
  layer.blocks.push_back(EffectsBlock(
      {{"GrFl", GradientSettings("GrFl", {{0, White}, {4096, White}}, "Lnr ", 0, false, 100, 0)}}));
  spec.layers.push_back(layer);
  const Bitmap faded = Rebuild(spec);
  ASSERT_TRUE(faded);
  for (const int x : {5, 9, 14}) {
    const double t = (x - 5) / 10.0;
    ExpectPixel(faded, x, 4, Opaque(Mix(Black, White, 1 - t)), 1.5);
  }
}

TEST_F(LayerEffectTest, AGradientFillLayerSpansTheCanvasAndIsNoLongerLeftOut) {
  // Stops at a quarter and three quarters: before the first and after the last the gradient
  // holds their colours.
  PsdSpec spec = WhiteDocument(16, 4);
  PsdLayer fill;
  fill.opacity = 255;
  fill.blocks.push_back(
      {"GdFl",
       GradientSettings("null", {{1024, Red}, {3072, Blue}}, "Lnr ", 0, false).Versioned()});
  spec.layers.push_back(fill);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  EXPECT_EQ(plan_.left_out & LeftOutFills, 0u);
  for (int x = 0; x < 16; ++x) {
    const double t = std::clamp((x / 16.0 - 0.25) / 0.5, 0.0, 1.0);
    ExpectPixel(image, x, 2, Opaque(Mix(Red, Blue, t)), 1.5);
  }
  // A noise gradient is not drawn, and said so.
  PsdDescriptorWriter noise("null");
  PsdDescriptorWriter kind("Grdn");
  kind.Enum("GrdF", "GrdF", "ClNs");
  noise.Object("Grad", kind);
  spec.layers.back().blocks = {{"GdFl", noise.Versioned()}};
  const Bitmap skipped = Rebuild(spec);
  ASSERT_TRUE(skipped);
  EXPECT_NE(plan_.left_out & LeftOutFills, 0u);
  ExpectPixel(skipped, 8, 2, Opaque(White));
}

TEST_F(LayerEffectTest, AGradientFillAlignedWithItsShapeSpansTheShape) {
  // A red-to-blue fill shaped by a vector mask over columns 8..15 of a 32-wide canvas: aligned
  // with the layer it runs across the shape, (x - 8) / 8 of the way at column x; not aligned, it
  // runs across the canvas, x / 32 of the way.
  for (const bool align : {true, false}) {
    SCOPED_TRACE(align);
    PsdSpec spec = WhiteDocument(32, 8);
    PsdLayer fill;
    fill.opacity = 255;
    fill.blocks.push_back({"GdFl", GradientSettings("null", {{0, Red}, {4096, Blue}}, "Lnr ", 0,
                                                    false, 100, 100, 0, align)
                                       .Versioned()});
    fill.blocks.push_back(
        {"vmsk", PsdVectorMaskBlock({{true,
                                      {PsdCornerKnot(0.25, 0), PsdCornerKnot(0.5, 0),
                                       PsdCornerKnot(0.5, 1), PsdCornerKnot(0.25, 1)}}})});
    spec.layers.push_back(fill);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    for (const int x : {8, 10, 13, 15}) {
      const double t = align ? (x - 8) / 8.0 : x / 32.0;
      ExpectPixel(image, x, 4, Opaque(Mix(Red, Blue, t)), 1.5);
    }
    ExpectPixel(image, 20, 4, Opaque(White));
  }
}

TEST_F(LayerEffectTest, AnObliqueGradientEndsWhereItsLineLeavesTheBoxOnWholePixels) {
  const std::vector<Stop> stops = {{0, Red}, {2048, Green}, {4096, Blue}};
  const auto along = [](double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t <= 0.5 ? Mix(Red, Green, t / 0.5) : Mix(Green, Blue, (t - 0.5) / 0.5);
  };
  struct Case {
    int size;
    const char* shape;
    double angle;
    std::function<double(int x, int y)> place;
  };
  const std::vector<Case> cases = {
      // Reflected at 30 degrees over 4x4: from the centre (2, 2) the line leaves the box at
      // (4, 2 - 2 tan 30) = (4, 0.85), which snaps to the corner (4, 0); the gradient then runs
      // along the reach (2, -2) and is the same all along the diagonal x = y.
      {4, "Rflc", 30, [](int x, int y) { return std::fabs(2.0 * (x - 2) - 2.0 * (y - 2)) / 8; }},
      // Linear at 150 degrees over 64x64: the line through (32, 32) leaves the box on its left
      // and right edges, at (64, 32 + 32 tan 30) = (64, 50.5) and (0, 13.5): snapped, (64, 50)
      // to (0, 13), a reach of (-64, -37).
      {64, "Lnr ", 150,
       [](int x, int y) { return ((x - 64.0) * -64 + (y - 50.0) * -37) / (64.0 * 64 + 37 * 37); }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(testing::Message() << test.shape << " " << test.angle);
    PsdSpec spec = WhiteDocument(test.size, test.size);
    PsdLayer fill;
    fill.opacity = 255;
    fill.blocks.push_back(
        {"GdFl", GradientSettings("null", stops, test.shape, test.angle, false).Versioned()});
    spec.layers.push_back(fill);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    const int last = test.size - 1;
    for (const auto& [x, y] : {std::pair{0, 0},
                               {1, 0},
                               {last, 0},
                               {0, last},
                               {last / 2, 1},
                               {last, last / 3},
                               {last / 3, last},
                               {last, last}}) {
      SCOPED_TRACE(testing::Message() << x << "," << y);
      ExpectPixel(image, x, y, Opaque(along(test.place(x, y))), 1.5);
    }
  }
}

TEST_F(LayerEffectTest, ASmoothGradientEasesThroughItsStopsAndALinearOneMixesLight) {
  // Greys at 0, 2048 and 4096 across 16 columns: column 4 lies halfway between the first two
  // stops and column 12 halfway between the last two. A smooth gradient follows the Catmull-Rom
  // curve through the stops there (an end stop standing in for its missing neighbour), whose
  // value halfway between b and c with neighbours a and d is (9b + 9c - a - d) / 16.
  const double a = 0.1, b = 0.4, c = 0.95;
  const std::vector<Stop> stops = {{0, {a, a, a}}, {2048, {b, b, b}}, {4096, {c, c, c}}};
  const auto grey = [](double v) { return Opaque(Colour{v, v, v}); };
  const double curve_first = (9 * a + 9 * b - a - c) / 16;
  const double curve_second = (9 * b + 9 * c - a - c) / 16;
  for (const double smoothness : {0.0, 2048.0, 4096.0}) {
    SCOPED_TRACE(smoothness);
    const double share = smoothness / 4096;
    PsdSpec spec = WhiteDocument(16, 2);
    PsdLayer fill;
    fill.opacity = 255;
    fill.blocks.push_back(
        {"GdFl",
         GradientSettings("null", stops, "Lnr ", 0, false, 100, 100, smoothness).Versioned()});
    spec.layers.push_back(fill);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    ExpectPixel(image, 0, 1, grey(a), 1.5);
    ExpectPixel(image, 8, 1, grey(b), 1.5);
    ExpectPixel(image, 4, 1, grey((a + b) / 2 + share * (curve_first - (a + b) / 2)), 1.5);
    ExpectPixel(image, 12, 1, grey((b + c) / 2 + share * (curve_second - (b + c) / 2)), 1.5);
  }
  // Where a channel turns at a stop, the curve would swell past it; it stays between the two
  // stops it joins instead. Halfway from 0.9 to 0.85 after 0.2 the curve gives
  // (9 * 0.9 + 9 * 0.85 - 0.2 - 0.85) / 16 = 0.919; the picture keeps 0.9.
  {
    PsdSpec spec = WhiteDocument(16, 2);
    PsdLayer fill;
    fill.opacity = 255;
    fill.blocks.push_back(
        {"GdFl",
         GradientSettings(
             "null", {{0, {0.2, 0.2, 0.2}}, {2048, {0.9, 0.9, 0.9}}, {4096, {0.85, 0.85, 0.85}}},
             "Lnr ", 0, false, 100, 100, 4096)
             .Versioned()});
    spec.layers.push_back(fill);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    ExpectPixel(image, 12, 1, grey(0.9), 1.5);
  }
  // Mixed as light, black and white meet at half the light, which sRGB stores as
  // 1.055 * 0.5^(1/2.4) - 0.055.
  PsdSpec spec = WhiteDocument(16, 2);
  PsdLayer fill;
  fill.opacity = 255;
  PsdDescriptorWriter settings =
      GradientSettings("null", {{0, Black}, {4096, White}}, "Lnr ", 0, false);
  settings.Enum("gs99", "gradientInterpolationMethodType", "Lnr ");
  fill.blocks.push_back({"GdFl", settings.Versioned()});
  spec.layers.push_back(fill);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 8, 1, grey(1.055 * std::pow(0.5, 1 / 2.4) - 0.055), 1.5);
  ExpectPixel(image, 0, 1, grey(0), 1.5);
}

TEST_F(LayerEffectTest, EffectsNotDrawnAreReportedAndTheirWorkFollowsTheLayer) {
  PsdSpec spec = WhiteDocument(64, 64);
  PsdLayer square = SolidLayer(spec, {30, 30, 34, 34}, Blue);
  PsdDescriptorWriter bevel("ebbl");
  bevel.Bool("enab", true);
  square.blocks.push_back(EffectsBlock({{"FrFX", Stroke("OutF", 2, Red)}, {"ebbl", bevel}}));
  spec.layers.push_back(square);
  const Bitmap image = Rebuild(spec);
  ASSERT_TRUE(image);
  EXPECT_NE(plan_.left_out & LeftOutEffects, 0u);
  ExpectPixel(image, 35, 31, Opaque(Red));  // what can be drawn still is
  spec.layers.back().blocks = {EffectsBlock({{"FrFX", Stroke("OutF", 2, Red)}})};
  ASSERT_TRUE(Rebuild(spec));
  EXPECT_EQ(plan_.left_out & LeftOutEffects, 0u);

  // On a canvas 100 times the size, the work beyond the canvas's own conversion is the same:
  // the effects cost the layer's area and their reach, not the canvas's.
  const uint64_t small = plan_.work - 64u * 64u * 2 * 4;
  PsdSpec large = WhiteDocument(640, 640);
  large.layers.push_back(spec.layers.back());
  ASSERT_TRUE(Rebuild(large));
  const uint64_t background = (640u * 640u - 64u * 64u) * (2 * 4 + 2);
  EXPECT_EQ(plan_.work - 640u * 640u * 2 * 4 - background, small);
}

TEST_F(LayerEffectTest, EffectsAcrossBandsMatchTheWholePicture) {
  // Shadows, glows and strokes read the layer beyond the band they draw in.
  PsdSpec spec = WhiteDocument(30, 30);
  spec.resources.push_back(GlobalAngle(120));
  PsdLayer shape = SolidLayer(spec, {6, 8, 20, 18}, Blue, 0.75);
  PsdDescriptorWriter glow("IrGl");
  glow.Bool("enab", true)
      .Enum("Md  ", "BlnM", "Scrn")
      .UnitFloat("Opct", "#Prc", 75)
      .Object("Clr ", RgbColour({1, 1, 0.2}))
      .UnitFloat("Ckmt", "#Prc", 20)
      .UnitFloat("blur", "#Pxl", 4);
  PsdDescriptorWriter inner = Shadow(3, 3, 60, true);
  inner.Enum("Md  ", "BlnM", "Mltp");
  shape.blocks.push_back(EffectsBlock({{"DrSh", Shadow(4, 5, 80, true)},
                                       {"IrGl", glow},
                                       {"IrSh", inner},
                                       {"FrFX", Stroke("CtrF", 3, Red)}}));
  spec.layers.push_back(shape);
  const Bitmap whole = Rebuild(spec);
  ASSERT_TRUE(whole);
  for (const int64_t rows : {1, 4, 7}) {
    const Bitmap banded = Rebuild(spec, rows);
    ASSERT_TRUE(banded);
    // Sums run in another order over another extent: at most a level apart.
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 30; ++x) {
        const Rgba16 a = ReadPixel(whole, x, y), b = ReadPixel(banded, x, y);
        EXPECT_LE(std::abs(a.red - b.red) + std::abs(a.green - b.green) +
                      std::abs(a.blue - b.blue) + std::abs(a.alpha - b.alpha),
                  257)
            << x << "," << y << " in bands of " << rows;
      }
    }
  }
}

TEST_F(LayerEffectTest, ASatinShowsWhereTheShapeMovedBothWaysDiffers) {
  // A blue square over columns 10..19; moved 3 pixels left and right, the two copies agree in the
  // middle columns 13..16 and differ in the three at each side.
  for (const bool invert : {false, true}) {
    SCOPED_TRACE(invert);
    PsdSpec spec = WhiteDocument(30, 30);
    PsdLayer square = SolidLayer(spec, {10, 10, 20, 20}, Blue);
    PsdDescriptorWriter satin("ChFX");
    satin.Bool("enab", true)
        .Enum("Md  ", "BlnM", "Nrml")
        .Object("Clr ", RgbColour(Black))
        .Bool("Invr", invert)
        .UnitFloat("Opct", "#Prc", 100)
        .UnitFloat("lagl", "#Ang", 0)
        .UnitFloat("Dstn", "#Pxl", 3)
        .UnitFloat("blur", "#Pxl", 0);
    square.blocks.push_back(EffectsBlock({{"ChFX", satin}}));
    spec.layers.push_back(square);
    const Bitmap image = Rebuild(spec);
    ASSERT_TRUE(image);
    for (int x = 10; x < 20; ++x) {
      const bool differ = x < 13 || x > 16;
      ExpectPixel(image, x, 15, Opaque(differ != invert ? Black : Blue));
    }
    ExpectPixel(image, 9, 15, Opaque(White));
    EXPECT_EQ(plan_.left_out & LeftOutEffects, 0u);
  }
}

namespace {

void BigEndian(std::string& out, uint64_t value, size_t size) {
  for (size_t i = size; i-- > 0;) out.push_back(static_cast<char>(value >> (8 * i)));
}

// A "Patt" block holding one pattern `id` of `mode` (1 grey, 3 RGB): `planes` of 8-bit samples,
// one per colour, row by row, raw.
std::string PatternBlock(const std::string& id, uint32_t mode, uint16_t width, uint16_t height,
                         const std::vector<std::vector<uint8_t>>& planes) {
  std::string arrays;
  for (const std::vector<uint8_t>& plane : planes) {
    std::string array;
    BigEndian(array, 8, 4);  // depth
    for (const uint32_t side : {0u, 0u, uint32_t{height}, uint32_t{width}})
      BigEndian(array, side, 4);
    BigEndian(array, 8, 2);
    array.push_back('\0');  // raw
    array.append(plane.begin(), plane.end());
    BigEndian(arrays, 1, 4);  // written
    BigEndian(arrays, array.size(), 4);
    arrays += array;
  }
  for (int unused = 0; unused < 2; ++unused) BigEndian(arrays, 0, 4);  // no user or sheet mask
  std::string list;
  BigEndian(list, 3, 4);
  std::string rest;
  for (const uint32_t side : {0u, 0u, uint32_t{height}, uint32_t{width}}) BigEndian(rest, side, 4);
  BigEndian(rest, planes.size(), 4);
  rest += arrays;
  BigEndian(list, rest.size(), 4);
  list += rest;
  std::string pattern;
  BigEndian(pattern, 1, 4);
  BigEndian(pattern, mode, 4);
  BigEndian(pattern, height, 2);
  BigEndian(pattern, width, 2);
  BigEndian(pattern, 0, 4);  // an empty name
  pattern.push_back(static_cast<char>(id.size()));
  pattern += id;
  pattern += list;
  std::string block;
  BigEndian(block, pattern.size(), 4);
  return block + pattern;
}

PsdDescriptorWriter PatternSettings(const char* class_id, const std::string& id, double phase_x,
                                    double phase_y) {
  PsdDescriptorWriter pattern("Ptrn");
  pattern.Text("Nm  ", u"Tiles").Text("Idnt", std::u16string(id.begin(), id.end()));
  PsdDescriptorWriter phase("Pnt ");
  phase.Double("Hrzn", phase_x).Double("Vrtc", phase_y);
  PsdDescriptorWriter out(class_id);
  if (std::string(class_id) == "patternFill") {
    out.Bool("enab", true).Enum("Md  ", "BlnM", "Nrml").UnitFloat("Opct", "#Prc", 100);
  }
  out.Object("Ptrn", pattern)
      .UnitFloat("Scl ", "#Prc", 100)
      .Bool("Algn", true)
      .Object("phase", phase);
  return out;
}

}  // namespace

TEST_F(LayerEffectTest, PatternsRepeatFromTheCanvasCornerMovedByTheirPhase) {
  // Two by two: red, green over blue, white.
  const std::vector<std::vector<uint8_t>> rgb = {
      {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
  const Colour tile[2][2] = {{Red, Green}, {Blue, White}};  // [row][column]
  const auto expected = [&](int x, int y, int phase_x, int phase_y) {
    const int u = ((x - phase_x) % 2 + 2) % 2, v = ((y - phase_y) % 2 + 2) % 2;
    return tile[v][u];
  };
  for (const auto& [phase_x, phase_y] : {std::pair{0, 0}, {1, 0}, {3, -1}}) {
    SCOPED_TRACE(testing::Message() << "phase " << phase_x << "," << phase_y);
    // A pattern fill layer over the whole canvas.
    PsdSpec spec = WhiteDocument(6, 4);
    spec.global_blocks.push_back({"Patt", PatternBlock("tiles-1", 3, 2, 2, rgb)});
    PsdLayer fill;
    fill.blocks.push_back(
        {"PtFl", PatternSettings("null", "tiles-1", phase_x, phase_y).Versioned()});
    spec.layers.push_back(fill);
    const Bitmap filled = Rebuild(spec);
    ASSERT_TRUE(filled);
    EXPECT_EQ(plan_.left_out, 0u);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x)
        ExpectPixel(filled, x, y, Opaque(expected(x, y, phase_x, phase_y)));
    }
    // An overlay on a layer over columns 1..4 of rows 1..2 lays the same tiles out there.
    spec.layers.pop_back();
    PsdLayer layer = SolidLayer(spec, {1, 1, 3, 5}, Black);
    layer.blocks.push_back(EffectsBlock(
        {{"patternFill", PatternSettings("patternFill", "tiles-1", phase_x, phase_y)}}));
    spec.layers.push_back(layer);
    const Bitmap overlaid = Rebuild(spec);
    ASSERT_TRUE(overlaid);
    EXPECT_EQ(plan_.left_out, 0u);
    for (int x = 1; x < 5; ++x)
      ExpectPixel(overlaid, x, 2, Opaque(expected(x, 2, phase_x, phase_y)));
    ExpectPixel(overlaid, 0, 2, Opaque(White));
    // A one-pixel stroke outside the layer, filled with the pattern, shows the tiles around it
    // and leaves the layer black.
    PsdDescriptorWriter stroke = PatternSettings("FrFX", "tiles-1", phase_x, phase_y);
    stroke.Bool("enab", true)
        .Enum("Md  ", "BlnM", "Nrml")
        .UnitFloat("Opct", "#Prc", 100)
        .Enum("PntT", "FrFl", "Ptrn")
        .Enum("Styl", "FStl", "OutF")
        .UnitFloat("Sz  ", "#Pxl", 1);
    spec.layers.back().blocks = {EffectsBlock({{"FrFX", stroke}})};
    const Bitmap stroked = Rebuild(spec);
    ASSERT_TRUE(stroked);
    EXPECT_EQ(plan_.left_out, 0u);
    for (const auto& [x, y] : {std::pair{0, 1}, {0, 2}, {5, 1}, {2, 0}, {3, 3}}) {
      ExpectPixel(stroked, x, y, Opaque(expected(x, y, phase_x, phase_y)));
    }
    ExpectPixel(stroked, 2, 2, Opaque(Black));
  }

  // A grey pattern shows as grey in an RGB document.
  PsdSpec grey = WhiteDocument(4, 2);
  grey.global_blocks.push_back({"Patt", PatternBlock("grey", 1, 2, 1, {{51, 204}})});
  PsdLayer fill;
  fill.blocks.push_back({"PtFl", PatternSettings("null", "grey", 0, 0).Versioned()});
  grey.layers.push_back(fill);
  const Bitmap shown = Rebuild(grey);
  ASSERT_TRUE(shown);
  ExpectPixel(shown, 2, 0, Opaque({0.2, 0.2, 0.2}));
  ExpectPixel(shown, 3, 1, Opaque({0.8, 0.8, 0.8}));

  // A pattern the document does not hold is left out and said so.
  grey.layers.back().blocks = {{"PtFl", PatternSettings("null", "elsewhere", 0, 0).Versioned()}};
  const Bitmap missing = Rebuild(grey);
  ASSERT_TRUE(missing);
  EXPECT_NE(plan_.left_out & LeftOutFills, 0u);
  ExpectPixel(missing, 2, 0, Opaque(White));
  PsdLayer layer = SolidLayer(grey, {0, 0, 2, 4}, Black);
  layer.blocks.push_back(
      EffectsBlock({{"patternFill", PatternSettings("patternFill", "elsewhere", 0, 0)}}));
  grey.layers.back() = layer;
  ASSERT_TRUE(Rebuild(grey));
  EXPECT_NE(plan_.left_out & LeftOutEffects, 0u);
}

TEST_F(LayerEffectTest, ABevelLightsTheSlopeFacingTheLightAndShadesTheOther) {
  // A grey square over columns and rows 10..29, light from the left (180 degrees). An inner bevel
  // slopes up from each edge for its size inside the square, an outer one down from it outside,
  // an emboss across it; on grey ground, a pillow emboss is a groove along the edge: inside the
  // left edge its slope faces the light, outside it faces away, and the other way round at the
  // right edge. The flat top, and whatever lies beyond the slope, keep their colour.
  const Colour grey{0.4, 0.4, 0.4};
  const auto level = [](const Bitmap& image, int x) {
    return ReadPixel(image, x, 20).red / 65535.0;
  };
  const std::vector<std::pair<const char*, Colour>> cases = {
      {"InrB", White}, {"OtrB", White}, {"Embs", White}, {"Embs", grey}, {"PlEb", grey}};
  for (const auto& [style, ground] : cases) {
    SCOPED_TRACE(testing::Message() << style << " on " << ground[0]);
    const Bitmap image = Rebuild(BevelledSquare(style, grey, ground));
    ASSERT_TRUE(image);
    EXPECT_EQ(plan_.left_out, 0u);
    ExpectPixel(image, 20, 20, Opaque(grey));   // flat top
    ExpectPixel(image, 2, 20, Opaque(ground));  // far outside
    const std::string which = style;
    if (ground == grey) {
      // Either way the slopes just inside the edges face towards and away from the light; just
      // outside, an emboss's slopes do too and a pillow's the other way.
      const bool pillow = which == "PlEb";
      EXPECT_GT(level(image, 11), 0.5);
      EXPECT_LT(level(image, 28), 0.3);
      EXPECT_EQ(level(image, 8) > 0.5, !pillow);
      EXPECT_EQ(level(image, 31) > 0.5, pillow);
      EXPECT_EQ(level(image, 8) < 0.3, pillow);
      EXPECT_EQ(level(image, 31) < 0.3, !pillow);
      continue;
    }
    // Where the slope lies: just inside the left and right edges, or just outside them.
    const int left = which == "OtrB" ? 8 : 11, right = which == "OtrB" ? 31 : 28;
    const double left_level = level(image, left), right_level = level(image, right);
    const double flat = which == "OtrB" ? 1.0 : 0.4;
    if (which == "OtrB") {
      // Outside, the ground is white: the slope facing the light stays white, the other darkens.
      EXPECT_NEAR(left_level, 1.0, 1 / 255.0);
      EXPECT_LT(right_level, 0.9);
    } else {
      EXPECT_GT(left_level, flat + 0.1);
      EXPECT_LT(right_level, flat - 0.1);
    }
    if (which == "InrB") {
      // Nothing outside the square changes.
      ExpectPixel(image, 9, 20, Opaque(White));
      ExpectPixel(image, 30, 20, Opaque(White));
    }
  }
}

namespace {

// Photoshop 5's effects block ("lrFX"), field by field in its published layout: each effect's
// size counts its version and fields; sizes, angles and distances are 16.16 fixed point,
// opacities 0..255, colours a space (0, RGB) and four 16-bit components.
class OldEffectsWriter {
 public:
  static std::string Fixed(double value) {
    std::string out;
    BigEndian(out, static_cast<uint32_t>(std::lround(value * 65536)), 4);
    return out;
  }
  static std::string Colour16(const Colour& colour) {
    std::string out(2, '\0');
    for (const double c : colour) BigEndian(out, static_cast<uint64_t>(std::lround(c * 65535)), 2);
    return out + std::string(2, '\0');
  }
  static std::string Mode(const char* key) { return std::string("8BIM") + key; }
  static std::string Byte(int value) { return std::string(1, static_cast<char>(value)); }

  OldEffectsWriter& Effect(const char* key, uint32_t version, const std::string& fields) {
    body_ += std::string("8BIM") + key;
    BigEndian(body_, 4 + fields.size(), 4);
    BigEndian(body_, version, 4);
    body_ += fields;
    ++count_;
    return *this;
  }
  PsdLayer::Block Block() const {
    std::string out;
    BigEndian(out, 0, 2);
    BigEndian(out, count_, 2);
    return {"lrFX", out + body_};
  }

 private:
  std::string body_;
  int count_ = 0;
};

}  // namespace

TEST_F(LayerEffectTest, EffectsOfTheOldBlockAloneAreDrawnAsTheNewerBlockDrawsThem) {
  using W = OldEffectsWriter;
  const Colour yellow{1, 1, 0};
  // A bevel of `style` (2 inner, 5 stroke emboss) lit from 120 degrees, 4 pixels wide, white
  // highlight and black shadow at 80 percent, up.
  const auto bevel_fields = [](int style) {
    return W::Fixed(120) + W::Fixed(3) + W::Fixed(4) + W::Mode("scrn") + W::Mode("mul ") +
           W::Colour16(White) + W::Colour16(Black) + W::Byte(style) + W::Byte(204) + W::Byte(204) +
           W::Byte(1) + W::Byte(0) + W::Byte(0);
  };
  OldEffectsWriter old;
  old.Effect("cmnS", 0, W::Byte(1) + std::string(2, '\0'))
      .Effect("dsdw", 2,
              W::Fixed(3) + W::Fixed(0) + W::Fixed(45) + W::Fixed(4) + W::Colour16(Black) +
                  W::Mode("norm") + W::Byte(1) + W::Byte(0) + W::Byte(153) + W::Colour16(Black))
      .Effect("oglw", 2,
              W::Fixed(5) + W::Fixed(0) + W::Colour16(yellow) + W::Mode("scrn") + W::Byte(1) +
                  W::Byte(102) + W::Colour16(yellow))
      .Effect("iglw", 2,
              W::Fixed(3) + W::Fixed(0) + W::Colour16(White) + W::Mode("norm") + W::Byte(1) +
                  W::Byte(204) + W::Byte(0) + W::Colour16(White))
      .Effect("bevl", 2, bevel_fields(2) + W::Colour16(White) + W::Colour16(Black))
      .Effect("sofi", 2,
              W::Mode("norm") + W::Colour16(Red) + W::Byte(51) + W::Byte(1) + W::Colour16(Red));

  // The same effects as the newer block holds them: 153, 102, 204 and 51 of 255 are 60, 40, 80
  // and 20 percent.
  const auto glow = [](const char* kind, const char* mode, double opacity, const Colour& colour,
                       double size) {
    PsdDescriptorWriter out(kind);
    out.Bool("enab", true)
        .Enum("Md  ", "BlnM", mode)
        .UnitFloat("Opct", "#Prc", opacity)
        .Object("Clr ", RgbColour(colour))
        .UnitFloat("blur", "#Pxl", size);
    return out;
  };
  const PsdDescriptorWriter outer = glow("OrGl", "Scrn", 40, yellow, 5);
  const PsdDescriptorWriter inner = glow("IrGl", "Nrml", 80, White, 3);
  const PsdDescriptorWriter bevel = Bevel("InrB", "Scrn", "Mltp", 80, 120);
  const PsdLayer::Block newer = EffectsBlock({{"DrSh", Shadow(4, 3, 60, false, 45)},
                                              {"OrGl", outer},
                                              {"IrGl", inner},
                                              {"ebbl", bevel},
                                              {"SoFi", Overlay(Red, 20)}});

  PsdSpec spec = WhiteDocument(32, 32);
  spec.resources.push_back(GlobalAngle(90));
  spec.layers.push_back(SolidLayer(spec, {10, 10, 20, 22}, Blue));
  const auto with = [&spec](std::vector<PsdLayer::Block> blocks) {
    PsdSpec out = spec;
    out.layers.back().blocks = std::move(blocks);
    return out;
  };
  const Bitmap want = Rebuild(with({newer}));
  ASSERT_TRUE(want);
  const Bitmap plain = Rebuild(spec);
  ASSERT_TRUE(plain);
  ASSERT_GT(ComparePictures(want, plain).max_colour, 30.0);  // the effects show
  ExpectRebuiltAs(with({old.Block()}), want, 5);

  // Beside the newer block, in either order, the old one is not read.
  OldEffectsWriter other;
  other.Effect("cmnS", 0, W::Byte(1) + std::string(2, '\0'))
      .Effect(
          "sofi", 2,
          W::Mode("norm") + W::Colour16(Green) + W::Byte(255) + W::Byte(1) + W::Colour16(Green));
  ExpectRebuiltAs(with({other.Block(), newer}), want, 5);
  ExpectRebuiltAs(with({newer, other.Block()}), want, 5);

  // Cut short, or asking for a stroke emboss: converted, and said to be left out.
  PsdLayer::Block cut = old.Block();
  cut.data.resize(cut.data.size() - 5);
  OldEffectsWriter stroke_emboss;
  stroke_emboss.Effect("bevl", 0, bevel_fields(5));
  for (const PsdLayer::Block& block : {cut, stroke_emboss.Block()}) {
    ASSERT_TRUE(Rebuild(with({block})));
    EXPECT_NE(plan_.left_out & LeftOutEffects, 0u);
  }
}
