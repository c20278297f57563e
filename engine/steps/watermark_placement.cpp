#include "engine/steps/watermark_placement.h"

namespace {

// Where a layer goes: the settings of the text or of the image watermark.
struct Placement {
  int32_t rotation = 0;
  int8_t boundary = 0;
  int8_t position = 0;
  int32_t x_offset = 0;
  int32_t y_offset = 0;
};

Placement PlacementFor(const WatermarkSettings& watermark) {
  if (watermark.do_watermark == ToValue(WatermarkType::Text)) {
    return {watermark.text_rotation, watermark.text_boundary, watermark.text_position,
            watermark.text_x_offset, watermark.text_y_offset};
  }
  return {watermark.image_rotation, watermark.image_boundary, watermark.image_position,
          watermark.image_x_offset, watermark.image_y_offset};
}

struct Point {
  int64_t x = 0;
  int64_t y = 0;
};

// Offsets act only on the edges an anchor clings to; halves truncate toward zero.
Point Anchor(int8_t position, int64_t area_width, int64_t area_height, int64_t layer_width,
             int64_t layer_height, int64_t dx, int64_t dy) {
  const int64_t left = dx;
  const int64_t centre_x = (area_width - layer_width) / 2;
  const int64_t right = area_width - layer_width - dx;
  const int64_t top = dy;
  const int64_t middle_y = (area_height - layer_height) / 2;
  const int64_t bottom = area_height - layer_height - dy;
  switch (position) {
    case ToValue(Position::TopLeft):
      return {left, top};
    case ToValue(Position::TopCenter):
      return {centre_x, top};
    case ToValue(Position::TopRight):
      return {right, top};
    case ToValue(Position::MiddleLeft):
      return {left, middle_y};
    case ToValue(Position::MiddleCenter):
      return {centre_x, middle_y};
    case ToValue(Position::MiddleRight):
      return {right, middle_y};
    case ToValue(Position::BottomLeft):
      return {left, bottom};
    case ToValue(Position::BottomCenter):
      return {centre_x, bottom};
    case ToValue(Position::BottomRight):
      return {right, bottom};
  }
  return {0, 0};
}

}  // namespace

Bitmap PlaceWatermark(Bitmap image, Bitmap layer, const ProgramSettings& settings) {
  if (!image || !layer) return image;
  const auto width = static_cast<int32_t>(FreeImage_GetWidth(image.get()));
  const auto height = static_cast<int32_t>(FreeImage_GetHeight(image.get()));
  const Placement placement = PlacementFor(settings.watermark);

  if (placement.rotation >= 1 && placement.rotation <= 359) {
    // Without a background colour the uncovered corners of the grown canvas stay transparent.
    layer = Bitmap(FreeImage_Rotate(layer.get(), placement.rotation, nullptr));
    if (!layer) return image;
  }

  int64_t area_width = width;
  int64_t area_height = height;
  int64_t origin_x = 0;
  int64_t origin_y = 0;
  const FrameSettings& frame = settings.frame;
  if (frame.do_frame != ToValue(FrameType::None) &&
      placement.boundary == ToValue(Boundary::Frame)) {
    area_width -= static_cast<int64_t>(frame.solid_left) + frame.solid_right;
    area_height -= static_cast<int64_t>(frame.solid_top) + frame.solid_bottom;
    origin_x = frame.solid_left;
    origin_y = frame.solid_top;
  }

  const int64_t dx = placement.x_offset;
  const int64_t dy = placement.y_offset;
  int64_t layer_width = FreeImage_GetWidth(layer.get());
  int64_t layer_height = FreeImage_GetHeight(layer.get());
  bool cropped = false;
  if (layer_width + dx > area_width) {
    layer_width = area_width - dx;
    cropped = true;
  }
  if (layer_height + dy > area_height) {
    layer_height = area_height - dy;
    cropped = true;
  }
  if (layer_width <= 0 || layer_height <= 0) return image;  // no room left for any of it
  if (cropped) {
    layer = Bitmap(FreeImage_Copy(layer.get(), 0, 0, static_cast<int>(layer_width),
                                  static_cast<int>(layer_height)));
    if (!layer) return image;
  }

  const Point anchor =
      Anchor(placement.position, area_width, area_height, layer_width, layer_height, dx, dy);
  const int64_t x = anchor.x + origin_x;
  const int64_t y = anchor.y + origin_y;
  // A layer reaching outside the image is not drawn at all, rather than clipped.
  if (x < 0 || y < 0 || x + layer_width > width || y + layer_height > height) return image;

  const Bitmap canvas(FreeImage_AllocateT(FIT_BITMAP, width, height, FreeImage_GetBPP(layer.get()),
                                          FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
  if (!canvas) return image;
  // The canvas is empty, so the layer is copied in as it is (a blend factor of 255 would shave
  // one step off every channel, alpha included).
  constexpr int PasteCopies = 256;
  if (!FreeImage_Paste(canvas.get(), layer.get(), static_cast<int>(x), static_cast<int>(y),
                       PasteCopies)) {
    return image;
  }
  Bitmap placed(FreeImage_Composite(canvas.get(), FALSE, nullptr, image.get()));
  if (!placed) return image;
  return placed;
}
