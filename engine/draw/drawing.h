#pragma once

// 2D and vector drawing on 32-bit images with alpha (Cairo, with Pango and fontconfig for text),
// for the drawn layers: the frame and the watermarks. Nothing here needs a display.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/draw/drawing_libraries.h"
#include "engine/image/bitmap.h"

/// Cairo refuses image surfaces wider or higher than this; a larger layer is not drawn.
inline constexpr int MaxDrawingSide = 32767;

struct SurfaceDestroy {
  void operator()(cairo_surface_t* surface) const noexcept {
    Draw().cairo_surface_destroy(surface);
  }
};
/// An owned Cairo image surface, always ARGB32 here. Empty means "no image".
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;

struct ContextDestroy {
  void operator()(cairo_t* context) const noexcept { Draw().cairo_destroy(context); }
};
using Context = std::unique_ptr<cairo_t, ContextDestroy>;

struct LayoutUnref {
  void operator()(PangoLayout* layout) const noexcept { Draw().g_object_unref(layout); }
};
using Layout = std::unique_ptr<PangoLayout, LayoutUnref>;

struct FontDescriptionFree {
  void operator()(PangoFontDescription* description) const noexcept {
    Draw().pango_font_description_free(description);
  }
};
using FontDescription = std::unique_ptr<PangoFontDescription, FontDescriptionFree>;

/// A colour packed as red | green << 8 | blue << 16 | alpha << 24, as ParseHexColourAlpha gives.
using PackedColour = uint32_t;

/// A face at a size with its style. Plain data: one font may serve several threads.
struct Font {
  FontDescription description;
  bool underline = false;
  bool strikethrough = false;
};

/// How text reaches the pixels.
enum class TextRendering {
  Plain,  // antialiasing off; glyph pixels replace all four channels, nothing is blended
  Smooth  // antialiased vector text blended over what lies below
};

struct PathPoint {
  double x = 0;
  double y = 0;
};

/// The logical size of a piece of text in whole pixels.
struct TextExtent {
  int width = 0;
  int height = 0;
};

/// A transparent ARGB32 image; empty when a side is below 1 or above MaxDrawingSide, or Cairo
/// cannot allocate it.
Surface CreateImage(int width, int height);

/// A drawing context on `image`; empty when Cairo refuses one.
Context CreateContext(const Surface& image);

int ImageWidth(const Surface& image);
int ImageHeight(const Surface& image);

/// Fills the box with the colour, blended over what lies below (or replacing it with `replace`).
void FillBox(cairo_t* context, double x, double y, double width, double height, PackedColour colour,
             bool replace = false);

/// Fills the closed polygon through `points`, blended over what lies below.
void FillPath(cairo_t* context, std::span<const PathPoint> points, PackedColour colour);

/// Draws `source` with its top-left corner at (x, y) with an opacity of 0 to 255, blended over
/// what lies below.
void DrawImage(cairo_t* context, const Surface& source, double x, double y, int opacity);

/// Turns every pixel grey by (77 R + 150 G + 29 B) >> 8, alpha kept.
void MakeGrey(const Surface& image);

/// True when fontconfig knows an installed family of that name, or maps the name to one by a
/// metric-compatible (strong or same) alias; a name that only gets the fallback font is false.
bool IsFontInstalled(std::string_view family);

/// The face at `points` (96 dots per inch) with its style; std::nullopt when the face is not
/// installed or the size is not positive.
std::optional<Font> OpenFont(std::string_view family, double points, bool bold, bool italic,
                             bool underline, bool strikethrough);

/// A text layout of `text` in `font` for drawing on `context`; empty when Pango refuses one.
Layout CreateTextLayout(cairo_t* context, const Font& font, std::string_view text,
                        TextRendering rendering);

/// The logical size of a layout, rounded to whole pixels.
TextExtent MeasureLayout(PangoLayout* layout);

/// The logical width of a layout in fractional pixels, as vector text measures it.
double MeasureLayoutWidth(PangoLayout* layout);

/// Draws the layout in `colour` with its top-left corner at (x, y).
void DrawLayout(cairo_t* context, PangoLayout* layout, double x, double y, PackedColour colour,
                TextRendering rendering);

/// The drawn image as a 32-bit FreeImage bitmap with straight alpha and bottom-up rows; empty when
/// FreeImage cannot allocate it.
Bitmap ToFreeImage(const Surface& image);

/// A FreeImage bitmap of any standard depth as an ARGB32 image; a bitmap without alpha comes out
/// opaque. Empty when it cannot be converted or is too large to draw.
Surface FromFreeImage(FIBITMAP* bitmap);
