#include "gui/converter_search.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <vector>

#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/message_boxes.h"
#include "gui/mnemonics.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

// At the default font: a 370 by 64 window, "From:" at x 10, its field at 50, "To:" at 150, its
// field at 180 and the button at 280, 80 pixels wide each, in one row centred in the height.
// A larger font widens the labels and heightens the row, and the window grows with them.
constexpr int InnerWidth = 370;
constexpr int InnerHeight = 64;
constexpr int FieldWidth = 80;
constexpr int FieldHeight = 30;
constexpr int Gap = 20;

// A label at least `width` wide that shows all of its text.
wxStaticText* MakeLabel(wxWindow* parent, const std::string& text, int width) {
  auto* label = new wxStaticText(parent, wxID_ANY, FromUtf8(text));
  // A label wider than its place at a larger font keeps a gap to its field.
  const int best = label->GetBestSize().GetWidth();
  label->SetMinSize(wxSize(best < width ? width : best + 4, -1));
  return label;
}

}  // namespace

ConverterSearchWindow::ConverterSearchWindow(wxWindow* owner, WindowServices& services,
                                             std::function<void()> closed)
    : wxDialog(owner, wxID_ANY, FromUtf8(GetText("Custom-Converter", "Title")), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      owner_(owner),
      services_(services),
      closed_(std::move(closed)) {
  const std::vector<std::string> captions =
      AddMnemonics({GetText("Custom-Converter", "From"), GetText("Custom-Converter", "To"),
                    GetText("Custom-Converter", "Search")});
  // Each label right before its field: its mnemonic goes to the field, and Tab follows the row.
  wxStaticText* from = MakeLabel(this, captions[0], 40);
  source_field_ = new wxTextCtrl(this, SourceFieldId, wxEmptyString, wxDefaultPosition,
                                 wxSize(FieldWidth, FieldHeight), wxTE_PROCESS_ENTER);
  wxStaticText* to = MakeLabel(this, captions[1], 30);
  target_field_ = new wxTextCtrl(this, TargetFieldId, wxEmptyString, wxDefaultPosition,
                                 wxSize(FieldWidth, FieldHeight), wxTE_PROCESS_ENTER);
  search_button_ = new wxButton(this, SearchButtonId, FromUtf8(captions[2]));
  search_button_->SetMinSize(
      wxSize(std::max(FieldWidth, search_button_->GetBestSize().GetWidth()), FieldHeight + 2));
  search_button_->SetDefault();
  SetAccessibleName(source_field_, SpokenName(captions[0]));
  SetAccessibleName(target_field_, SpokenName(captions[1]));
  // The fields grow with the font as its labels do, in height and width alike.
  const int grown = std::max(0, from->GetBestSize().GetHeight() - 17);
  const int field_width = FieldWidth + FieldWidth * grown / 17;
  source_field_->SetMinSize(wxSize(field_width, FieldHeight + grown));
  target_field_->SetMinSize(wxSize(field_width, FieldHeight + grown));
  search_button_->SetMinSize(
      wxSize(search_button_->GetMinSize().GetWidth(), FieldHeight + 2 + grown));

  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->AddSpacer(10);
  row->Add(from, 0, wxALIGN_CENTRE_VERTICAL);
  row->Add(source_field_, 0, wxALIGN_CENTRE_VERTICAL);
  row->AddSpacer(Gap);
  row->Add(to, 0, wxALIGN_CENTRE_VERTICAL);
  row->Add(target_field_, 0, wxALIGN_CENTRE_VERTICAL);
  row->AddSpacer(Gap);
  row->Add(search_button_, 0, wxALIGN_CENTRE_VERTICAL);
  row->AddSpacer(10);
  auto* column = new wxBoxSizer(wxVERTICAL);
  column->AddStretchSpacer();
  column->Add(row, 0, wxEXPAND | wxTOP | wxBOTTOM, 8);
  column->AddStretchSpacer();
  SetSizer(column);
  column->SetSizeHints(this);
  SetClientSize(std::max(GetClientSize().GetWidth(), InnerWidth),
                std::max(GetClientSize().GetHeight(), InnerHeight));
  Layout();

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
