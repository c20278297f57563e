#include "gui/pictures.h"

#include <wx/bitmap.h>
#include <wx/bmpbndl.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace {

// The symbolic icons of adwaita-icon-theme (CC-BY-SA 3.0 or LGPL 3): one drawing per icon that
// renders sharp at any size. They come in one dark grey, which we replace by a colour per kind of
// command so that the toolbar reads at a glance.
constexpr const char* IconThemeFolder = "/usr/share/icons/Adwaita/scalable/";
constexpr std::string_view IconInk = "#2e3436";

constexpr std::array<PictureSource, 22> PictureSources = {{
    {"Convert", "actions/media-playback-start-symbolic.svg", "#26a269"},
    {"InFiles", "actions/document-open-symbolic.svg", "#1c71d8"},
    {"InFolder", "status/folder-open-symbolic.svg", "#c64600"},
    {"New", "actions/document-new-symbolic.svg", "#2e3436"},
    {"Add", "actions/document-open-symbolic.svg", "#1c71d8"},
    {"OutFolder", "status/folder-open-symbolic.svg", "#c64600"},
    {"OutFormat", "mimetypes/image-x-generic-symbolic.svg", "#613583"},
    {"FavFolder", "places/folder-symbolic.svg", "#c64600"},
    {"ImportFiles", "actions/document-open-symbolic.svg", "#1c71d8"},
    {"ExportFiles", "actions/document-save-as-symbolic.svg", "#1c71d8"},
    {"Exit", "actions/application-exit-symbolic.svg", "#c01c28"},
    {"Copy", "actions/edit-copy-symbolic.svg", "#2e3436"},
    {"Delete", "actions/edit-delete-symbolic.svg", "#c01c28"},
    {"SelectAll", "actions/edit-select-all-symbolic.svg", "#2e3436"},
    {"Error", "status/dialog-error-symbolic.svg", "#c01c28"},
    {"Preferences", "categories/preferences-system-symbolic.svg", "#5e5c64"},
    {"CustomConverter", "actions/system-search-symbolic.svg", "#1c71d8"},
    {"Help", "legacy/help-browser-symbolic.svg", "#1a5fb4"},
    {"Email", "actions/mail-message-new-symbolic.svg", "#a51d2d"},
    {"Web", "", "#1a5fb4"},
    {"Updates", "status/software-update-available-symbolic.svg", "#26a269"},
    {"About", "actions/help-about-symbolic.svg", "#1a5fb4"},
}};

// One picture per slot; the slots of the three maps never overlap.
std::vector<wxBitmap>& Slots() {
  static std::vector<wxBitmap> slots;
  return slots;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A frame of the asked size, for a picture that cannot be drawn: the control keeps its size.
wxBitmap PlainPicture(int size) {
  wxBitmap bitmap(size, size, 32);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  dc.SetPen(*wxGREY_PEN);
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.DrawRectangle(0, 0, size, size);
  return bitmap;
}

// The theme has no plain globe; the web page gets one drawn here: a circle with a meridian, the
// equator and two parallels.
wxBitmap DrawGlobe(int size, std::string_view colour) {
  wxImage image(size, size);
  image.InitAlpha();
  std::fill_n(image.GetAlpha(), size * size, 0);
  wxBitmap bitmap(image);
  wxMemoryDC dc(bitmap);
  std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(dc));
  if (!context) return bitmap;
  const double line = std::max(1.0, size / 12.0);
  const double r = size / 2.0 - line;
  const double c = size / 2.0;
  context->SetPen(wxPen(wxColour(wxString(colour.data(), colour.size())), std::lround(line)));
  context->SetBrush(*wxTRANSPARENT_BRUSH);
  context->DrawEllipse(c - r, c - r, 2 * r, 2 * r);
  context->DrawEllipse(c - r * 0.45, c - r, r * 0.9, 2 * r);
  context->StrokeLine(c - r, c, c + r, c);
  const double y = r * 0.5;
  const double x = std::sqrt(r * r - y * y);
  context->StrokeLine(c - x, c - y, c + x, c - y);
  context->StrokeLine(c - x, c + y, c + x, c + y);
  context.reset();
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

bool RenderPicture(std::string_view name, int size, wxBitmap& picture) {
  const PictureSource* source = FindPictureSource(name);
  if (source && source->file.empty()) {
    picture = DrawGlobe(size, source->colour);
    return picture.IsOk();
  }
  std::string svg = source ? ReadFile(IconThemeFolder + std::string(source->file)) : "";
  if (svg.empty()) {
    picture = PlainPicture(size);
    return false;
  }
  for (size_t at = svg.find(IconInk); at != std::string::npos;
       at = svg.find(IconInk, at + source->colour.size())) {
    svg.replace(at, IconInk.size(), source->colour);
  }
  const wxBitmapBundle bundle = wxBitmapBundle::FromSVG(svg.data(), wxSize(size, size));
  picture = bundle.IsOk() ? bundle.GetBitmap(wxSize(size, size)) : wxBitmap();
  if (!picture.IsOk()) {
    picture = PlainPicture(size);
    return false;
  }
  return true;
}

bool RenderMap(const IconMap& map, int size) {
  bool all = true;
  for (const auto& [name, slot] : map) {
    if (slot < 0) continue;
    if (static_cast<size_t>(slot) >= Slots().size()) Slots().resize(slot + 1);
    // The big button's main picture is larger than the other buttons'.
    const int picture_size = (&map == &ButtonIcons() && name == "Convert") ? 64 : size;
    all = RenderPicture(name, picture_size, Slots()[slot]) && all;
  }
  return all;
}

}  // namespace

const PictureSource* FindPictureSource(std::string_view name) {
  for (const PictureSource& source : PictureSources) {
    if (source.name == name) return &source;
  }
  return nullptr;
}

bool LoadBuiltInPictures(int toolbar_size) {
  bool all = RenderMap(ButtonIcons(), 48);
  all = RenderMap(MenuIcons(), 16) && all;
  return RenderMap(ToolbarIcons(), toolbar_size) && all;
}

bool LoadToolbarPictures(int size) { return RenderMap(ToolbarIcons(), size); }

bool SetIconPicture(const IconMap& map, std::string_view name, const wxBitmap& picture) {
  const int32_t slot = IconSlot(map, name);
  if (slot < 0 || !picture.IsOk()) return false;
  if (static_cast<size_t>(slot) >= Slots().size()) Slots().resize(slot + 1);
  Slots()[slot] = picture;
  return true;
}

const wxBitmap& IconPicture(const IconMap& map, std::string_view name) {
  static const wxBitmap none;
  const int32_t slot = IconSlot(map, name);
  if (slot < 0 || static_cast<size_t>(slot) >= Slots().size()) return none;
  return Slots()[slot];
}
