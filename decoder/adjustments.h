#pragma once

// Adjustment layers (a change of the colours below them) and fill layers (a colour made from
// their own settings, not stored pixels): what their blocks say, and the colour each makes.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

/// What an adjustment or fill layer draws; None for a plain layer.
enum class AdjustmentKind : uint8_t {
  None,
  Invert,
  Posterize,
  Threshold,
  BrightnessContrast,
  Levels,
  Curves,
  HueSaturation,
  Exposure,
  Vibrance,
  ColourBalance,
  BlackAndWhite,
  ChannelMixer,
  PhotoFilter,
  GradientMap,
  SelectiveColour,
  SolidColour,
  /// An adjustment or fill block we do not draw: the layer is left out and said so.
  Unsupported,
};

/// The settings of the adjustments that carry more than a number or two (levels, curves, hue and
/// saturation...), read once from the layer's block and shared by the copies of its record.
struct AdjustmentSettings;

struct LayerAdjustment {
  AdjustmentKind kind = AdjustmentKind::None;
  uint32_t key = 0;      // the block it came from, e.g. 'post'
  int levels = 0;        // posterize: 2..255
  float threshold = 0;   // threshold: the level (1..255) over 255
  float brightness = 0;  // brightness/contrast: -150..150 (legacy -100..100)
  float contrast = 0;    // -50..100 (legacy -100..100)
  bool legacy = false;
  float mean = 127.0f / 255;  // the current mode's contrast turns about this level (0..1)
  /// A solid colour fill in the document's own channels, 0..1 as stored (CMYK as 1 - ink).
  std::array<float, 4> colour{};
  std::shared_ptr<const AdjustmentSettings> settings;

  bool IsAdjustment() const {
    return kind != AdjustmentKind::None && kind != AdjustmentKind::SolidColour &&
           kind != AdjustmentKind::Unsupported;
  }
  bool IsFill() const { return kind == AdjustmentKind::SolidColour; }
};

/// True when `key` names an adjustment or fill block; then `block` (its data) is read into
/// `adjustment` for a document of colour mode `mode`, as Unsupported when it cannot be drawn. A
/// later block of a layer refines an earlier one ("CgEd" after "brit").
bool ReadAdjustmentBlock(uint32_t key, std::span<const uint8_t> block, uint16_t mode,
                         LayerAdjustment& adjustment);

/// Changes the `colours` straight colour samples of one pixel (0..1; CMYK as stored) by the
/// adjustment `adjustment` of a document of colour mode `mode`.
/// With `linear`, the samples are light already (a 32-bit document's, which may pass 1): the
/// adjustments on light take them as they are and leave them unbounded above.
void ApplyAdjustment(const LayerAdjustment& adjustment, uint16_t mode, float* pixel, int colours,
                     bool linear = false);

struct Descriptor;

/// The natural cubic spline through `points` (input, output; inputs rising, 0..255) at every
/// input level, flat beyond the first and last points, clamped to 0..1: curves adjustments and
/// effect contours.
std::vector<float> CurveTable(const std::vector<std::array<double, 2>>& points);

/// `value` (0..1) through a table of CurveTable's, read between its levels; unchanged through an
/// empty table.
float Curved(const std::vector<float>& table, float value);

/// sRGB's transfer both ways (0..1), for work done on light rather than on stored levels.
double SrgbToLight(double level);
double SrgbFromLight(double light);

/// The RGB colour (0..1) of a published colour structure: its space (0 RGB, 1 HSB, 2 CMYK, 7 Lab,
/// 8 grey) and four 16-bit components; std::nullopt for other spaces.
std::optional<std::array<float, 3>> StructureColour(int space, const std::array<uint16_t, 4>& c);

/// A colour descriptor ("RGBC", "Grsc", "CMYC", "HSBC") in the channels of a document of colour
/// mode `mode`, as stored (CMYK as 1 - ink); std::nullopt for a kind we do not read.
std::optional<std::array<float, 4>> ReadDescriptorColour(const Descriptor& colour, uint16_t mode);
