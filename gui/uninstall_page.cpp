#include "gui/uninstall_page.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/panel.h>

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
  visit_box_ =
      new wxCheckBox(panel, UninstallBoxId, FromUtf8(GetText("Uninstall", "Uninstall Text")),
                     wxPoint(30, 20), wxSize(250, 24));
  visit_box_->SetValue(true);
  next_button_ = new wxButton(panel, UninstallNextId, FromUtf8(GetText("Uninstall", "Next")),
                              wxPoint(200, 60), wxSize(80, 32));
  next_button_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Next(); });
  SetClientSize(InnerWidth, InnerHeight);
  CentreOnScreen();
  Show();
  Raise();
  next_button_->SetFocus();
}

void UninstallPage::Next() {
  if (visit_box_->GetValue()) OpenWithDefaultHandler(UninstallPageAddress());
  Close(true);
}
