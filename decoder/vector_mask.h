#pragma once

// Vector masks: a layer's path records read from the file and drawn, antialiased, through Cairo
// into the coverage that shapes the layer. The records are untrusted: the number of knots and the
// reach of every point are bounded, and a path beyond them is not drawn.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoder/psd_layers.h"

/// Bounds of a path we agree to draw: knots over all subpaths (and subpaths), and how far outside
/// the canvas a point may lie, in canvas sides.
constexpr size_t MaxVectorKnots = 65536;
constexpr double MaxPathReach = 16.0;

/// One point of a path in canvas pixels.
struct VectorPoint {
  double x = 0;
  double y = 0;
};

/// A knot: the control point before the anchor, the anchor, the control point after it.
struct VectorKnot {
  VectorPoint before;
  VectorPoint anchor;
  VectorPoint after;
};

/// How a subpath's shape combines with the shapes before it. Records without one (zeros) read
/// as Exclude, which for shapes that do not overlap is the even-odd fill of them all.
enum class PathOperation : uint8_t { Exclude, Add, Subtract, Intersect };

struct VectorSubpath {
  bool closed = true;
  std::vector<VectorKnot> knots;
  PathOperation operation = PathOperation::Exclude;
};

/// A vector mask's path in canvas pixels.
struct VectorPath {
  /// The mask starts with every pixel shown, and the path takes its area away.
  bool initial_fill = false;
  std::vector<VectorSubpath> subpaths;
};

/// Reads the path records of a `width` x `height` document; std::nullopt when a record is cut
/// short, a knot comes before any subpath, or the knots or points break the bounds above.
std::optional<VectorPath> ReadVectorPath(std::span<const uint8_t> records, uint32_t width,
                                         uint32_t height);

/// Multiplies the coverage of `mask` (1 inside the path, 0 outside, antialiased edges; inverted
/// when the mask says so; 1 everywhere when it is disabled) over `region` of `document` into
/// `alpha`, one value every `stride` floats. With a shape's `stroke`, what the stroke covers is
/// shown too: the stored pixels hold it beside the fill. False, leaving `alpha` alone, when Cairo
/// cannot be opened, the path cannot be read or drawn: the layer is then drawn as without a
/// vector mask.
bool ApplyVectorMask(std::span<const uint8_t> file, const LayeredDocument& document,
                     const LayerVectorMask& mask, const LayerRect& region, float* alpha,
                     size_t stride, const ShapeStroke* stroke = nullptr);

/// The bounds, on whole pixels, of the path of `mask` in `document` (whether or not the mask is
/// enabled); empty when it has none or it cannot be read.
LayerRect VectorMaskBounds(std::span<const uint8_t> file, const LayeredDocument& document,
                           const LayerVectorMask& mask);

/// The stroke of a shape layer's "vstk" settings when it is on, for a document of colour mode
/// `mode`: its width (pixels, or points at the stroke's resolution), alignment, caps, joins,
/// dashes and paint; std::nullopt when it is off or cannot be read.
std::optional<ShapeStroke> ReadShapeStroke(const Descriptor& settings, uint16_t mode);

/// The coverage (0..1, one value a pixel) of `stroke` along the path of `mask` over `region` of
/// `document` into `coverage`, whether or not the mask is enabled; false when the path cannot be
/// read or drawn.
bool ShapeStrokeCoverage(std::span<const uint8_t> file, const LayeredDocument& document,
                         const LayerVectorMask& mask, const ShapeStroke& stroke,
                         const LayerRect& region, std::vector<float>& coverage);
