#pragma once

// Gradients as gradient fill layers, gradient overlays and gradient strokes describe them: colour
// and opacity stops with midpoints, and the geometry (shape, angle, scale, offset, reverse) that
// maps a pixel to a place along the stops. One implementation serves all three.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "decoder/descriptor.h"
#include "decoder/psd_layers.h"

enum class GradientShape : uint8_t { Linear, Radial, Angle, Reflected, Diamond };

struct GradientColourStop {
  double location = 0;            // 0..1
  double midpoint = 0.5;          // where between this stop and the next the mix is half and half
  std::array<float, 4> colour{};  // the document's own channels, as stored
};

struct GradientOpacityStop {
  double location = 0;
  double midpoint = 0.5;
  float opacity = 1;
};

struct Gradient {
  std::vector<GradientColourStop> colours;     // by location, at least one
  std::vector<GradientOpacityStop> opacities;  // by location, at least one
  // 0 mixes neighbouring colour stops in a straight line; 1 (the usual setting) along a curve
  // through the stops around them as well, so a colour eases into and out of each stop.
  double smoothness = 1;
  // Newer documents say how colours mix; their "linear" mixes them as light (sRGB's transfer
  // undone) rather than as stored levels.
  bool mix_in_light = false;
  GradientShape shape = GradientShape::Linear;
  double angle = 90;  // degrees, counter-clockwise from the right
  double scale = 1;
  double offset_x = 0;  // of the box's width and height
  double offset_y = 0;
  bool reverse = false;
  bool align = true;  // spans the layer's box rather than the canvas
};

/// Reads the gradient of `settings` (a fill's, an overlay's or a stroke's descriptor: "Grad" and
/// the geometry beside it) for a document of colour mode `mode`; std::nullopt for a noise
/// gradient or stops we cannot read.
std::optional<Gradient> ReadGradient(const Descriptor& settings, uint16_t mode);

/// The gradient of a gradient fill layer's block ("GdFl": a versioned descriptor); nullptr when
/// it is not one we draw.
std::shared_ptr<const Gradient> ReadGradientFill(std::span<const uint8_t> block, uint16_t mode);

/// Where a gradient spanning a box lies, on whole pixels: a linear one runs from `from` to `to`,
/// the others from `centre` out to `to`. Its length is the chord its line cuts through the box
/// (times the scale), so at 0 and 90 degrees it spans the box exactly and at other angles its
/// ends lie on the box's edges, not beyond its corners.
struct GradientLine {
  double from_x = 0, from_y = 0;
  double centre_x = 0, centre_y = 0;
  double to_x = 0, to_y = 0;
};
GradientLine GradientEnds(const Gradient& gradient, const LayerRect& box);

/// Where along the stops (0..1) the point `x`, `y` lies. A pixel is sampled at its top-left
/// corner: pixel (x, y) is the point (x, y).
double GradientPlace(const Gradient& gradient, const GradientLine& line, double x, double y);

/// The colour (`colours` channels) and opacity at place `t` (0..1), midpoints honoured.
void GradientColourAt(const Gradient& gradient, double t, int colours, float* colour,
                      float& opacity);

/// Writes the gradient spanning `box` over `region`: `colours` channels and the opacity per
/// pixel, `stride` floats apart, row by row.
void FillGradient(const Gradient& gradient, const LayerRect& box, const LayerRect& region,
                  int colours, float* out, size_t stride);
