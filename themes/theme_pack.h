#pragma once

// Icon themes: zip packs in the "gfx/" folder beside the program. A pack holds "theme.cfg" (CR LF
// lines: sections "Theme", "Buttons", "Icons" of "Key = Value" lines) and PNG pictures under the
// names it gives. Entries are unpacked into memory only, never onto the disk, and the pictures are
// handed over decoded; the window turns them into its own bitmaps.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct InterfaceSettings;

/// An entry larger than this is skipped, whatever its header claims.
inline constexpr std::size_t MaxThemeEntryBytes = 4u << 20;
/// A picture wider or higher than this is skipped before it is decoded.
inline constexpr uint32_t MaxThemePictureSide = 256;
/// Bytes of "theme.cfg" that the scan reads for the display name.
inline constexpr std::size_t ThemeNameBytes = 255;
/// Entries of a pack (of any kind) beyond this many are not looked at.
inline constexpr std::size_t MaxThemeEntries = 4096;
/// The description's entry name.
inline constexpr std::string_view ThemeConfigEntry = "theme.cfg";

/// A decoded picture: straight (not premultiplied) R, G, B, A bytes, top row first.
struct RgbaPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};

/// The installed themes: id (file name without ".zip") to display name.
struct ThemeList {
  std::map<std::string, std::string> names;
  /// The id the scan stored last (ids are scanned in byte order); empty when none was found.
  std::string last_scanned;
};

/// The themes found by the last ScanThemes().
extern ThemeList g_theme_list;

/// The icon names of the three picture maps, each in its map's order.
struct ThemeIconNames {
  std::vector<std::string> buttons;
  std::vector<std::string> menu;
  std::vector<std::string> toolbar;
};

/// Decoded pictures by icon name. A name that is absent keeps the picture it had: the theme does
/// not name it, or its entry is missing, empty, oversized or not a decodable PNG.
struct ThemePictures {
  std::map<std::string, RgbaPicture> buttons;
  std::map<std::string, RgbaPicture> menu;
  std::map<std::string, RgbaPicture> toolbar;
};

/// Which maps to load, and the size asked for toolbar pictures (buttons and menus ask for 16).
struct ThemeRequest {
  bool buttons = false;
  bool menu_pictures = false;
  bool toolbar_pictures = false;
  int32_t toolbar_size = 16;
};

/// The folder of theme packs below `program_folder` (which ends in "/").
std::string ThemeFolder(const std::string& program_folder);

/// The path of theme `id`'s pack in `theme_folder`.
std::string ThemePackPath(const std::string& theme_folder, std::string_view id);

/// The pixel size of a "UI Size": 0 to 4 give 16, 24, 32, 48, 64; any other value 16.
int32_t ThemePictureSize(int32_t ui_size);

/// The value of `key` in `[section]` of a description (case ignored); "" when absent. The key is
/// matched at a line start, so a longer key that begins with it and comes first answers for it.
std::string GetThemeValue(std::string_view text, std::string_view section, std::string_view key);

/// The entry that holds a picture value at `size`: a value containing ".png" (any case) as it
/// stands, any other followed by "_", the size and ".png".
std::string ThemeEntryName(std::string_view value, int32_t size);

/// Lists the "*.zip" packs of `theme_folder` with their display names; empty when the folder
/// cannot be listed.
ThemeList ScanThemes(const std::string& theme_folder);

/// Fills g_theme_list from the program's theme folder.
void ScanThemes();

/// The "Name" of section "Theme" within the first ThemeNameBytes of the pack's "theme.cfg"; ""
/// when the pack is missing, empty or unreadable.
std::string ReadThemeName(const std::string& theme_folder, std::string_view id);

/// Decodes a PNG into RGBA; nullopt when it is damaged, empty, larger than MaxThemePictureSide or
/// its image data inflates to more than its size needs.
std::optional<RgbaPicture> DecodeThemePicture(std::span<const uint8_t> png);

/// The pictures that the pack at `pack_path` supplies for `names`; empty maps when it cannot be
/// opened.
ThemePictures ReadThemePictures(const std::string& pack_path, const ThemeIconNames& names,
                                const ThemeRequest& request);

/// The same for a pack held in memory.
ThemePictures ReadThemePictures(std::span<const uint8_t> pack, const ThemeIconNames& names,
                                const ThemeRequest& request);

/// The pictures of the "UI Theme" pack for the maps whose flag is set, toolbar pictures at the
/// "UI Size" pixel size. When that pack is gone, "UI Theme" becomes the theme scanned last.
ThemePictures LoadTheme(const ThemeIconNames& names, bool buttons, bool menu_pictures,
                        bool toolbar_pictures, InterfaceSettings& interface,
                        const ThemeList& themes, const std::string& theme_folder);
