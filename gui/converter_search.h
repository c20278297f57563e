#pragma once

// The converter search window: two short terms, source and target, looked up on the maker's
// converter search page.

#include <wx/dialog.h>

#include <string>
#include <string_view>

class wxButton;
class wxTextCtrl;

/// The most characters of a field that count as its term.
inline constexpr size_t MaxSearchTermCharacters = 12;

/// A field's text as a search term: lower-cased, cut to its first MaxSearchTermCharacters
/// characters (UTF-8), then only the ASCII letters and digits kept.
std::string ConverterSearchTerm(std::string_view text);

/// The page path of a search: "/find/" + source + "-" + target + "/".
std::string ConverterSearchPath(std::string_view source, std::string_view target);

/// Control ids of the search window.
enum ConverterSearchControl : int {
  SourceFieldId = 200,
  TargetFieldId,
  SearchButtonId,
};

class ConverterSearchWindow : public wxDialog {
 public:
  /// Builds the window centred on `owner` (which it disables until it closes) and shows it.
  explicit ConverterSearchWindow(wxWindow* owner);
  ~ConverterSearchWindow() override;

  /// Searches with the fields' terms, or warns when one is empty and stays open.
  void Search();
  /// Closes the window and gives the owner back its input and focus.
  void CloseWindow();

  wxTextCtrl* SourceField() const { return source_field_; }
  wxTextCtrl* TargetField() const { return target_field_; }
  wxButton* SearchButton() const { return search_button_; }

 private:
  void OnButton(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnCharHook(wxKeyEvent& event);

  wxWindow* owner_;
  wxTextCtrl* source_field_ = nullptr;
  wxTextCtrl* target_field_ = nullptr;
  wxButton* search_button_ = nullptr;
  bool closing_ = false;
};

/// The open search window; nullptr when none is open.
extern ConverterSearchWindow* g_converter_search;

/// Opens the search window over the main window; does nothing while one is open.
void OpenConverterSearch();
