#pragma once

// Who the program is: the version, the title that names the single-instance lock, and the
// maker's addresses.

#include <cstdint>
#include <string>
#include <string_view>

/// Exit status of a run that asked for the window and got none (no display, no window program);
/// both programs end with it.
inline constexpr int ExitNoWindow = 4;

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
