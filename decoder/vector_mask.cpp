#include "decoder/vector_mask.h"

#include <algorithm>
#include <cmath>

#include "decoder/adjustments.h"
#include "decoder/layer_tree.h"
#include "engine/draw/drawing.h"
#include "engine/image/byte_cursor.h"

namespace {

constexpr uint64_t PathRecordBytes = 26;
// Cairo's image surfaces are limited in size, and a tile bounds the memory one drawing needs.
constexpr int64_t TileSide = 2048;

enum PathRecord : uint16_t {
  ClosedLength = 0,
  ClosedKnotLinked = 1,
  ClosedKnotUnlinked = 2,
  OpenLength = 3,
  OpenKnotLinked = 4,
  OpenKnotUnlinked = 5,
  FillRule = 6,
  Clipboard = 7,
  InitialFill = 8,
};

// A point as stored: vertical, then horizontal, each a signed 8.24 fraction of the canvas side.
bool ReadPoint(ByteCursor& cursor, uint32_t width, uint32_t height, VectorPoint& point) {
  uint64_t vertical = 0, horizontal = 0;
  if (!cursor.Read(4, vertical) || !cursor.Read(4, horizontal)) return false;
  const double y = static_cast<int32_t>(static_cast<uint32_t>(vertical)) / 16777216.0;
  const double x = static_cast<int32_t>(static_cast<uint32_t>(horizontal)) / 16777216.0;
  if (std::abs(x) > MaxPathReach || std::abs(y) > MaxPathReach) return false;
  point = {x * width, y * height};
  return true;
}

// The smallest rectangle of whole pixels holding every point: Bezier curves stay inside the hull
// of their control points. For drawing, a pixel more on the right and below, which antialiasing
// may touch.
LayerRect Bounds(const VectorPath& path, bool for_drawing = true) {
  double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
  for (const VectorSubpath& subpath : path.subpaths) {
    for (const VectorKnot& knot : subpath.knots) {
      for (const VectorPoint& point : {knot.before, knot.anchor, knot.after}) {
        left = std::min(left, point.x);
        right = std::max(right, point.x);
        top = std::min(top, point.y);
        bottom = std::max(bottom, point.y);
      }
    }
  }
  if (left > right) return {};
  const int64_t more = for_drawing ? 1 : 0;
  return {static_cast<int64_t>(std::floor(top)), static_cast<int64_t>(std::floor(left)),
          static_cast<int64_t>(std::ceil(bottom)) + more,
          static_cast<int64_t>(std::ceil(right)) + more};
}

// Adds the subpaths [first, last) of `path` to `cairo`'s path, moved by -`dx`, -`dy`. Filled, an
// open subpath counts as closed by a straight line; stroked, it stays open.
void AddSubpaths(cairo_t* cairo, const VectorPath& path, size_t first, size_t last, double dx,
                 double dy, bool close_open) {
  const DrawingFunctions& draw = Draw();
  for (size_t index = first; index < last; ++index) {
    const VectorSubpath& subpath = path.subpaths[index];
    const std::vector<VectorKnot>& knots = subpath.knots;
    if (knots.empty()) continue;
    draw.cairo_move_to(cairo, knots[0].anchor.x - dx, knots[0].anchor.y - dy);
    const size_t segments = subpath.closed ? knots.size() : knots.size() - 1;
    for (size_t i = 0; i < segments; ++i) {
      const VectorKnot& from = knots[i];
      const VectorKnot& to = knots[(i + 1) % knots.size()];
      draw.cairo_curve_to(cairo, from.after.x - dx, from.after.y - dy, to.before.x - dx,
                          to.before.y - dy, to.anchor.x - dx, to.anchor.y - dy);
    }
    if (subpath.closed || close_open) draw.cairo_close_path(cairo);
  }
}

// Strokes every subpath of `path` with `stroke` on `cairo`, moved by -`dx`, -`dy`. Inside and
// outside strokes are drawn twice as wide about the path and the other side is then cleared.
void StrokeSubpaths(cairo_t* cairo, const VectorPath& path, const ShapeStroke& stroke, double dx,
                    double dy, const LayerRect& tile) {
  const DrawingFunctions& draw = Draw();
  const bool centred = stroke.alignment == ShapeStroke::Alignment::Centre;
  draw.cairo_set_line_width(cairo, centred ? stroke.width : 2 * stroke.width);
  static constexpr cairo_line_cap_t Caps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_ROUND,
                                              CAIRO_LINE_CAP_SQUARE};
  static constexpr cairo_line_join_t Joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_ROUND,
                                                CAIRO_LINE_JOIN_BEVEL};
  draw.cairo_set_line_cap(cairo, Caps[static_cast<int>(stroke.cap)]);
  draw.cairo_set_line_join(cairo, Joins[static_cast<int>(stroke.join)]);
  draw.cairo_set_miter_limit(cairo, stroke.miter_limit);
  if (!stroke.dashes.empty()) {
    draw.cairo_set_dash(cairo, stroke.dashes.data(), static_cast<int>(stroke.dashes.size()),
                        stroke.dash_offset);
  }
  AddSubpaths(cairo, path, 0, path.subpaths.size(), dx, dy, false);
  draw.cairo_set_source_rgba(cairo, 0, 0, 0, 1);
  draw.cairo_stroke(cairo);
  if (centred) return;
  // The path's inside (even-odd, as its fill), or everything but it, is cleared.
  draw.cairo_set_operator(cairo, CAIRO_OPERATOR_CLEAR);
  draw.cairo_set_fill_rule(cairo, CAIRO_FILL_RULE_EVEN_ODD);
  if (stroke.alignment == ShapeStroke::Alignment::Inside) {
    draw.cairo_rectangle(cairo, -1, -1, static_cast<double>(tile.Width()) + 2,
                         static_cast<double>(tile.Height()) + 2);
  }
  AddSubpaths(cairo, path, 0, path.subpaths.size(), dx, dy, true);
  draw.cairo_fill(cairo);
}

// Draws the subpaths [first, last) of `path` into `tile` of `coverage` (which holds `region` row
// by row, one byte a pixel): filled even-odd together, or with `stroke` along all of them.
bool DrawTile(const VectorPath& path, size_t first, size_t last, const LayerRect& region,
              const LayerRect& tile, std::vector<uint8_t>& coverage,
              const ShapeStroke* stroke = nullptr) {
  const DrawingFunctions& draw = Draw();
  const Surface surface(draw.cairo_image_surface_create(
      CAIRO_FORMAT_A8, static_cast<int>(tile.Width()), static_cast<int>(tile.Height())));
  if (draw.cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
  const Context context(draw.cairo_create(surface.get()));
  if (draw.cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return false;
  cairo_t* cairo = context.get();
  draw.cairo_set_antialias(cairo, CAIRO_ANTIALIAS_DEFAULT);
  const auto dx = static_cast<double>(tile.left);
  const auto dy = static_cast<double>(tile.top);
  if (stroke) {
    StrokeSubpaths(cairo, path, *stroke, dx, dy, tile);
  } else {
    // The path records hold no rule of their own; paths are filled even-odd.
    draw.cairo_set_fill_rule(cairo, CAIRO_FILL_RULE_EVEN_ODD);
    AddSubpaths(cairo, path, first, last, dx, dy, true);
    draw.cairo_set_source_rgba(cairo, 0, 0, 0, 1);
    draw.cairo_fill(cairo);
  }
  if (draw.cairo_status(cairo) != CAIRO_STATUS_SUCCESS) return false;
  draw.cairo_surface_flush(surface.get());
  const uint8_t* pixels = draw.cairo_image_surface_get_data(surface.get());
  const int pitch = draw.cairo_image_surface_get_stride(surface.get());
  if (!pixels) return false;
  for (int64_t y = tile.top; y < tile.bottom; ++y) {
    const uint8_t* from = pixels + (y - tile.top) * pitch;
    uint8_t* to = coverage.data() + (y - region.top) * region.Width() + (tile.left - region.left);
    std::copy(from, from + tile.Width(), to);
  }
  return true;
}

// Draws `path` (filled, or stroked with `stroke`) into `coverage` over `region`, tile by tile,
// only where `reach` says it can show.
bool DrawCoverage(const VectorPath& path, size_t first, size_t last, const LayerRect& region,
                  const LayerRect& reach, std::vector<uint8_t>& coverage,
                  const ShapeStroke* stroke = nullptr) {
  std::fill(coverage.begin(), coverage.end(), 0);
  const LayerRect drawn = reach.Intersect(region);
  for (int64_t top = drawn.top; top < drawn.bottom; top += TileSide) {
    for (int64_t left = drawn.left; left < drawn.right; left += TileSide) {
      const LayerRect tile{top, left, std::min(top + TileSide, drawn.bottom),
                           std::min(left + TileSide, drawn.right)};
      if (!DrawTile(path, first, last, region, tile, coverage, stroke)) return false;
    }
  }
  return true;
}

// The path of `mask` in `file`, when it can be read and drawn.
std::optional<VectorPath> MaskPath(std::span<const uint8_t> file, const LayeredDocument& document,
                                   const LayerVectorMask& mask) {
  if (!mask.present || mask.offset > file.size() || mask.length > file.size() - mask.offset) {
    return std::nullopt;
  }
  return ReadVectorPath(file.subspan(mask.offset, mask.length), document.width, document.height);
}

// True when the shapes must be combined one by one: some shape subtracts or intersects, or
// shapes overlap that are not all excluded. Otherwise one even-odd fill of them all is the same
// picture.
bool CombinesShapes(const VectorPath& path) {
  bool all_excluded = true;
  std::vector<LayerRect> bounds;
  for (const VectorSubpath& subpath : path.subpaths) {
    if (subpath.operation == PathOperation::Subtract ||
        subpath.operation == PathOperation::Intersect) {
      return true;
    }
    all_excluded = all_excluded && subpath.operation == PathOperation::Exclude;
    VectorPath one;
    one.subpaths.push_back(subpath);
    bounds.push_back(Bounds(one));
  }
  if (all_excluded) return false;
  for (size_t i = 0; i < bounds.size(); ++i) {
    for (size_t k = i + 1; k < bounds.size(); ++k) {
      if (!bounds[i].Intersect(bounds[k]).Empty()) return true;
    }
  }
  return false;
}

}  // namespace

std::optional<VectorPath> ReadVectorPath(std::span<const uint8_t> records, uint32_t width,
                                         uint32_t height) {
  VectorPath path;
  size_t knots = 0;
  ByteCursor cursor(records);
  // A block may end in padding shorter than a record.
  while (cursor.remaining() >= PathRecordBytes) {
    uint64_t selector = 0;
    cursor.Read(2, selector);
    ByteCursor data(cursor.Peek(PathRecordBytes - 2));
    cursor.Skip(PathRecordBytes - 2);
    switch (selector) {
      case ClosedLength:
      case OpenLength: {
        if (path.subpaths.size() >= MaxVectorKnots) return std::nullopt;
        // The knot count, then the shape's operation: 0 exclude, 1 add, 2 subtract, 3 intersect.
        uint64_t operation = 0;
        data.Skip(2);
        data.Read(2, operation);
        static constexpr PathOperation Operations[] = {PathOperation::Exclude, PathOperation::Add,
                                                       PathOperation::Subtract,
                                                       PathOperation::Intersect};
        path.subpaths.push_back({selector == ClosedLength,
                                 {},
                                 operation < 4 ? Operations[operation] : PathOperation::Exclude});
        break;
      }
      case ClosedKnotLinked:
      case ClosedKnotUnlinked:
      case OpenKnotLinked:
      case OpenKnotUnlinked: {
        if (path.subpaths.empty() || ++knots > MaxVectorKnots) return std::nullopt;
        VectorKnot knot;
        if (!ReadPoint(data, width, height, knot.before) ||
            !ReadPoint(data, width, height, knot.anchor) ||
            !ReadPoint(data, width, height, knot.after)) {
          return std::nullopt;
        }
        path.subpaths.back().knots.push_back(knot);
        break;
      }
      case InitialFill: {
        uint64_t fill = 0;
        data.Read(2, fill);
        path.initial_fill = fill != 0;
        break;
      }
      case FillRule:
      case Clipboard:
      default:
        break;  // nothing that changes the shape
    }
  }
  return path;
}

bool ApplyVectorMask(std::span<const uint8_t> file, const LayeredDocument& document,
                     const LayerVectorMask& mask, const LayerRect& region, float* alpha,
                     size_t stride, const ShapeStroke* stroke) {
  if (!mask.present || mask.disabled || region.Empty()) return true;
  const std::optional<VectorPath> path = MaskPath(file, document, mask);
  if (!path || !CairoAvailable()) return false;

  const size_t area = static_cast<size_t>(region.Width() * region.Height());
  std::vector<uint8_t> coverage(area, 0);
  // Only tiles a shape may reach are drawn; the rest of the region stays uncovered.
  const auto draw = [&](const VectorPath& shapes, size_t first, size_t last) {
    return DrawCoverage(shapes, first, last, region, Bounds(shapes), coverage);
  };
  // The initial fill and the invert flag each turn the coverage over.
  const bool flip = path->initial_fill != mask.inverted;
  // The shape's coverage: the drawing's bytes where one even-odd fill makes it, else a plane of
  // its own that each shape combines into.
  std::vector<float> shape;
  if (!CombinesShapes(*path)) {
    if (!draw(*path, 0, path->subpaths.size())) return false;
  } else {
    shape.assign(area, 0.0f);
    for (size_t index = 0; index < path->subpaths.size(); ++index) {
      VectorPath one;
      one.subpaths.push_back(path->subpaths[index]);
      if (!draw(one, 0, 1)) return false;
      const PathOperation operation = path->subpaths[index].operation;
      for (size_t i = 0; i < area; ++i) {
        const float a = shape[i], b = coverage[i] * (1.0f / 255.0f);
        switch (operation) {
          case PathOperation::Add:
            shape[i] = a + b - a * b;
            break;
          case PathOperation::Subtract:
            shape[i] = a * (1 - b);
            break;
          case PathOperation::Intersect:
            shape[i] = a * b;
            break;
          case PathOperation::Exclude:
            shape[i] = a + b - 2 * a * b;
            break;
        }
      }
    }
  }
  // The stroke's outer part lies beyond the path. The pixels hold it, antialiased already:
  // wherever it reaches they show as stored.
  std::vector<uint8_t> stroked;
  if (stroke) {
    stroked.resize(area);
    if (!DrawCoverage(*path, 0, path->subpaths.size(), region, region, stroked, stroke)) {
      return false;
    }
  }
  for (size_t i = 0; i < area; ++i) {
    float covered = shape.empty() ? coverage[i] * (1.0f / 255.0f) : shape[i];
    if (flip) covered = 1.0f - covered;
    if (!stroked.empty() && stroked[i] > 0) covered = 1.0f;
    alpha[i * stride] *= covered;
  }
  return true;
}

bool ShapeStrokeCoverage(std::span<const uint8_t> file, const LayeredDocument& document,
                         const LayerVectorMask& mask, const ShapeStroke& stroke,
                         const LayerRect& region, std::vector<float>& coverage) {
  coverage.assign(LayerArea(region), 0.0f);
  if (region.Empty()) return true;
  const std::optional<VectorPath> path = MaskPath(file, document, mask);
  if (!path || !CairoAvailable()) return false;
  std::vector<uint8_t> stroked(coverage.size(), 0);
  if (!DrawCoverage(*path, 0, path->subpaths.size(), region, region, stroked, &stroke)) {
    return false;
  }
  for (size_t i = 0; i < coverage.size(); ++i) coverage[i] = stroked[i] * (1.0f / 255.0f);
  return true;
}

LayerRect VectorMaskBounds(std::span<const uint8_t> file, const LayeredDocument& document,
                           const LayerVectorMask& mask) {
  const std::optional<VectorPath> path = MaskPath(file, document, mask);
  return path ? Bounds(*path, false) : LayerRect{};
}

std::optional<ShapeStroke> ReadShapeStroke(const Descriptor& settings, uint16_t mode) {
  if (!settings.Flag("strokeEnabled")) return std::nullopt;
  ShapeStroke stroke;
  const Descriptor* content = settings.Object("strokeStyleContent");
  const Descriptor* colour = content ? content->Object("Clr ") : nullptr;
  if (colour) stroke.colour = ReadDescriptorColour(*colour, mode);
  const double opacity = settings.Number("strokeStyleOpacity", 100) / 100;
  stroke.opacity = std::isfinite(opacity) ? static_cast<float>(std::clamp(opacity, 0.0, 1.0)) : 1;
  const std::string blend = settings.Text("strokeStyleBlendMode");
  stroke.normal = blend.empty() || blend == "Nrml";
  stroke.fill_enabled = settings.Flag("fillEnabled", true);
  // Points are the document's 72nds of an inch, at the resolution the stroke was made at.
  double width = settings.Number("strokeStyleLineWidth", 1);
  const DescriptorValue* unit = settings.Find("strokeStyleLineWidth");
  if (unit && unit->text == "#Pnt") width *= settings.Number("strokeStyleResolution", 72) / 72;
  if (!std::isfinite(width) || width <= 0) return std::nullopt;
  stroke.width = std::min(width, 1000.0);
  const std::string alignment = settings.Text("strokeStyleLineAlignment");
  stroke.alignment = alignment == "strokeStyleAlignInside"    ? ShapeStroke::Alignment::Inside
                     : alignment == "strokeStyleAlignOutside" ? ShapeStroke::Alignment::Outside
                                                              : ShapeStroke::Alignment::Centre;
  const std::string cap = settings.Text("strokeStyleLineCapType");
  stroke.cap = cap == "strokeStyleRoundCap"    ? ShapeStroke::Cap::Round
               : cap == "strokeStyleSquareCap" ? ShapeStroke::Cap::Square
                                               : ShapeStroke::Cap::Butt;
  const std::string join = settings.Text("strokeStyleLineJoinType");
  stroke.join = join == "strokeStyleRoundJoin"   ? ShapeStroke::Join::Round
                : join == "strokeStyleBevelJoin" ? ShapeStroke::Join::Bevel
                                                 : ShapeStroke::Join::Miter;
  const double limit = settings.Number("strokeStyleMiterLimit", 4);
  stroke.miter_limit = std::isfinite(limit) ? std::clamp(limit, 1.0, 100.0) : 4;
  // Dashes and their offset are given in widths of the line.
  if (const std::vector<DescriptorValue>* dashes = settings.List("strokeStyleLineDashSet")) {
    double total = 0;
    for (const DescriptorValue& dash : *dashes) {
      const double length = dash.number * stroke.width;
      if (!std::isfinite(length) || length < 0 || stroke.dashes.size() >= 64) return std::nullopt;
      stroke.dashes.push_back(length);
      total += length;
    }
    // Nothing at all Cairo would refuse, and dashes finer than a pixel would only cost time
    // (a long path cut into millions of pieces): both are drawn solid, as an empty set is.
    if (total < 1) stroke.dashes.clear();
  }
  const double offset = settings.Number("strokeStyleLineDashOffset") * stroke.width;
  stroke.dash_offset = std::isfinite(offset) ? offset : 0;
  return stroke;
}
