#pragma once

// The converter search window: two short terms, source and target, looked up on the maker's
// converter search page.

#include <wx/dialog.h>

#include <functional>
#include <string>

#include "gui/converter_terms.h"

class wxButton;
class wxTextCtrl;
class WindowServices;

/// Control ids of the search window.
enum ConverterSearchControl : int {
  SourceFieldId = 200,
  TargetFieldId,
  SearchButtonId,
};

class ConverterSearchWindow : public wxDialog {
 public:
  /// Builds the window centred on `owner` (which it disables until it closes) and shows it;
  /// `services` warns and opens the search page; `closed` runs once when it closes.
  ConverterSearchWindow(wxWindow* owner, WindowServices& services, std::function<void()> closed);

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
  WindowServices& services_;
  std::function<void()> closed_;
  wxTextCtrl* source_field_ = nullptr;
  wxTextCtrl* target_field_ = nullptr;
  wxButton* search_button_ = nullptr;
  bool closing_ = false;
};
