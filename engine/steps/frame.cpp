#include "engine/steps/frame.h"

#include <array>

#include "engine/draw/drawing.h"
#include "engine/image/sample_depth.h"
#include "engine/steps/hex_colour.h"

namespace {

// The four bands, each a corner box underneath and a trapezoid whose slanted ends run along the
// corner diagonals, so each corner is split between the two bands meeting there.
void DrawBands(cairo_t* context, const FrameSettings& frame, double w, double h) {
  const double l = frame.solid_left;
  const double r = frame.solid_right;
  const double t = frame.solid_top;
  const double b = frame.solid_bottom;
  const PackedColour left = ParseHexColourAlpha(frame.solid_left_color, 255);
  const PackedColour right = ParseHexColourAlpha(frame.solid_right_color, 255);
  const PackedColour top = ParseHexColourAlpha(frame.solid_top_color, 255);
  const PackedColour bottom = ParseHexColourAlpha(frame.solid_bottom_color, 255);

  FillBox(context, 0, 0, l, t, top);
  FillBox(context, w - r, 0, r, t, right);
  FillBox(context, w - r, h - b, r, b, bottom);
  FillBox(context, 0, h - b, l, b, left);

  const std::array<PathPoint, 4> top_band = {{{0, 0}, {w, 0}, {w - r, t}, {l, t}}};
  const std::array<PathPoint, 4> right_band = {{{w, 0}, {w, h}, {w - r, h - b}, {w - r, t}}};
  const std::array<PathPoint, 4> bottom_band = {{{w, h}, {0, h}, {l, h - b}, {w - r, h - b}}};
  const std::array<PathPoint, 4> left_band = {{{0, h}, {0, 0}, {l, t}, {l, h - b}}};
  FillPath(context, top_band, top);
  FillPath(context, right_band, right);
  FillPath(context, bottom_band, bottom);
  FillPath(context, left_band, left);
}

}  // namespace

Bitmap DrawFrame(Bitmap image, const ProgramSettings& settings) {
  const FrameSettings& frame = settings.frame;
  if (!image || frame.do_frame == ToValue(FrameType::None)) return image;

  // The frame is composited over a plain RGB image; an alpha channel is dropped here.
  image = ToPlainRgb(std::move(image));
  if (!image) return image;
  if (frame.do_frame != ToValue(FrameType::Solid)) return image;
  const auto width = static_cast<int32_t>(FreeImage_GetWidth(image.get()));
  const auto height = static_cast<int32_t>(FreeImage_GetHeight(image.get()));

  const Surface bands = CreateImage(width, height);
  const Context bands_context = CreateContext(bands);
  if (!bands_context) return image;
  // Hard edges: the bands keep their exact colours, also along the corner diagonals.
  Draw().cairo_set_antialias(bands_context.get(), CAIRO_ANTIALIAS_NONE);
  DrawBands(bands_context.get(), frame, width, height);

  const Surface layer = CreateImage(width, height);
  const Context layer_context = CreateContext(layer);
  if (!layer_context) return image;
  DrawImage(layer_context.get(), bands, 0, 0, frame.solid_opacity);

  const Bitmap layer_bitmap = ToFreeImage(layer);
  if (!layer_bitmap) return image;
  Bitmap framed(FreeImage_Composite(layer_bitmap.get(), FALSE, nullptr, image.get()));
  if (!framed) return image;  // sizes that disagree with the image: no frame
  return framed;
}
