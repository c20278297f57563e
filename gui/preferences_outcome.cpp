#include "gui/preferences_outcome.h"

#include "engine/steps/hex_colour.h"
#include "gui/preferences_values.h"

namespace {

void KeepColours(const std::vector<std::string>& chosen, std::string& palette) {
  for (const std::string& colour : chosen) {
    if (!PaletteHasColour(palette, ParseHexColour(colour))) {
      palette = AppendListField(palette, colour);
    }
  }
}

}  // namespace

InterfaceRebuild RebuildFor(const InterfaceSettings& before, const InterfaceSettings& after) {
  if (after.ui_theme != before.ui_theme) return InterfaceRebuild::Theme;
  if (after.ui_size != before.ui_size) return InterfaceRebuild::IconSize;
  return InterfaceRebuild::Nothing;
}

void KeepChosenEntries(const ChosenListEntries& chosen, WatermarkSettings& watermark) {
  KeepColours(chosen.font_colours, watermark.font_colors);
  KeepColours(chosen.back_colours, watermark.back_colors);
  for (const std::string& font : chosen.fonts) {
    if (!ListHasField(watermark.fonts, font))
      watermark.fonts = AppendListField(watermark.fonts, font);
  }
}
