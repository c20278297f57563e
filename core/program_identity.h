#pragma once

// Who the program is and the process-wide values that start-up fills before any run mode:
// the version, the title that names the single-instance lock, and the icon-name maps.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// The program's version as an integer; shown as "2.7".
inline constexpr int32_t VersionNumber = 270;

inline constexpr std::string_view ProductName = "Quorvix";

/// The product's web address, printed in the console banner and drawn into screenshots.
inline constexpr std::string_view ProductWebAddress = "https://halvane.example/quorvix/";

/// The version as text: "." after the first and the second digit, and a trailing ".0" dropped
/// (270 gives "2.7", 271 gives "2.7.1").
std::string FormatVersion(int32_t version);

/// The product name, one space and the version text ("Quorvix 2.7").
std::string BuildProgramTitle();

/// Icon names with their image slots, in the order of filling.
using IconMap = std::vector<std::pair<std::string, int32_t>>;

/// The slot of `name` in `map`; -1 when the map has no such icon.
int32_t IconSlot(const IconMap& map, std::string_view name);

/// Fills the three icon maps in their fixed order; no two entries share a slot.
void FillIconMaps();

extern std::string g_program_title;
extern IconMap g_button_icons;
extern IconMap g_menu_icons;
extern IconMap g_toolbar_icons;
/// Set to end the window run's event loop.
extern int8_t g_quit_requested;
