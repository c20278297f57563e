#pragma once

// The uninstall page ("-U"): one check box that sends the user to the maker's uninstall page,
// and Next.

#include <wx/frame.h>

#include <string>

class wxButton;
class wxCheckBox;

/// Control ids of the uninstall page.
enum UninstallControl : int {
  UninstallBoxId = 400,
  UninstallNextId,
};

/// The maker's uninstall page.
std::string UninstallPageAddress();

class UninstallPage : public wxFrame {
 public:
  /// Builds the page centred on the screen, box ticked, and shows it.
  UninstallPage();

  /// Opens the uninstall page when the box is ticked, then closes the window.
  void Next();

  wxCheckBox* VisitBox() const { return visit_box_; }
  wxButton* NextButton() const { return next_button_; }

 private:
  wxCheckBox* visit_box_ = nullptr;
  wxButton* next_button_ = nullptr;
};
