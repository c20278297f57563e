#include "core/program_identity.h"

#include <array>

std::string g_program_title;
IconMap g_button_icons;
IconMap g_menu_icons;
IconMap g_toolbar_icons;
int8_t g_quit_requested = 0;

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
void FillMap(IconMap& map, const std::array<std::string_view, N>& names, int32_t& next_slot) {
  map.clear();
  map.reserve(N);
  for (std::string_view name : names) map.emplace_back(std::string(name), next_slot++);
}

}  // namespace

std::string FormatVersion(int32_t version) {
  std::string digits = std::to_string(version);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    text.push_back(digits[i]);
    if (i == 0 || i == 1) text.push_back('.');
  }
  if (!text.empty() && text.back() == '0' && text.size() >= 2) text.resize(text.size() - 2);
  return text;
}

std::string MakerAddress(std::string_view path) {
  return "https://" + std::string(MakerHost) + std::string(path);
}

std::string BuildProgramTitle() {
  return std::string(ProductName) + " " + FormatVersion(VersionNumber);
}

int32_t IconSlot(const IconMap& map, std::string_view name) {
  for (const auto& [icon, slot] : map) {
    if (icon == name) return slot;
  }
  return -1;
}

void FillIconMaps() {
  int32_t next_slot = 0;
  FillMap(g_button_icons, ButtonIconNames, next_slot);
  FillMap(g_menu_icons, MenuIconNames, next_slot);
  FillMap(g_toolbar_icons, MenuIconNames, next_slot);
}

// The addresses are written out in full so they read as what they are; they must name one host.
static_assert(ProductWebAddress.substr(8, MakerHost.size()) == MakerHost);
static_assert(VersionFileAddress.substr(7, MakerHost.size()) == MakerHost);
static_assert(SupportAddress.ends_with(MakerHost));
