#pragma once

// The names of the window's pictures: every name of the button, menu and toolbar maps has an
// image slot of its own, so built-in and theme pictures can be loaded slot by slot.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Icon names with their image slots, in the order of filling.
using IconMap = std::vector<std::pair<std::string, int32_t>>;

/// The large buttons' pictures: "Convert", "InFiles", "InFolder".
const IconMap& ButtonIcons();

/// The pictures of menu items, button menus and list entries.
const IconMap& MenuIcons();

/// The toolbar's pictures: the names of MenuIcons in their order, in slots of their own.
const IconMap& ToolbarIcons();

/// The slot of `name` in `map`; -1 when the map has no such icon.
int32_t IconSlot(const IconMap& map, std::string_view name);
