#include "gui/uninstall_page.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/panel.h>

#include <algorithm>

#include "core/program_identity.h"
#include "gui/wx_text.h"
#include "platform/open_default.h"
#include "texts/language_table.h"

namespace {

constexpr int InnerWidth = 300;
constexpr int InnerHeight = 100;

}  // namespace

std::string UninstallPageAddress() { return MakerAddress("/tarnex/uninstall.html"); }

UninstallPage::UninstallPage()
    : wxFrame(nullptr, wxID_ANY, FromUtf8(GetText("Uninstall", "Title")), wxDefaultPosition,
              wxDefaultSize, wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU) {
  auto* panel = new wxPanel(this, wxID_ANY);
  visit_box_ = new wxCheckBox(panel, UninstallBoxId,
                              FromUtf8(GetText("Uninstall", "Uninstall Text")), wxPoint(30, 20));
  visit_box_->SetValue(true);
  // GTK's check box and font need more than the 250 pixels of the layout: the box takes its own
  // width, and the window widens rather than cutting the text.
  const int box_width = std::max(250, visit_box_->GetBestSize().GetWidth());
  visit_box_->SetSize(box_width, -1);
  const int inner_width = std::max(InnerWidth, 30 + box_width + 20);
  next_button_ = new wxButton(panel, UninstallNextId, FromUtf8(GetText("Uninstall", "Next")),
                              wxPoint(inner_width - 100, 60), wxSize(80, 32));
  next_button_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Next(); });
  SetClientSize(inner_width, InnerHeight);
  CentreOnScreen();
  Show();
  Raise();
  next_button_->SetFocus();
}

void UninstallPage::Next() {
  if (visit_box_->GetValue()) OpenWithDefaultHandler(UninstallPageAddress());
  Close(true);
}
