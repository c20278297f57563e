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

/// The maker's web server: it serves the version file, the product page and the converter search
/// and uninstall pages.
inline constexpr std::string_view MakerHost = "halvane.example";

/// Where "Send Feedback" and the About window's mail link write to.
inline constexpr std::string_view SupportAddress = "support@halvane.example";

/// The product page: printed in the console banner, drawn into screenshots, opened by "Visit the
/// Program's Homepage", the About window and an accepted update.
inline constexpr std::string_view ProductWebAddress = "https://halvane.example/tarnex/";

/// The version file that the update check fetches; plain HTTP, because the check speaks HTTP/1.0
/// over a bare TCP connection.
inline constexpr std::string_view VersionFileAddress = "http://halvane.example/files/tarnex.dat";

/// "https://", MakerHost and `path` (which starts with "/"), e.g. the converter search page.
std::string MakerAddress(std::string_view path);

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
