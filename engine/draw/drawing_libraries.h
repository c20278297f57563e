#pragma once

// The drawing libraries (Cairo, Pango, fontconfig, GLib) are opened on the first drawing, not at
// start-up: a conversion without a frame or watermark, most of them, never pays for loading them.
// The drawing code calls them through one table of function pointers, filled by dlsym once. No
// function of these libraries is defined by the program itself, so a process that also links them
// (the window interface links GTK, which links Cairo) has one copy of each name.

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <glib-object.h>
#include <pango/pangocairo.h>

// clang-format off
#define QUORVIX_DRAWING_FUNCTIONS(X) \
  X(Cairo, cairo_close_path) \
  X(Cairo, cairo_create) \
  X(Cairo, cairo_curve_to) \
  X(Cairo, cairo_destroy) \
  X(Cairo, cairo_fill) \
  X(Cairo, cairo_font_options_create) \
  X(Cairo, cairo_font_options_destroy) \
  X(Cairo, cairo_font_options_set_antialias) \
  X(Cairo, cairo_image_surface_create) \
  X(Cairo, cairo_image_surface_get_data) \
  X(Cairo, cairo_image_surface_get_height) \
  X(Cairo, cairo_image_surface_get_stride) \
  X(Cairo, cairo_image_surface_get_width) \
  X(Cairo, cairo_line_to) \
  X(Cairo, cairo_move_to) \
  X(Cairo, cairo_new_path) \
  X(Cairo, cairo_paint_with_alpha) \
  X(Cairo, cairo_rectangle) \
  X(Cairo, cairo_restore) \
  X(Cairo, cairo_save) \
  X(Cairo, cairo_set_antialias) \
  X(Cairo, cairo_set_dash) \
  X(Cairo, cairo_set_fill_rule) \
  X(Cairo, cairo_set_line_cap) \
  X(Cairo, cairo_set_line_join) \
  X(Cairo, cairo_set_line_width) \
  X(Cairo, cairo_set_miter_limit) \
  X(Cairo, cairo_set_operator) \
  X(Cairo, cairo_set_source_rgba) \
  X(Cairo, cairo_set_source_surface) \
  X(Cairo, cairo_status) \
  X(Cairo, cairo_stroke) \
  X(Cairo, cairo_surface_destroy) \
  X(Cairo, cairo_surface_flush) \
  X(Cairo, cairo_surface_mark_dirty) \
  X(Cairo, cairo_surface_status) \
  X(Pango, pango_attr_list_insert) \
  X(Pango, pango_attr_list_new) \
  X(Pango, pango_attr_list_unref) \
  X(Pango, pango_attr_strikethrough_new) \
  X(Pango, pango_attr_underline_new) \
  X(Pango, pango_font_description_free) \
  X(Pango, pango_font_description_new) \
  X(Pango, pango_font_description_set_family) \
  X(Pango, pango_font_description_set_size) \
  X(Pango, pango_font_description_set_style) \
  X(Pango, pango_font_description_set_weight) \
  X(Pango, pango_layout_context_changed) \
  X(Pango, pango_layout_get_context) \
  X(Pango, pango_layout_get_extents) \
  X(Pango, pango_layout_get_pixel_extents) \
  X(Pango, pango_layout_set_attributes) \
  X(Pango, pango_layout_set_font_description) \
  X(Pango, pango_layout_set_text) \
  X(PangoCairo, pango_cairo_context_set_font_options) \
  X(PangoCairo, pango_cairo_context_set_resolution) \
  X(PangoCairo, pango_cairo_create_layout) \
  X(PangoCairo, pango_cairo_show_layout) \
  X(PangoCairo, pango_cairo_update_layout) \
  X(Fontconfig, FcConfigSubstitute) \
  X(Fontconfig, FcDefaultSubstitute) \
  X(Fontconfig, FcFontMatch) \
  X(Fontconfig, FcInit) \
  X(Fontconfig, FcPatternAddString) \
  X(Fontconfig, FcPatternCreate) \
  X(Fontconfig, FcPatternDestroy) \
  X(Fontconfig, FcPatternGetString) \
  X(Fontconfig, FcPatternGetWithBinding) \
  X(Fontconfig, FcStrCmpIgnoreCase) \
  X(GObject, g_object_unref) \
  X(GLib, g_free) \
  X(GLib, g_utf8_make_valid)
// clang-format on

/// Pointers to the drawing libraries' functions, each named after the function it reaches.
struct DrawingFunctions {
#define QUORVIX_DRAWING_MEMBER(library, name) decltype(&::name) name = nullptr;
  QUORVIX_DRAWING_FUNCTIONS(QUORVIX_DRAWING_MEMBER)
#undef QUORVIX_DRAWING_MEMBER
};

/// True when Cairo, Pango, fontconfig and GLib could be opened and every function of the table
/// found (on the first call); every drawing starts by asking, and fails cleanly without them.
bool DrawingLibrariesAvailable();

/// True when Cairo alone could be opened and its functions found: enough for paths, without the
/// text libraries (the decoder process draws vector masks with it).
bool CairoAvailable();

/// The filled table. Only valid once DrawingLibrariesAvailable (or, for Cairo's functions alone,
/// CairoAvailable) said yes; the owners of drawn objects (surfaces, layouts) exist only then, so
/// their release may use it too.
const DrawingFunctions& Draw();
