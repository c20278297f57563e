#include "gui/gtk_calls.h"

#include <cairo.h>
#include <dlfcn.h>
#include <wx/window.h>

namespace {

template <typename Function>
Function Find(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

bool ShowMenuPictures() {
  const auto settings_of = Find<void* (*)()>("gtk_settings_get_default");
  const auto set = Find<void (*)(void*, const char*, ...)>("g_object_set");
  if (!settings_of || !set) return false;
  void* settings = settings_of();
  if (!settings) return false;
  set(settings, "gtk-menu-images", 1, "gtk-button-images", 1, nullptr);
  return true;
}

bool SaveWindowPicture(wxWindow* window, const std::string& path) {
  const auto draw = Find<void (*)(void*, cairo_t*)>("gtk_widget_draw");
  const auto width_of = Find<int (*)(void*)>("gtk_widget_get_allocated_width");
  const auto height_of = Find<int (*)(void*)>("gtk_widget_get_allocated_height");
  const auto surface_create =
      Find<decltype(&cairo_image_surface_create)>("cairo_image_surface_create");
  const auto create = Find<decltype(&cairo_create)>("cairo_create");
  const auto destroy = Find<decltype(&cairo_destroy)>("cairo_destroy");
  const auto write = Find<decltype(&cairo_surface_write_to_png)>("cairo_surface_write_to_png");
  const auto surface_destroy = Find<decltype(&cairo_surface_destroy)>("cairo_surface_destroy");
  if (!draw || !width_of || !height_of || !surface_create || !create || !destroy || !write ||
      !surface_destroy || !window) {
    return false;
  }
  void* widget = window->GetHandle();
  if (!widget) return false;
  const int width = width_of(widget);
  const int height = height_of(widget);
  if (width <= 0 || height <= 0) return false;
  cairo_surface_t* surface = surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* context = create(surface);
  draw(widget, context);
  destroy(context);
  const bool written = write(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  surface_destroy(surface);
  return written;
}

bool SaveScreenPicture(int x, int y, int width, int height, const std::string& path) {
  const auto root_of = Find<void* (*)()>("gdk_get_default_root_window");
  const auto grab = Find<void* (*)(void*, int, int, int, int)>("gdk_pixbuf_get_from_window");
  const auto save = Find<int (*)(void*, const char*, const char*, void**, ...)>("gdk_pixbuf_save");
  const auto unref = Find<void (*)(void*)>("g_object_unref");
  if (!root_of || !grab || !save || !unref || width <= 0 || height <= 0) return false;
  void* root = root_of();
  if (!root) return false;
  void* pixels = grab(root, x, y, width, height);
  if (!pixels) return false;
  const bool saved = save(pixels, path.c_str(), "png", nullptr, nullptr) != 0;
  unref(pixels);
  return saved;
}

bool UseCompactControls(wxWindow* window) {
  const auto set_name = Find<void (*)(void*, const char*)>("gtk_widget_set_name");
  const auto provider_new = Find<void* (*)()>("gtk_css_provider_new");
  const auto load =
      Find<int (*)(void*, const char*, long, void**)>("gtk_css_provider_load_from_data");
  const auto screen_of = Find<void* (*)()>("gdk_screen_get_default");
  const auto add =
      Find<void (*)(void*, void*, unsigned)>("gtk_style_context_add_provider_for_screen");
  if (!set_name || !provider_new || !load || !screen_of || !add || !window) return false;
  static bool installed = false;
  if (!installed) {
    // Only windows named "quorvix-compact" are touched; the rest of the program keeps its theme.
    static constexpr char Css[] =
        "#quorvix-compact entry, #quorvix-compact spinbutton {"
        " min-height: 0; padding-top: 0; padding-bottom: 0; }"
        "#quorvix-compact spinbutton entry { min-width: 0; padding-left: 3px; padding-right: 0; }"
        "#quorvix-compact spinbutton button { min-height: 0; min-width: 10px; padding: 0 1px; }"
        "#quorvix-compact combobox button, #quorvix-compact button {"
        " min-height: 0; padding-top: 0; padding-bottom: 0; }"
        "#quorvix-compact combobox button { padding-left: 4px; padding-right: 4px; }"
        "#quorvix-compact scale { min-height: 0; padding-top: 0; padding-bottom: 0; }"
        "#quorvix-compact checkbutton { min-height: 0; padding-top: 0; padding-bottom: 0; }";
    void* provider = provider_new();
    if (!provider || !screen_of()) return false;
    load(provider, Css, -1, nullptr);
    // GTK_STYLE_PROVIDER_PRIORITY_APPLICATION
    add(screen_of(), provider, 600);
    installed = true;
  }
  set_name(window->GetHandle(), "quorvix-compact");
  return true;
}

bool GrabScreenRgb(int x, int y, int width, int height, std::vector<uint8_t>& rgb) {
  const auto root_of = Find<void* (*)()>("gdk_get_default_root_window");
  const auto grab = Find<void* (*)(void*, int, int, int, int)>("gdk_pixbuf_get_from_window");
  const auto pixels_of = Find<const uint8_t* (*)(void*)>("gdk_pixbuf_read_pixels");
  const auto stride_of = Find<int (*)(void*)>("gdk_pixbuf_get_rowstride");
  const auto channels_of = Find<int (*)(void*)>("gdk_pixbuf_get_n_channels");
  const auto width_of = Find<int (*)(void*)>("gdk_pixbuf_get_width");
  const auto height_of = Find<int (*)(void*)>("gdk_pixbuf_get_height");
  const auto unref = Find<void (*)(void*)>("g_object_unref");
  if (!root_of || !grab || !pixels_of || !stride_of || !channels_of || !width_of || !height_of ||
      !unref || width <= 0 || height <= 0) {
    return false;
  }
  void* root = root_of();
  if (!root) return false;
  void* picture = grab(root, x, y, width, height);
  if (!picture) return false;
  const uint8_t* pixels = pixels_of(picture);
  const int stride = stride_of(picture);
  const int channels = channels_of(picture);
  const bool usable = pixels && channels >= 3 && width_of(picture) == width &&
                      height_of(picture) == height && stride >= width * channels;
  if (usable) {
    rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row) {
      const uint8_t* from = pixels + static_cast<size_t>(row) * stride;
      uint8_t* to = rgb.data() + static_cast<size_t>(row) * width * 3;
      for (int column = 0; column < width; ++column) {
        to[column * 3] = from[column * channels];
        to[column * 3 + 1] = from[column * channels + 1];
        to[column * 3 + 2] = from[column * channels + 2];
      }
    }
  }
  unref(picture);
  return usable;
}

bool SetTakesInput(wxWindow* window, bool takes_input) {
  const auto set_sensitive = Find<void (*)(void*, int)>("gtk_widget_set_sensitive");
  if (!set_sensitive || !window || !window->GetHandle()) return false;
  set_sensitive(window->GetHandle(), takes_input ? 1 : 0);
  return true;
}

bool TakesInput(wxWindow* window) {
  const auto is_sensitive = Find<int (*)(void*)>("gtk_widget_is_sensitive");
  if (!is_sensitive || !window || !window->GetHandle()) return false;
  return is_sensitive(window->GetHandle()) != 0;
}

namespace {

// The widgets of a control that a screen reader meets: the outer one and, where wx wraps it
// (a multi-line text in a scrolled window), the one that takes the keys.
std::vector<void*> AccessibleWidgets(wxWindow* window) {
  std::vector<void*> widgets;
  if (!window) return widgets;
  if (void* outer = window->GetHandle()) widgets.push_back(outer);
  void* inner = window->GetConnectWidget();
  if (inner && (widgets.empty() || inner != widgets.front())) widgets.push_back(inner);
  return widgets;
}

}  // namespace

bool SetAccessibleName(wxWindow* window, const std::string& name) {
  const auto accessible_of = Find<void* (*)(void*)>("gtk_widget_get_accessible");
  const auto set_name = Find<void (*)(void*, const char*)>("atk_object_set_name");
  if (!accessible_of || !set_name) return false;
  const std::vector<void*> widgets = AccessibleWidgets(window);
  for (void* widget : widgets) {
    if (void* accessible = accessible_of(widget)) set_name(accessible, name.c_str());
  }
  return !widgets.empty();
}

std::string AccessibleName(wxWindow* window) {
  const auto accessible_of = Find<void* (*)(void*)>("gtk_widget_get_accessible");
  const auto get_name = Find<const char* (*)(void*)>("atk_object_get_name");
  if (!accessible_of || !get_name) return {};
  const std::vector<void*> widgets = AccessibleWidgets(window);
  // The widget that takes the keys is the one a screen reader announces on focus.
  for (auto widget = widgets.rbegin(); widget != widgets.rend(); ++widget) {
    void* accessible = accessible_of(*widget);
    const char* name = accessible ? get_name(accessible) : nullptr;
    if (name && *name) return name;
  }
  return {};
}

bool SetTextWidthInCharacters(wxWindow* window, int characters) {
  const auto set_width = Find<void (*)(void*, int)>("gtk_entry_set_width_chars");
  if (!set_width || !window || !window->GetHandle()) return false;
  set_width(window->GetHandle(), characters);
  window->InvalidateBestSize();
  return true;
}

bool SetMnemonicTarget(wxWindow* label, wxWindow* target) {
  const auto set_target = Find<void (*)(void*, void*)>("gtk_label_set_mnemonic_widget");
  if (!set_target || !label || !label->GetHandle() || !target) return false;
  void* widget = target->GetConnectWidget();
  if (!widget) widget = target->GetHandle();
  if (!widget) return false;
  set_target(label->GetHandle(), widget);
  return true;
}

namespace {

// GLib's list cell, laid out as GLib declares it.
struct ListCell {
  void* data;
  ListCell* next;
  ListCell* prev;
};

// The first widget at or below `widget` that can take the focus, depth first; nullptr when none.
void* FirstFocusable(void* widget, int depth = 0) {
  const auto can_focus = Find<int (*)(void*)>("gtk_widget_get_can_focus");
  const auto is_container = Find<unsigned long (*)()>("gtk_container_get_type");
  const auto type_check = Find<int (*)(void*, unsigned long)>("g_type_check_instance_is_a");
  const auto children_of = Find<ListCell* (*)(void*)>("gtk_container_get_children");
  const auto free_list = Find<void (*)(void*)>("g_list_free");
  if (!can_focus || !is_container || !type_check || !children_of || !free_list || depth > 8) {
    return nullptr;
  }
  if (can_focus(widget)) return widget;
  const unsigned long container_type = is_container();
  if (!type_check(widget, container_type)) return nullptr;
  ListCell* children = children_of(widget);
  void* found = nullptr;
  for (ListCell* cell = children; cell && !found; cell = cell->next) {
    found = FirstFocusable(cell->data, depth + 1);
  }
  free_list(children);
  return found;
}

}  // namespace

bool FocusInside(wxWindow* window) {
  const auto grab = Find<void (*)(void*)>("gtk_widget_grab_focus");
  if (!grab || !window || !window->GetHandle()) return false;
  void* target = FirstFocusable(window->GetHandle());
  if (!target) return false;
  grab(target);
  return true;
}

bool HoldsFocus(wxWindow* window) {
  const auto toplevel_of = Find<void* (*)(void*)>("gtk_widget_get_toplevel");
  const auto focus_of = Find<void* (*)(void*)>("gtk_window_get_focus");
  const auto is_ancestor = Find<int (*)(void*, void*)>("gtk_widget_is_ancestor");
  if (!toplevel_of || !focus_of || !is_ancestor || !window || !window->GetHandle()) return false;
  void* widget = window->GetHandle();
  void* focus = focus_of(toplevel_of(widget));
  return focus && (focus == widget || is_ancestor(focus, widget) != 0);
}
