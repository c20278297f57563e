#include "gui/about_window.h"

#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/hyperlink.h>

// The generic link draws in the colour it is given; GTK's own keeps the theme's.
#include <wx/generic/hyperlink.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <algorithm>
#include <memory>

#include "core/program_identity.h"
#include "gui/wx_text.h"
#include "platform/open_default.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

constexpr int InnerWidth = 360;
constexpr int InnerHeight = 240;
constexpr int FrameY = 40;
constexpr int FrameHeight = 150;
const wxColour LinkBlue(0, 0, 255);

wxGenericHyperlinkCtrl* MakeLink(wxWindow* parent, int id, const std::string& label,
                                 const std::string& address, const wxPoint& at) {
  auto* link = new wxGenericHyperlinkCtrl(parent, id, FromUtf8(label), FromUtf8(address), at,
                                          wxSize(215, 20), wxHL_ALIGN_LEFT | wxNO_BORDER);
  link->SetNormalColour(LinkBlue);
  link->SetHoverColour(LinkBlue);
  link->SetVisitedColour(LinkBlue);
  return link;
}

}  // namespace

wxBitmap DrawAboutBanner() {
  wxImage canvas(AboutBannerWidth, AboutBannerHeight);
  canvas.InitAlpha();
  wxBitmap banner(canvas);
  wxMemoryDC dc(banner);
  std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(dc));
  if (!context) return banner;
  const double w = AboutBannerWidth;
  const double h = AboutBannerHeight;
  context->SetPen(*wxTRANSPARENT_PEN);
  context->SetBrush(context->CreateLinearGradientBrush(0, 0, w, 0, wxColour(24, 52, 104),
                                                       wxColour(38, 140, 150)));
  context->DrawRectangle(0, 0, w, h);

  // Three sheets of a layered document, fanned out, the top one carrying a small sun and hill.
  const wxColour sheets[] = {wxColour(120, 170, 220), wxColour(170, 210, 235),
                             wxColour(250, 250, 245)};
  for (int i = 0; i < 3; ++i) {
    const double x = 14 + i * 5;
    const double y = 6 + i * 3;
    context->SetPen(wxPen(wxColour(20, 40, 80), 1));
    context->SetBrush(wxBrush(sheets[i]));
    context->DrawRoundedRectangle(x, y, 26, 20, 2);
  }
  context->SetPen(*wxTRANSPARENT_PEN);
  context->SetBrush(wxBrush(wxColour(240, 180, 40)));
  context->DrawEllipse(39, 15, 7, 7);
  context->SetBrush(wxBrush(wxColour(60, 150, 80)));
  wxGraphicsPath hill = context->CreatePath();
  hill.MoveToPoint(25, 32);
  hill.AddQuadCurveToPoint(34, 22, 50, 32);
  hill.CloseSubpath();
  context->FillPath(hill);

  wxFont name_font(wxFontInfo(15).Bold().Family(wxFONTFAMILY_SWISS));
  context->SetFont(name_font, *wxWHITE);
  const wxString name = FromUtf8(std::string(ProductName));
  double name_width = 0;
  double name_height = 0;
  context->GetTextExtent(name, &name_width, &name_height);
  context->DrawText(name, 64, (h - name_height) / 2);

  wxFont tag_font(wxFontInfo(9).Family(wxFONTFAMILY_SWISS));
  context->SetFont(tag_font, wxColour(210, 235, 240));
  const wxString tag = wxString::FromUTF8("PSD \u2192 PNG");
  double tag_width = 0;
  double tag_height = 0;
  context->GetTextExtent(tag, &tag_width, &tag_height);
  context->DrawText(tag, w - tag_width - 14, (h - tag_height) / 2);
  context.reset();
  dc.SelectObject(wxNullBitmap);
  return banner;
}

AboutWindow::AboutWindow(wxWindow* owner, std::function<void()> closed)
    : wxDialog(owner, wxID_ANY, FromUtf8(GetText("About", "Title")), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      owner_(owner),
      closed_(std::move(closed)) {
  SetClientSize(InnerWidth, InnerHeight);
  new wxStaticBitmap(this, wxID_ANY, DrawAboutBanner(), wxPoint(0, 0),
                     wxSize(AboutBannerWidth, AboutBannerHeight));
  // The frame holds the lines and links; their places below are the window's, less its top.
  auto* frame = new wxPanel(this, wxID_ANY, wxPoint(0, FrameY), wxSize(InnerWidth, FrameHeight),
                            wxBORDER_SIMPLE);
  const auto in_frame = [](int x, int y) { return wxPoint(x, y - FrameY); };
  new wxStaticText(frame, wxID_ANY, FromUtf8(BuildProgramTitle()), in_frame(20, 50),
                   wxSize(320, 20), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  new wxStaticText(frame, wxID_ANY, FromUtf8(std::string(NoticeText)), in_frame(20, 70),
                   wxSize(320, 20), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  new wxStaticText(frame, wxID_ANY, FromUtf8(GetText("About", "Website")), in_frame(80, 100),
                   wxSize(60, 20));
  new wxStaticText(frame, wxID_ANY, FromUtf8(GetText("About", "Email")), in_frame(80, 120),
                   wxSize(50, 20));
  const std::string web = std::string(ProductWebAddress);
  const std::string mail = std::string(SupportAddress);
  web_link_ = MakeLink(frame, AboutWebLinkId, web, web, in_frame(140, 100));
  mail_link_ = MakeLink(frame, AboutMailLinkId, mail, "mailto:" + mail, in_frame(140, 120));
  ok_button_ = new wxButton(this, AboutOkButtonId, FromUtf8(GetText("Dialog", "OK")),
                            wxPoint(140, 200), wxSize(80, 32));
  ok_button_->SetDefault();

  frame->Bind(wxEVT_HYPERLINK, &AboutWindow::OnLink, this);
  ok_button_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CloseWindow(); });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { CloseWindow(); });
  Bind(wxEVT_CHAR_HOOK, &AboutWindow::OnCharHook, this);

  if (owner_) {
    CentreOnParent();
    owner_->Disable();
  }
  Show();
  ok_button_->SetFocus();
}

wxHyperlinkCtrlBase* AboutWindow::WebLink() const { return web_link_; }

wxHyperlinkCtrlBase* AboutWindow::MailLink() const { return mail_link_; }

void AboutWindow::CloseWindow() {
  if (closing_) return;
  closing_ = true;
  if (closed_) closed_();
  if (owner_) {
    owner_->Enable();
    owner_->SetFocus();
  }
  Destroy();
}

void AboutWindow::OnLink(wxHyperlinkEvent& event) {
  // Not skipped: wx would open the address itself, past the program's one way of opening.
  OpenWithDefaultHandler(ToUtf8(event.GetURL()));
}

void AboutWindow::OnCharHook(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  if (key == WXK_ESCAPE || key == WXK_RETURN || key == WXK_NUMPAD_ENTER) {
    CloseWindow();
    return;
  }
  event.Skip();
}
