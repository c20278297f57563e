#pragma once

// The main window: the input field, the output-folder and output-format boxes, the Convert
// button, the menu bar, toolbars, status bar and notice line.

#include <wx/frame.h>

#include <array>
#include <string>
#include <vector>

#include "gui/preferences_outcome.h"

class wxBitmapButton;
class wxBitmapComboBox;
class wxPanel;
class wxStaticText;
class wxTextCtrl;
class wxToolBar;
class WindowSession;
class AboutWindow;
class ConverterSearchWindow;
class PreferencesDialog;
class ProgressWindow;

/// Control ids of the main window; command ids (0..24) stay clear of them.
enum MainWindowControl : int {
  InputFieldId = 100,
  OutputFolderBoxId,
  OutputFormatBoxId,
  ConvertButtonId,
};

class MainWindow : public wxFrame {
 public:
  /// The least inner width; the inner height never changes.
  static constexpr int MinimumWidth = 510;
  static constexpr int FixedHeight = 260;

  /// Builds the window, invisible, at the place and inner size of the "Window" settings, with its
  /// menus, toolbars, controls, status bar, notice line, accelerators and file drop. `session`
  /// holds the state the window shows and outlives it.
  explicit MainWindow(WindowSession& session);
  ~MainWindow() override;

  /// Fills the formats and boxes, performs the window part of "New", shows the window and lays
  /// it out once.
  void Finish();

  /// Places the controls for the current inner width.
  void LayoutControls();

  /// Refills the output-folder box from the history; an empty history leaves the box as it is.
  void FillOutputFolderBox();

  /// The window part of "New": history refilled, job reset, input field and folder box emptied.
  void StartNewJob();

  /// Offers `path` as the input file (a drop, the chooser): when the session accepts it, shows it,
  /// and shows its folder as output folder while none is shown. False when it was not accepted.
  bool OfferInputFile(const std::string& path) { return OfferInputs({path}); }
  /// Offers the files and folders of one drop or pick in place of the inputs shown: when the
  /// session takes any, the field shows their summary (the full list in its tooltip), and the
  /// first one's folder becomes the output folder while none is shown. False when none was taken.
  bool OfferInputs(const std::vector<std::string>& paths);

  /// Shows the input-file chooser; true when a chosen file was accepted as input.
  bool ChooseInputFile();
  /// Shows the input-folder chooser; true when the chosen folder was taken.
  bool ChooseInputFolder();
  /// Turns "Include Subfolders" over, walks the shown folders again and shows the result.
  void ToggleIncludeSubfolders();
  /// Shows the folder chooser; a chosen existing folder becomes the output folder and heads the
  /// history.
  void ChooseOutputFolder();

  /// The state the window shows.
  WindowSession& Session() { return session_; }

  /// Performs the command of `id`, as the menus, toolbars and accelerators deliver it; an id
  /// without a command does nothing.
  void RunCommand(int id);

  /// Opens the converter search over the window; does nothing while one is open.
  void OpenConverterSearch();
  /// Opens the About window over the window; does nothing while one is open.
  void OpenAbout();
  /// Builds, fills and shows the preferences at `start_page` over a copy of the settings and
  /// disables the window; returns at once. Only raises the dialog while it is open already.
  void OpenPreferences(int start_page);
  /// Takes what the closed preferences hand back: accepted settings become the session's, are
  /// written and rebuild what they changed; the choosers' list entries stay in any case.
  void TakePreferences(PreferencesOutcome outcome);
  /// The open converter search, About and preferences windows; nullptr when none is open.
  PreferencesDialog* Preferences() const { return preferences_; }
  ConverterSearchWindow* ConverterSearch() const { return converter_search_; }
  AboutWindow* About() const { return about_; }

  /// The inner size the settings store: width, and height counting toolbar and status bar.
  wxSize InnerSize() const;

  /// Rebuilds the field toolbars and gives the controls their pictures again (theme change).
  void RefreshPictures();

  /// Rebuilds the main toolbar and fixes the height bounds around it.
  void RebuildToolbar();

  /// Rebuilds what the preferences changed.
  void RebuildInterface(InterfaceRebuild rebuild);

  /// Stores the window's place into the "Window" settings, empties the history when asked to and
  /// writes the settings file.
  void ShutDown();

  /// Shows `text` in the status bar's one field; wx's own SetStatusText stays reachable.
  void ShowStatus(const std::string& text);
  std::string StatusText() const;

  /// True while a conversion run's progress window is open.
  bool RunInWork() const { return progress_ != nullptr; }
  /// The progress window of the run in work; nullptr when there is none.
  ProgressWindow* Progress() const { return progress_; }
  void SetProgress(ProgressWindow* progress) { progress_ = progress; }
  /// Asks the break question of the run in work (the window is being closed); on Yes the worker
  /// stops after its file and the window closes once the run has ended.
  void RequestBreakOfRun();

  // The controls, for the conversion run and for tests that drive the window.
  wxPanel* Panel() const { return panel_; }
  wxTextCtrl* InputField() const { return input_field_; }
  wxBitmapComboBox* OutputFolderBox() const { return output_folder_box_; }
  wxBitmapComboBox* OutputFormatBox() const { return output_format_box_; }
  wxBitmapButton* ConvertButton() const { return convert_button_; }
  const std::array<wxToolBar*, 3>& FieldToolbars() const { return field_toolbars_; }
  wxStaticText* NoticeLabel() const { return notice_label_; }
  const std::array<wxStaticText*, 3>& FieldLabels() const { return labels_; }

 private:
  void BuildControls();
  // The input field's text and tooltip for the session's inputs.
  void ShowInputs();
  // The menu's check marks as the settings have them.
  void ShowMenuChecks();
  void SetHeightBounds();
  // Rows follow the font: the tops of a row's label and field, and the panel's height.
  int LabelY(int row) const;
  int FieldY(int row) const;
  int PanelHeight() const;
  void OnInputText(wxCommandEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnMenu(wxCommandEvent& event);
  void OnOutputFolderBox(wxCommandEvent& event);
  void OnOutputFormatBox(wxCommandEvent& event);
  void OnConvertButton(wxCommandEvent& event);

  wxPanel* panel_ = nullptr;
  wxTextCtrl* input_field_ = nullptr;
  wxBitmapComboBox* output_folder_box_ = nullptr;
  wxBitmapComboBox* output_format_box_ = nullptr;
  wxBitmapButton* convert_button_ = nullptr;
  std::array<wxToolBar*, 3> field_toolbars_{};
  std::array<wxStaticText*, 3> labels_{};
  wxStaticText* notice_label_ = nullptr;
  // MinimumWidth, or more when a larger font needs a wider format box.
  int least_width_ = MinimumWidth;
  int label_height_ = 17;
  int field_height_ = 28;
  int notice_height_ = 20;
  ProgressWindow* progress_ = nullptr;
  // The inner size the settings store counts the main toolbar and the status bar.
  int32_t toolbar_height_ = 0;
  int32_t status_bar_height_ = 0;
  WindowSession& session_;
  ConverterSearchWindow* converter_search_ = nullptr;
  AboutWindow* about_ = nullptr;
  PreferencesDialog* preferences_ = nullptr;
};

/// The format list entry: the key in upper case, with " (description)" when asked.
std::string FormatBoxEntry(const std::string& key, bool with_descriptions);

/// Fills a format box with one entry per output format key, each with the "New" picture and its
/// key's index as data, and selects the entry of `selected_key` (or the first).
void FillFormatBox(wxBitmapComboBox* box, bool with_descriptions, const std::string& selected_key);

/// A saved place that lies on no screen (a monitor unplugged since) becomes a place centred on
/// the primary screen; sizes below the bounds are raised to them.
wxRect PlaceOnScreen(const wxRect& saved);
