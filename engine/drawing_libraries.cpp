// The drawing libraries (Cairo, Pango, fontconfig, GLib) are opened on the first drawing, not at
// start-up: a conversion without a frame or watermark, most of them, never pays for loading them.
// Each function the drawing code calls is defined here under its own name and forwards to the
// library's. The program does not export these names, so the libraries themselves, and any
// other user of them, still call each other directly.

#include "engine/drawing_libraries.h"

#include <cairo.h>
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <glib-object.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <cstdlib>

namespace {

enum LibraryIndex { CairoLibrary, PangoLibrary, PangoCairoLibrary, FontconfigLibrary, GObjectLibrary, GLibLibrary, LibraryCount };

constexpr const char* SharedObjects[LibraryCount] = {
    "libcairo.so.2",      "libpango-1.0.so.0",   "libpangocairo-1.0.so.0",
    "libfontconfig.so.1", "libgobject-2.0.so.0", "libglib-2.0.so.0"};

struct Libraries {
  void* handles[LibraryCount] = {};
  bool all = true;
  Libraries() {
    for (int i = 0; i < LibraryCount; ++i) {
      handles[i] = dlopen(SharedObjects[i], RTLD_NOW | RTLD_LOCAL);
      all = all && handles[i] != nullptr;
    }
  }
};

const Libraries& Loaded() {
  static const Libraries libraries;
  return libraries;
}

// The library's own function. Drawing only starts once DrawingLibrariesAvailable said yes, so a
// missing one here means a library older than the one we were built against.
void* Resolve(LibraryIndex library, const char* name) {
  void* handle = Loaded().handles[library];
  void* function = handle ? dlsym(handle, name) : nullptr;
  if (!function) {
    std::fprintf(stderr, "quorvix: %s has no %s\n", SharedObjects[library], name);
    std::abort();
  }
  return function;
}

}  // namespace

bool DrawingLibrariesAvailable() { return Loaded().all; }

#define QUORVIX_LAZY(library, result, name, parameters, arguments)                      \
  extern "C" result name parameters {                                                 \
    static const auto real = reinterpret_cast<decltype(&name)>(Resolve(library, #name)); \
    return real arguments;                                                            \
  }

// clang-format off
QUORVIX_LAZY(CairoLibrary, void, cairo_close_path, (cairo_t* cr), (cr))
QUORVIX_LAZY(CairoLibrary, cairo_t*, cairo_create, (cairo_surface_t* target), (target))
QUORVIX_LAZY(CairoLibrary, void, cairo_destroy, (cairo_t* cr), (cr))
QUORVIX_LAZY(CairoLibrary, void, cairo_fill, (cairo_t* cr), (cr))
QUORVIX_LAZY(CairoLibrary, cairo_font_options_t*, cairo_font_options_create, (), ())
QUORVIX_LAZY(CairoLibrary, void, cairo_font_options_destroy, (cairo_font_options_t* options), (options))
QUORVIX_LAZY(CairoLibrary, void, cairo_font_options_set_antialias, (cairo_font_options_t* options, cairo_antialias_t antialias), (options, antialias))
QUORVIX_LAZY(CairoLibrary, cairo_surface_t*, cairo_image_surface_create, (cairo_format_t format, int width, int height), (format, width, height))
QUORVIX_LAZY(CairoLibrary, unsigned char*, cairo_image_surface_get_data, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(CairoLibrary, int, cairo_image_surface_get_height, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(CairoLibrary, int, cairo_image_surface_get_stride, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(CairoLibrary, int, cairo_image_surface_get_width, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(CairoLibrary, void, cairo_line_to, (cairo_t* cr, double x, double y), (cr, x, y))
QUORVIX_LAZY(CairoLibrary, void, cairo_move_to, (cairo_t* cr, double x, double y), (cr, x, y))
QUORVIX_LAZY(CairoLibrary, void, cairo_new_path, (cairo_t* cr), (cr))
QUORVIX_LAZY(CairoLibrary, void, cairo_paint_with_alpha, (cairo_t* cr, double alpha), (cr, alpha))
QUORVIX_LAZY(CairoLibrary, void, cairo_rectangle, (cairo_t* cr, double x, double y, double width, double height), (cr, x, y, width, height))
QUORVIX_LAZY(CairoLibrary, void, cairo_restore, (cairo_t* cr), (cr))
QUORVIX_LAZY(CairoLibrary, void, cairo_save, (cairo_t* cr), (cr))
QUORVIX_LAZY(CairoLibrary, void, cairo_set_antialias, (cairo_t* cr, cairo_antialias_t antialias), (cr, antialias))
QUORVIX_LAZY(CairoLibrary, void, cairo_set_operator, (cairo_t* cr, cairo_operator_t op), (cr, op))
QUORVIX_LAZY(CairoLibrary, void, cairo_set_source_rgba, (cairo_t* cr, double red, double green, double blue, double alpha), (cr, red, green, blue, alpha))
QUORVIX_LAZY(CairoLibrary, void, cairo_set_source_surface, (cairo_t* cr, cairo_surface_t* surface, double x, double y), (cr, surface, x, y))
QUORVIX_LAZY(CairoLibrary, cairo_status_t, cairo_status, (cairo_t* cr), (cr))
QUORVIX_LAZY(CairoLibrary, void, cairo_surface_destroy, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(CairoLibrary, void, cairo_surface_flush, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(CairoLibrary, void, cairo_surface_mark_dirty, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(CairoLibrary, cairo_status_t, cairo_surface_status, (cairo_surface_t* surface), (surface))
QUORVIX_LAZY(PangoLibrary, void, pango_attr_list_insert, (PangoAttrList* list, PangoAttribute* attr), (list, attr))
QUORVIX_LAZY(PangoLibrary, PangoAttrList*, pango_attr_list_new, (), ())
QUORVIX_LAZY(PangoLibrary, void, pango_attr_list_unref, (PangoAttrList* list), (list))
QUORVIX_LAZY(PangoLibrary, PangoAttribute*, pango_attr_strikethrough_new, (gboolean strikethrough), (strikethrough))
QUORVIX_LAZY(PangoLibrary, PangoAttribute*, pango_attr_underline_new, (PangoUnderline underline), (underline))
QUORVIX_LAZY(PangoLibrary, void, pango_font_description_free, (PangoFontDescription* desc), (desc))
QUORVIX_LAZY(PangoLibrary, PangoFontDescription*, pango_font_description_new, (), ())
QUORVIX_LAZY(PangoLibrary, void, pango_font_description_set_family, (PangoFontDescription* desc, const char* family), (desc, family))
QUORVIX_LAZY(PangoLibrary, void, pango_font_description_set_size, (PangoFontDescription* desc, gint size), (desc, size))
QUORVIX_LAZY(PangoLibrary, void, pango_font_description_set_style, (PangoFontDescription* desc, PangoStyle style), (desc, style))
QUORVIX_LAZY(PangoLibrary, void, pango_font_description_set_weight, (PangoFontDescription* desc, PangoWeight weight), (desc, weight))
QUORVIX_LAZY(PangoLibrary, void, pango_layout_context_changed, (PangoLayout* layout), (layout))
QUORVIX_LAZY(PangoLibrary, PangoContext*, pango_layout_get_context, (PangoLayout* layout), (layout))
QUORVIX_LAZY(PangoLibrary, void, pango_layout_get_extents, (PangoLayout* layout, PangoRectangle* ink_rect, PangoRectangle* logical_rect), (layout, ink_rect, logical_rect))
QUORVIX_LAZY(PangoLibrary, void, pango_layout_get_pixel_extents, (PangoLayout* layout, PangoRectangle* ink_rect, PangoRectangle* logical_rect), (layout, ink_rect, logical_rect))
QUORVIX_LAZY(PangoLibrary, void, pango_layout_set_attributes, (PangoLayout* layout, PangoAttrList* attrs), (layout, attrs))
QUORVIX_LAZY(PangoLibrary, void, pango_layout_set_font_description, (PangoLayout* layout, const PangoFontDescription* desc), (layout, desc))
QUORVIX_LAZY(PangoLibrary, void, pango_layout_set_text, (PangoLayout* layout, const char* text, int length), (layout, text, length))
QUORVIX_LAZY(PangoCairoLibrary, void, pango_cairo_context_set_font_options, (PangoContext* context, const cairo_font_options_t* options), (context, options))
QUORVIX_LAZY(PangoCairoLibrary, void, pango_cairo_context_set_resolution, (PangoContext* context, double dpi), (context, dpi))
QUORVIX_LAZY(PangoCairoLibrary, PangoLayout*, pango_cairo_create_layout, (cairo_t* cr), (cr))
QUORVIX_LAZY(PangoCairoLibrary, void, pango_cairo_show_layout, (cairo_t* cr, PangoLayout* layout), (cr, layout))
QUORVIX_LAZY(PangoCairoLibrary, void, pango_cairo_update_layout, (cairo_t* cr, PangoLayout* layout), (cr, layout))
QUORVIX_LAZY(FontconfigLibrary, FcBool, FcConfigSubstitute, (FcConfig* config, FcPattern* p, FcMatchKind kind), (config, p, kind))
QUORVIX_LAZY(FontconfigLibrary, void, FcDefaultSubstitute, (FcPattern* pattern), (pattern))
QUORVIX_LAZY(FontconfigLibrary, FcPattern*, FcFontMatch, (FcConfig* config, FcPattern* p, FcResult* result), (config, p, result))
QUORVIX_LAZY(FontconfigLibrary, FcBool, FcInit, (), ())
QUORVIX_LAZY(FontconfigLibrary, FcBool, FcPatternAddString, (FcPattern* p, const char* object, const FcChar8* s), (p, object, s))
QUORVIX_LAZY(FontconfigLibrary, FcPattern*, FcPatternCreate, (), ())
QUORVIX_LAZY(FontconfigLibrary, void, FcPatternDestroy, (FcPattern* p), (p))
QUORVIX_LAZY(FontconfigLibrary, FcResult, FcPatternGetString, (const FcPattern* p, const char* object, int n, FcChar8** s), (p, object, n, s))
QUORVIX_LAZY(FontconfigLibrary, FcResult, FcPatternGetWithBinding, (const FcPattern* p, const char* object, int id, FcValue* v, FcValueBinding* b), (p, object, id, v, b))
QUORVIX_LAZY(FontconfigLibrary, int, FcStrCmpIgnoreCase, (const FcChar8* s1, const FcChar8* s2), (s1, s2))
QUORVIX_LAZY(GObjectLibrary, void, g_object_unref, (gpointer object), (object))
QUORVIX_LAZY(GLibLibrary, void, g_free, (gpointer mem), (mem))
QUORVIX_LAZY(GLibLibrary, gchar*, g_utf8_make_valid, (const gchar* str, gssize len), (str, len))
// clang-format on
