#pragma once

// What the preferences dialog hands back when it closes, and what the main window makes of it.
// No widget: the dialog edits a copy of the settings, the window decides what to keep.

#include <optional>
#include <string>
#include <vector>

#include "settings/program_settings.h"

/// What accepted preferences ask the window to build again.
enum class InterfaceRebuild {
  Nothing,
  Theme,     // every picture, the menus and the toolbars
  IconSize,  // only the main toolbar's pictures and the toolbar
};

/// Entries the choosers added to the watermark's lists, in the order chosen. A colour or font
/// once chosen stays offered, whichever button closes the dialog.
struct ChosenListEntries {
  std::vector<std::string> font_colours;  // RRGGBB
  std::vector<std::string> back_colours;  // RRGGBB
  std::vector<std::string> fonts;
};

struct PreferencesOutcome {
  /// The edited settings when OK closed the dialog; nothing for Cancel, Escape or the close box.
  std::optional<ProgramSettings> accepted;
  ChosenListEntries chosen;
};

/// What must be built again when the interface settings go from `before` to `after`: every
/// picture for another theme, only the main toolbar for another size alone.
InterfaceRebuild RebuildFor(const InterfaceSettings& before, const InterfaceSettings& after);

/// Appends to the lists of `watermark` each chosen entry they do not hold yet.
void KeepChosenEntries(const ChosenListEntries& chosen, WatermarkSettings& watermark);
