#include "gui/converter_search.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "core/program_identity.h"
#include "gui/message_boxes.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

constexpr int InnerWidth = 370;
// GTK's text fields are taller than 20 pixels; the row keeps its places and the window grows to
// fit the fields and the button.
constexpr int InnerHeight = 64;
constexpr int FieldHeight = 30;

}  // namespace

ConverterSearchWindow::ConverterSearchWindow(wxWindow* owner, WindowServices& services,
                                             std::function<void()> closed)
    : wxDialog(owner, wxID_ANY, FromUtf8(GetText("Custom-Converter", "Title")), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      owner_(owner),
      services_(services),
      closed_(std::move(closed)) {
  SetClientSize(InnerWidth, InnerHeight);
  const int field_y = (InnerHeight - FieldHeight) / 2;
  new wxStaticText(this, wxID_ANY, FromUtf8(GetText("Custom-Converter", "From")),
                   wxPoint(10, field_y + 6), wxSize(40, 20));
  source_field_ = new wxTextCtrl(this, SourceFieldId, wxEmptyString, wxPoint(50, field_y),
                                 wxSize(80, FieldHeight), wxTE_PROCESS_ENTER);
  new wxStaticText(this, wxID_ANY, FromUtf8(GetText("Custom-Converter", "To")),
                   wxPoint(150, field_y + 6), wxSize(30, 20));
  target_field_ = new wxTextCtrl(this, TargetFieldId, wxEmptyString, wxPoint(180, field_y),
                                 wxSize(80, FieldHeight), wxTE_PROCESS_ENTER);
  search_button_ =
      new wxButton(this, SearchButtonId, FromUtf8(GetText("Custom-Converter", "Search")),
                   wxPoint(280, field_y - 1), wxSize(80, FieldHeight + 2));
  search_button_->SetDefault();

  Bind(wxEVT_BUTTON, &ConverterSearchWindow::OnButton, this);
  // Return in either field searches, as the default button would.
  Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { Search(); });
  Bind(wxEVT_CLOSE_WINDOW, &ConverterSearchWindow::OnClose, this);
  Bind(wxEVT_CHAR_HOOK, &ConverterSearchWindow::OnCharHook, this);

  if (owner_) {
    CentreOnParent();
    owner_->Disable();
  }
  Show();
  source_field_->SetFocus();
}

void ConverterSearchWindow::Search() {
  const std::string source = ConverterSearchTerm(ToUtf8(source_field_->GetValue()));
  const std::string target = ConverterSearchTerm(ToUtf8(target_field_->GetValue()));
  if (source.empty() || target.empty()) {
    ShowWarning(services_, GetText("Msg", "Empty extensions"));
    return;
  }
  Hide();
  services_.Open(MakerAddress(ConverterSearchPath(source, target)));
  CloseWindow();
}

void ConverterSearchWindow::CloseWindow() {
  if (closing_) return;
  closing_ = true;
  if (closed_) closed_();
  if (owner_) {
    owner_->Enable();
    owner_->SetFocus();
  }
  Destroy();
}

void ConverterSearchWindow::OnButton(wxCommandEvent& event) {
  if (event.GetId() == SearchButtonId) {
    Search();
    return;
  }
  // The dialog's own Cancel (from Escape) closes it like the close box.
  if (event.GetId() == wxID_CANCEL) {
    CloseWindow();
    return;
  }
  event.Skip();
}

void ConverterSearchWindow::OnClose(wxCloseEvent&) { CloseWindow(); }

void ConverterSearchWindow::OnCharHook(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_ESCAPE) {
    CloseWindow();
    return;
  }
  event.Skip();
}
