#include "engine/draw/drawing.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/draw/drawing_libraries.h"

namespace {

// Sizes in points are taken at the resolution of the original platform: 14 pt is 18.67 px.
constexpr double FontResolution = 96.0;

struct PatternDestroy {
  void operator()(FcPattern* pattern) const noexcept { Draw().FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDestroy>;

struct AttrListUnref {
  void operator()(PangoAttrList* list) const noexcept { Draw().pango_attr_list_unref(list); }
};
using AttrList = std::unique_ptr<PangoAttrList, AttrListUnref>;

struct FontOptionsDestroy {
  void operator()(cairo_font_options_t* options) const noexcept {
    Draw().cairo_font_options_destroy(options);
  }
};
using FontOptions = std::unique_ptr<cairo_font_options_t, FontOptionsDestroy>;

struct GFree {
  void operator()(char* text) const noexcept { Draw().g_free(text); }
};

void SetColour(cairo_t* context, PackedColour colour) {
  Draw().cairo_set_source_rgba(context, (colour & 0xFF) / 255.0, (colour >> 8 & 0xFF) / 255.0,
                               (colour >> 16 & 0xFF) / 255.0, (colour >> 24 & 0xFF) / 255.0);
}

bool SameFamily(const FcChar8* a, std::string_view b) {
  const std::string name(b);
  return Draw().FcStrCmpIgnoreCase(a, reinterpret_cast<const FcChar8*>(name.c_str())) == 0;
}

uint32_t* PixelRow(cairo_surface_t* image, int y) {
  unsigned char* data = Draw().cairo_image_surface_get_data(image);
  return reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) *
                                                Draw().cairo_image_surface_get_stride(image));
}

BYTE Unpremultiply(uint32_t channel, uint32_t alpha) {
  return static_cast<BYTE>(std::min<uint32_t>(255, (channel * 255 + alpha / 2) / alpha));
}

uint32_t Premultiply(uint32_t channel, uint32_t alpha) { return (channel * alpha + 127) / 255; }

}  // namespace

Surface CreateImage(int width, int height) {
  if (width < 1 || height < 1 || width > MaxDrawingSide || height > MaxDrawingSide) return {};
  if (!DrawingLibrariesAvailable()) return {};
  Surface image(Draw().cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (Draw().cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) return {};
  return image;  // Cairo clears a new image surface to transparent black
}

Context CreateContext(const Surface& image) {
  if (!image) return {};
  Context context(Draw().cairo_create(image.get()));
  if (Draw().cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return {};
  return context;
}

int ImageWidth(const Surface& image) {
  return image ? Draw().cairo_image_surface_get_width(image.get()) : 0;
}

int ImageHeight(const Surface& image) {
  return image ? Draw().cairo_image_surface_get_height(image.get()) : 0;
}

void FillBox(cairo_t* context, double x, double y, double width, double height, PackedColour colour,
             bool replace) {
  Draw().cairo_save(context);
  if (replace) Draw().cairo_set_operator(context, CAIRO_OPERATOR_SOURCE);
  SetColour(context, colour);
  Draw().cairo_rectangle(context, x, y, width, height);
  Draw().cairo_fill(context);
  Draw().cairo_restore(context);
}

void FillPath(cairo_t* context, std::span<const PathPoint> points, PackedColour colour) {
  if (points.empty()) return;
  Draw().cairo_save(context);
  SetColour(context, colour);
  Draw().cairo_new_path(context);
  Draw().cairo_move_to(context, points.front().x, points.front().y);
  for (const PathPoint& point : points.subspan(1)) Draw().cairo_line_to(context, point.x, point.y);
  Draw().cairo_close_path(context);
  Draw().cairo_fill(context);
  Draw().cairo_restore(context);
}

void DrawImage(cairo_t* context, const Surface& source, double x, double y, int opacity) {
  if (!source) return;
  Draw().cairo_save(context);
  Draw().cairo_set_source_surface(context, source.get(), x, y);
  Draw().cairo_paint_with_alpha(context, std::clamp(opacity, 0, 255) / 255.0);
  Draw().cairo_restore(context);
}

void MakeGrey(const Surface& image) {
  if (!image) return;
  Draw().cairo_surface_flush(image.get());
  const int width = ImageWidth(image);
  const int height = ImageHeight(image);
  for (int y = 0; y < height; ++y) {
    uint32_t* row = PixelRow(image.get(), y);
    for (int x = 0; x < width; ++x) {
      // The weights are linear, so they work on premultiplied channels as they do on straight ones.
      const uint32_t pixel = row[x];
      const uint32_t grey =
          (77 * (pixel >> 16 & 0xFF) + 150 * (pixel >> 8 & 0xFF) + 29 * (pixel & 0xFF)) >> 8;
      row[x] = (pixel & 0xFF000000u) | grey << 16 | grey << 8 | grey;
    }
  }
  Draw().cairo_surface_mark_dirty(image.get());
}

bool IsFontInstalled(std::string_view family) {
  if (family.empty() || !DrawingLibrariesAvailable()) return false;
  if (!Draw().FcInit()) return false;
  Pattern pattern(Draw().FcPatternCreate());
  if (!pattern) return false;
  const std::string name(family);
  Draw().FcPatternAddString(pattern.get(), FC_FAMILY,
                            reinterpret_cast<const FcChar8*>(name.c_str()));
  Draw().FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  Draw().FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  Pattern match(Draw().FcFontMatch(nullptr, pattern.get(), &result));
  if (!match) return false;

  FcChar8* matched = nullptr;
  for (int i = 0; Draw().FcPatternGetString(match.get(), FC_FAMILY, i, &matched) == FcResultMatch;
       ++i) {
    if (SameFamily(matched, family)) return true;
  }
  if (Draw().FcPatternGetString(match.get(), FC_FAMILY, 0, &matched) != FcResultMatch) return false;
  // The match is another family: it counts when the configuration put it in as a metric-compatible
  // alias (strong or same binding), not when it is only the weak generic fallback.
  FcValue value;
  FcValueBinding binding = FcValueBindingWeak;
  for (int i = 0; Draw().FcPatternGetWithBinding(pattern.get(), FC_FAMILY, i, &value, &binding) ==
                  FcResultMatch;
       ++i) {
    if (value.type != FcTypeString || !SameFamily(value.u.s, reinterpret_cast<char*>(matched)))
      continue;
    if (binding == FcValueBindingStrong || binding == FcValueBindingSame) return true;
  }
  return false;
}

std::optional<Font> OpenFont(std::string_view family, double points, bool bold, bool italic,
                             bool underline, bool strikethrough) {
  if (!(points > 0) || !IsFontInstalled(family)) return std::nullopt;
  Font font;
  font.description.reset(Draw().pango_font_description_new());
  if (!font.description) return std::nullopt;
  const std::string name(family);
  Draw().pango_font_description_set_family(font.description.get(), name.c_str());
  Draw().pango_font_description_set_size(font.description.get(),
                                         static_cast<gint>(std::lround(points * PANGO_SCALE)));
  Draw().pango_font_description_set_weight(font.description.get(),
                                           bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  Draw().pango_font_description_set_style(font.description.get(),
                                          italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  font.underline = underline;
  font.strikethrough = strikethrough;
  return font;
}

Layout CreateTextLayout(cairo_t* context, const Font& font, std::string_view text,
                        TextRendering rendering) {
  if (!context || !font.description) return {};
  Layout layout(Draw().pango_cairo_create_layout(context));
  if (!layout) return {};
  PangoContext* pango_context = Draw().pango_layout_get_context(layout.get());
  Draw().pango_cairo_context_set_resolution(pango_context, FontResolution);
  FontOptions options(Draw().cairo_font_options_create());
  // Plain text must give hard pixels: the glyphs themselves are rendered without coverage.
  Draw().cairo_font_options_set_antialias(options.get(), rendering == TextRendering::Plain
                                                             ? CAIRO_ANTIALIAS_NONE
                                                             : CAIRO_ANTIALIAS_GRAY);
  Draw().pango_cairo_context_set_font_options(pango_context, options.get());
  Draw().pango_layout_context_changed(layout.get());
  Draw().pango_layout_set_font_description(layout.get(), font.description.get());

  // Pango rejects invalid UTF-8; a stray byte becomes a replacement character instead.
  const std::unique_ptr<char, GFree> valid(
      Draw().g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  Draw().pango_layout_set_text(layout.get(), valid.get(), -1);

  AttrList attributes(Draw().pango_attr_list_new());
  if (font.underline)
    Draw().pango_attr_list_insert(attributes.get(),
                                  Draw().pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  if (font.strikethrough)
    Draw().pango_attr_list_insert(attributes.get(), Draw().pango_attr_strikethrough_new(TRUE));
  Draw().pango_layout_set_attributes(layout.get(), attributes.get());
  return layout;
}

TextExtent MeasureLayout(PangoLayout* layout) {
  PangoRectangle logical{};
  Draw().pango_layout_get_pixel_extents(layout, nullptr, &logical);
  return {logical.width, logical.height};
}

double MeasureLayoutWidth(PangoLayout* layout) {
  PangoRectangle logical{};
  Draw().pango_layout_get_extents(layout, nullptr, &logical);
  return static_cast<double>(logical.width) / PANGO_SCALE;
}

void DrawLayout(cairo_t* context, PangoLayout* layout, double x, double y, PackedColour colour,
                TextRendering rendering) {
  Draw().cairo_save(context);
  if (rendering == TextRendering::Plain) {
    // Underline and strikethrough are filled rectangles, which follow the context's setting.
    Draw().cairo_set_antialias(context, CAIRO_ANTIALIAS_NONE);
    Draw().cairo_set_operator(context, CAIRO_OPERATOR_SOURCE);
  }
  SetColour(context, colour);
  Draw().pango_cairo_update_layout(context, layout);
  Draw().cairo_move_to(context, x, y);
  Draw().pango_cairo_show_layout(context, layout);
  Draw().cairo_restore(context);
}

Bitmap ToFreeImage(const Surface& image) {
  if (!image) return {};
  Draw().cairo_surface_flush(image.get());
  const int width = ImageWidth(image);
  const int height = ImageHeight(image);
  Bitmap bitmap(FreeImage_Allocate(width, height, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                   FI_RGBA_BLUE_MASK));
  if (!bitmap) return {};
  for (int y = 0; y < height; ++y) {
    const uint32_t* source = PixelRow(image.get(), y);
    BYTE* target = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);  // FreeImage is bottom-up
    for (int x = 0; x < width; ++x, target += 4) {
      const uint32_t pixel = source[x];
      const uint32_t alpha = pixel >> 24;
      if (alpha == 0) {
        std::memset(target, 0, 4);
        continue;
      }
      target[FI_RGBA_RED] = Unpremultiply(pixel >> 16 & 0xFF, alpha);
      target[FI_RGBA_GREEN] = Unpremultiply(pixel >> 8 & 0xFF, alpha);
      target[FI_RGBA_BLUE] = Unpremultiply(pixel & 0xFF, alpha);
      target[FI_RGBA_ALPHA] = static_cast<BYTE>(alpha);
    }
  }
  return bitmap;
}

Surface FromFreeImage(FIBITMAP* bitmap) {
  if (!bitmap || !FreeImage_HasPixels(bitmap)) return {};
  const Bitmap rgba(FreeImage_ConvertTo32Bits(bitmap));
  if (!rgba) return {};
  const int width = static_cast<int>(FreeImage_GetWidth(rgba.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(rgba.get()));
  Surface image = CreateImage(width, height);
  if (!image) return {};
  Draw().cairo_surface_flush(image.get());
  for (int y = 0; y < height; ++y) {
    const BYTE* source = FreeImage_GetScanLine(rgba.get(), height - 1 - y);
    uint32_t* target = PixelRow(image.get(), y);
    for (int x = 0; x < width; ++x, source += 4) {
      const uint32_t alpha = source[FI_RGBA_ALPHA];
      target[x] = alpha << 24 | Premultiply(source[FI_RGBA_RED], alpha) << 16 |
                  Premultiply(source[FI_RGBA_GREEN], alpha) << 8 |
                  Premultiply(source[FI_RGBA_BLUE], alpha);
    }
  }
  Draw().cairo_surface_mark_dirty(image.get());
  return image;
}
