#pragma once

// The pictures of the default theme, drawn with Cairo in a loose pen-and-ink style.

#include <cairo.h>

#include <string_view>
#include <vector>

/// Every icon name that has a drawing, in the order of the menu picture map.
std::vector<std::string_view> HandDrawnIconNames();

/// Draws the picture of `name` into the square (0, 0)-(size, size) of `cr`; false when there is
/// no drawing of that name.
bool DrawHandDrawnIcon(cairo_t* cr, std::string_view name, int size);
