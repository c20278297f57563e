#include "gui/theme_pictures.h"

#include <wx/bitmap.h>
#include <wx/image.h>

#include <cstring>

#include "core/program_identity.h"
#include "gui/pictures.h"
#include "settings/program_settings.h"
#include "themes/theme_pack.h"

namespace {

std::vector<std::string> NamesOf(const IconMap& map) {
  std::vector<std::string> names;
  names.reserve(map.size());
  for (const auto& [name, slot] : map) names.push_back(name);
  return names;
}

int Install(const IconMap& map, const std::map<std::string, RgbaPicture>& pictures) {
  int installed = 0;
  for (const auto& [name, picture] : pictures) {
    if (SetIconPicture(map, name, BitmapFromRgba(picture))) ++installed;
  }
  return installed;
}

}  // namespace

wxBitmap BitmapFromRgba(const RgbaPicture& picture) {
  const auto pixel_count = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
  if (picture.width <= 0 || picture.height <= 0 || picture.pixels.size() != pixel_count * 4) {
    return wxBitmap();
  }
  wxImage image(picture.width, picture.height, false);
  image.InitAlpha();
  unsigned char* rgb = image.GetData();
  unsigned char* alpha = image.GetAlpha();
  const uint8_t* source = picture.pixels.data();
  for (size_t i = 0; i < pixel_count; ++i) {
    std::memcpy(rgb + i * 3, source + i * 4, 3);
    alpha[i] = source[i * 4 + 3];
  }
  return wxBitmap(image);
}

int LoadThemePictures(InterfaceSettings& interface, bool buttons, bool menu_pictures,
                      bool toolbar_pictures) {
  const ThemeIconNames names{NamesOf(ButtonIcons()), NamesOf(MenuIcons()), NamesOf(ToolbarIcons())};
  const ThemePictures pictures =
      LoadTheme(names, buttons, menu_pictures, toolbar_pictures, interface, g_theme_list,
                ThemeFolder(g_process.program_folder));
  return Install(ButtonIcons(), pictures.buttons) + Install(MenuIcons(), pictures.menu) +
         Install(ToolbarIcons(), pictures.toolbar);
}
