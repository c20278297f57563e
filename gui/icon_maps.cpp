#include "gui/icon_maps.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 3> ButtonIconNames = {"Convert", "InFiles", "InFolder"};

// The menus and the toolbar show the same pictures, each map in slots of its own.
constexpr std::array<std::string_view, 22> MenuIconNames = {"New",
                                                            "Add",
                                                            "InFiles",
                                                            "InFolder",
                                                            "OutFolder",
                                                            "OutFormat",
                                                            "FavFolder",
                                                            "ImportFiles",
                                                            "ExportFiles",
                                                            "Exit",
                                                            "Copy",
                                                            "Delete",
                                                            "SelectAll",
                                                            "Convert",
                                                            "Error",
                                                            "Preferences",
                                                            "CustomConverter",
                                                            "Help",
                                                            "Email",
                                                            "Web",
                                                            "Updates",
                                                            "About"};

template <size_t N>
IconMap MakeMap(const std::array<std::string_view, N>& names, int32_t first_slot) {
  IconMap map;
  map.reserve(N);
  for (std::string_view name : names) map.emplace_back(std::string(name), first_slot++);
  return map;
}

}  // namespace

// The maps are fixed tables: the buttons' slots first, then the menu's, then the toolbar's.
const IconMap& ButtonIcons() {
  static const IconMap map = MakeMap(ButtonIconNames, 0);
  return map;
}

const IconMap& MenuIcons() {
  static const IconMap map = MakeMap(MenuIconNames, ButtonIconNames.size());
  return map;
}

const IconMap& ToolbarIcons() {
  static const IconMap map = MakeMap(MenuIconNames, ButtonIconNames.size() + MenuIconNames.size());
  return map;
}

int32_t IconSlot(const IconMap& map, std::string_view name) {
  for (const auto& [icon, slot] : map) {
    if (icon == name) return slot;
  }
  return -1;
}
