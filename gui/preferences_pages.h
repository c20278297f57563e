#pragma once

// The pages of the preferences dialog as data: every option is one row bound to a setting of the
// schema, so building, filling and storing the dialog are one loop each over these tables.

#include <span>
#include <string>
#include <string_view>
#include <vector>

/// The pages in the order of the category list.
enum PreferencesPage : int {
  PageGeneral,
  PageInterface,
  PageInput,
  PageOutput,
  PageTransform,
  PageAdjustment,
  PageFrame,
  PageWatermark,
  PageAdvanced,
  PageCount
};

enum class RowKind {
  SelectBox,
  PictureSelectBox,
  CheckBox,
  TextField,
  NumberUnitField,
  SliderSpin,
  ColourButton,
  ChooserList,
  ChooserField,
  DateTimeField,
};

/// Where a row's entries or value come from when its setting's schema row does not say it all.
enum class RowBinding {
  Schema,        // the setting's type, and its choices for a selector
  Language,      // the one entry "English"; stores "en"
  Theme,         // the installed themes by display name; stores the theme id
  InputFormat,   // the offered input keys
  OutputFormat,  // the offered output keys
  BitDepth,      // "Auto" and the format's depths; stores 0 or the depth
  DisplayOnly,   // one fixed entry, bound to no setting
  FontList,      // the names of "Fonts"; stores "Font"
  FontColours,   // the colours of "Font Colors"; stores "Font Color"
  BackColours,   // the colours of "Back Colors"; stores "Back Color"
  Offset100,     // a slider that holds the value + 100 beside a spin box of the value
  Gamma,         // a slider of hundredths beside a spin box showing two decimals
};

/// One option: its label, its kind of control and the setting it edits.
struct PreferencesRow {
  std::string_view label_key;  // group "Preferences"
  RowKind kind;
  std::string_view group;
  std::string_view key;  // empty for a display-only row
  RowBinding binding = RowBinding::Schema;
  std::string_view unit_key = {};     // a NumberUnitField whose unit is a setting of `group`
  std::string_view fixed_entry = {};  // the one entry of a fixed unit or display-only selector
  int slider_min = 0;
  int slider_max = 0;
  bool always_hidden = false;
};

/// A container of rows inside a page, below the page's own rows at y 40.
struct PanelLayout {
  std::string key;  // the format key, "solid", "text" or "image"
  std::vector<PreferencesRow> rows;
  int content_height = 0;  // of a scrolling panel; 0 for a plain one
};

struct PageLayout {
  std::string_view name_key;
  std::vector<PreferencesRow> rows;
  int content_height = 0;  // of a scrolling page; 0 for a plain one
  std::vector<PanelLayout> panels;
};

/// The nine pages in page order; the output panels follow the output format table.
const std::vector<PageLayout>& PreferencesPages();

/// The entries of a schema selector: the text keys of its choices that the window offers.
std::vector<std::string_view> SchemaEntryKeys(std::string_view group, std::string_view key);
