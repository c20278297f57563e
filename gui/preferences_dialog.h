#pragma once

// The preferences dialog: a category list, a page header and nine pages of rows built from the
// row tables of preferences_pages.h. Filling and storing walk the same tables; only the
// behaviours that link controls to each other are written out, one named function each.

#include <wx/dialog.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gui/commands.h"
#include "gui/preferences_outcome.h"
#include "gui/preferences_pages.h"
#include "settings/program_settings.h"

class wxBitmap;
class wxBitmapButton;
class wxButton;
class wxCheckBox;
class wxChoice;
class wxDatePickerCtrl;
class wxListBox;
class wxPanel;
class wxSlider;
class wxSpinCtrl;
class wxSpinCtrlDouble;
class wxStaticText;
class wxTextCtrl;
class wxTimePickerCtrl;
class wxWindow;
class WindowServices;

/// Ids of the dialog's fixed controls; rows take ids from FirstRowId up, RowIdStride each.
enum PreferencesControl : int {
  CategoryListId = 100,
  DefaultsButtonId,
  OkButtonId,
  CancelButtonId,
  FirstRowId = 200,
  RowIdStride = 4,
};

/// The controls of one row; the pointers a kind does not use stay null.
struct RowControls {
  const PreferencesRow* row = nullptr;
  int page = 0;
  std::string panel;  // the panel key, empty for a page's own rows
  wxStaticText* label = nullptr;
  wxChoice* choice = nullptr;  // any selector, a picture one included
  wxCheckBox* check = nullptr;
  wxTextCtrl* text = nullptr;  // text, number, hex or chooser field
  wxChoice* unit = nullptr;
  wxSlider* slider = nullptr;
  wxSpinCtrl* spin = nullptr;
  wxSpinCtrlDouble* gamma_spin = nullptr;
  wxButton* button = nullptr;  // "..." or the colour swatch button
  wxDatePickerCtrl* date = nullptr;
  wxTimePickerCtrl* time = nullptr;
  // What the selector's entries stand for: format positions, colours, font style flags.
  std::vector<uint32_t> entry_values;
  std::vector<std::string> entry_ids;  // theme ids

  /// Every window of the row, its label first.
  std::vector<wxWindow*> Windows() const;
};

class PreferencesDialog : public wxDialog {
 public:
  /// Builds the dialog hidden, owned by `owner`, over a copy of `settings`; `services` shows its
  /// question and choosers. `closed` runs once when the dialog closes, with what it hands back.
  PreferencesDialog(wxWindow* owner, const ProgramSettings& settings, WindowServices& services,
                    std::function<void(PreferencesOutcome)> closed = {});

  /// Puts every setting into its control, applies the rules and shows `start_page`.
  void FillPreferences(int start_page);

  /// Stores every control into the copy and closes, handing the copy back ("OK").
  void StorePreferences();

  /// Asks (No is the default), then puts every default into the controls; nothing is kept
  /// before OK ("Defaults").
  void ResetPreferences();

  /// Closes handing back the copy when `accepted`, else only the choosers' list entries, and
  /// destroys the dialog.
  void ClosePreferences(bool accepted = false);

  /// The settings as the dialog edits them.
  const ProgramSettings& EditedSettings() const { return settings_; }

  /// Shows `page` with its title and hides the others.
  void ShowPage(int page);

  /// The row bound to `key` of `group`; nullptr when there is none (or the row is display only).
  RowControls* FindRow(std::string_view group, std::string_view key);
  /// The row of `label_key` on `page` (inside `panel` when given); nullptr when there is none.
  RowControls* FindRowByLabel(int page, std::string_view label_key, std::string_view panel = {});

  std::vector<RowControls>& Rows() { return rows_; }
  wxListBox* CategoryList() const { return category_list_; }
  wxStaticText* PageTitle() const { return page_title_; }
  wxWindow* PageContainer(int page) const { return pages_[page]; }
  /// The option panel of `key` on `page`; nullptr when there is none.
  wxWindow* Panel(int page, std::string_view key) const;
  int CurrentPage() const { return current_page_; }

  /// Handles one control event by its id; the single entry point while the dialog is open.
  void HandlePreferencesEvent(wxCommandEvent& event);

 private:
  void BuildRows(wxWindow* parent, int page, const std::string& panel,
                 const std::vector<PreferencesRow>& rows);
  void BuildRow(wxWindow* parent, RowControls& controls, int y, int id);
  // Gives the buttons' and the rows' labels letters of their own on every page; `taken` are the
  // buttons'.
  void MarkRowLabels(const std::string& taken);
  // Makes room for a font larger than the default: a wider label column, taller rows.
  void FollowFont(wxWindow* root, wxWindow* header);
  void FillRows();
  void FillRow(RowControls& controls);
  void StoreRow(RowControls& controls);
  void FillSelector(RowControls& controls);
  void FillFontList(RowControls& controls);
  void FillColourList(RowControls& controls, const std::string& palette,
                      const std::string& selected);
  void ShowColour(RowControls& controls, uint32_t colour);

  // The linked behaviours.
  void ApplyRawRule();
  void ApplyRotationRule();
  void ApplyResizeRule();
  void ApplyThresholdRule();
  void ApplyFrameRule();
  void ApplyWatermarkRule();
  void ApplyTextScaleRule();
  void ApplyImageScaleRule();
  void ApplyTimestampRule();
  void ShowFormatPanel(int page, const RowControls& selector);
  void ApplyRules();
  void OnSlider(RowControls& controls);
  void OnSpinText(RowControls& controls);
  void OnGammaText(bool commit);
  void ChooseButtonColour(RowControls& controls);
  void ChoosePaletteColour(RowControls& controls);
  void ChooseFont();
  void ChooseWatermarkImage();
  void StoreTheme(const RowControls& controls);
  void StoreColourCorrection();

  void OnClose(wxCloseEvent& event);
  void OnCharHook(wxKeyEvent& event);

  ProgramSettings settings_;
  WindowServices& services_;
  ChosenListEntries chosen_;
  std::vector<RowControls> rows_;
  std::array<wxWindow*, PageCount> pages_{};
  std::vector<std::pair<int, std::pair<std::string, wxWindow*>>> panels_;
  wxListBox* category_list_ = nullptr;
  wxStaticText* page_title_ = nullptr;
  int current_page_ = 0;
  bool closing_ = false;
  std::function<void(PreferencesOutcome)> closed_;
};

/// A `width` by `height` picture filled with `colour` (red | green << 8 | blue << 16).
wxBitmap ColourSwatch(uint32_t colour, int width, int height);

/// The entry text of a colour list: the colour's name, or "Color #RRGGBB".
wxString ColourEntryName(uint32_t colour);
