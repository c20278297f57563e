#pragma once

// The built-in pictures of the icon maps: every slot of ButtonIcons, MenuIcons and ToolbarIcons
// gets a picture that shows what its command does.

#include <string>
#include <string_view>

#include "gui/icon_maps.h"

class wxBitmap;

/// Where a built-in picture comes from: a symbolic icon of the Adwaita theme, drawn in a colour,
/// or one drawn here.
struct PictureSource {
  std::string_view name;  // icon name of the maps
  std::string_view file;  // below the theme's scalable/ folder; empty for a drawn picture
  std::string_view colour;
};

/// The source of the built-in picture of `name`; nullptr for a name without one.
const PictureSource* FindPictureSource(std::string_view name);

/// Renders every slot of the three maps: "Convert" of ButtonIcons at 64, its other names at 48,
/// MenuIcons at 16 and ToolbarIcons at `toolbar_size`. A picture whose file cannot be read is
/// drawn as a plain frame, so no control is left without one. False when any was missing.
bool LoadBuiltInPictures(int toolbar_size);

/// Renders the ToolbarIcons slots again at `size` (after a change of "UI Size").
bool LoadToolbarPictures(int size);

/// Puts `picture` into the slot of `name` in `map`; false when the map has no such name or the
/// picture is not usable (the slot then keeps its picture).
bool SetIconPicture(const IconMap& map, std::string_view name, const wxBitmap& picture);

/// The picture in the slot of `name` in `map`; an empty bitmap when the map has no such name.
const wxBitmap& IconPicture(const IconMap& map, std::string_view name);
