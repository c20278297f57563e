#include "gui/about_window.h"

#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/hyperlink.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <algorithm>
#include <memory>

#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/mnemonics.h"
#include "gui/wx_text.h"
#include "platform/open_default.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

// The places at the default font: a 360 by 240 window, the frame from y 40 to 190 with the
// title and notice lines at 50 and 70 and the link rows at 100 and 120, OK at y 200. A larger
// font makes the lines taller and the window with them.
constexpr int InnerWidth = 360;
constexpr int InnerHeight = 240;
constexpr int LineHeight = 20;
constexpr int CaptionX = 80;
constexpr int CaptionWidth = 60;
constexpr int LinkWidth = 215;

// The size a control takes: its place in the original layout while the font is the default one
// (a few pixels of GTK's padding may be clipped, as they always were), else what its text needs.
wxSize Room(wxWindow* control, const wxSize& original, const wxSize& needed) {
  const bool larger_font = control->GetTextExtent("Ag").GetHeight() > 20;
  if (!larger_font) return original;
  return wxSize(std::max(original.GetWidth(), needed.GetWidth()),
                std::max(original.GetHeight(), needed.GetHeight()));
}

// GTK's own link: it takes the theme's link colours, readable on a dark theme too.
wxHyperlinkCtrl* MakeLink(wxWindow* parent, int id, const std::string& label,
                          const std::string& address) {
  auto* link = new wxHyperlinkCtrl(parent, id, FromUtf8(label), FromUtf8(address),
                                   wxDefaultPosition, wxDefaultSize, wxHL_ALIGN_LEFT | wxNO_BORDER);
  // As wide and tall as its text, not as GTK's padded button would be.
  link->SetMinSize(Room(link, wxSize(LinkWidth, LineHeight),
                        link->GetTextExtent(link->GetLabel()) + wxSize(16, 4)));
  return link;
}

wxStaticText* MakeLine(wxWindow* parent, const std::string& text, long style, int width) {
  auto* line =
      new wxStaticText(parent, wxID_ANY, FromUtf8(text), wxDefaultPosition, wxDefaultSize, style);
  line->SetMinSize(Room(line, wxSize(width, LineHeight), line->GetBestSize()));
  return line;
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

  // The banner is a picture of a fixed size: a larger desktop font, which makes the points
  // larger, gets lettering scaled down until the name and the tag fit in it side by side. At the
  // default font they fit as they are.
  const wxString name = FromUtf8(std::string(ProductName));
  const wxString tag = wxString::FromUTF8("PSD \u2192 PNG");
  const auto measure = [&context](const wxFont& font, const wxString& text) {
    context->SetFont(font, *wxWHITE);
    double width = 0;
    double height = 0;
    context->GetTextExtent(text, &width, &height);
    return wxRealPoint(width, height);
  };
  const auto name_font = [](double scale) {
    return wxFont(wxFontInfo(15.0 * scale).Bold().Family(wxFONTFAMILY_SWISS));
  };
  const auto tag_font = [](double scale) {
    return wxFont(wxFontInfo(9.0 * scale).Family(wxFONTFAMILY_SWISS));
  };
  constexpr double NameX = 64;
  constexpr double TagMargin = 14;
  constexpr double Gap = 12;
  double scale = 1.0;
  {
    const wxRealPoint name_size = measure(name_font(1.0), name);
    const wxRealPoint tag_size = measure(tag_font(1.0), tag);
    const double room = w - NameX - TagMargin - Gap;
    if (name_size.x + tag_size.x > room) scale = room / (name_size.x + tag_size.x);
    if (name_size.y > h - 4) scale = std::min(scale, (h - 4) / name_size.y);
  }
  const wxRealPoint name_size = measure(name_font(scale), name);
  context->SetFont(name_font(scale), *wxWHITE);
  context->DrawText(name, NameX, (h - name_size.y) / 2);
  const wxRealPoint tag_size = measure(tag_font(scale), tag);
  context->SetFont(tag_font(scale), wxColour(210, 235, 240));
  context->DrawText(tag, w - tag_size.x - TagMargin, (h - tag_size.y) / 2);
  context.reset();
  dc.SelectObject(wxNullBitmap);
  return banner;
}

AboutWindow::AboutWindow(wxWindow* owner, std::function<void()> closed)
    : wxDialog(owner, wxID_ANY, FromUtf8(GetText("About", "Title")), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      owner_(owner),
      closed_(std::move(closed)) {
  // GTK's link is a button: without its padding it fits the line of the original layout.
  UseCompactControls(this);
  auto* banner = new wxStaticBitmap(this, wxID_ANY, DrawAboutBanner(), wxDefaultPosition,
                                    wxSize(AboutBannerWidth, AboutBannerHeight));
  // The frame holds the lines and links.
  auto* frame = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_SIMPLE);
  auto* lines = new wxBoxSizer(wxVERTICAL);
  lines->AddSpacer(10);
  for (const std::string& text : {BuildProgramTitle(), std::string(NoticeText)}) {
    lines->Add(MakeLine(frame, text, wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE, 320 - 2), 0,
               wxEXPAND | wxLEFT | wxRIGHT, 20);
  }
  lines->AddSpacer(10);
  auto* links = new wxFlexGridSizer(2, 0, 0);
  const std::string web = std::string(ProductWebAddress);
  const std::string mail = std::string(SupportAddress);
  // A caption wider than its column at a larger font keeps a gap to its link.
  const auto caption = [frame](const std::string& text) {
    wxStaticText* line = MakeLine(frame, text, 0, CaptionWidth);
    const int needed = line->GetTextExtent(FromUtf8(text)).GetWidth() + 6;
    if (needed > CaptionWidth) line->SetMinSize(wxSize(needed, line->GetMinSize().GetHeight()));
    return line;
  };
  links->Add(caption(GetText("About", "Website")));
  web_link_ = MakeLink(frame, AboutWebLinkId, web, web);
  links->Add(web_link_);
  links->Add(caption(GetText("About", "Email")));
  mail_link_ = MakeLink(frame, AboutMailLinkId, mail, "mailto:" + mail);
  links->Add(mail_link_);
  lines->Add(links, 0, wxLEFT, CaptionX);
  lines->AddStretchSpacer();
  // Less the frame's border of a pixel all round.
  lines->AddSpacer(50 - 2);
  frame->SetSizer(lines);

  ok_button_ = new wxButton(this, AboutOkButtonId,
                            FromUtf8(AddMnemonics({GetText("Dialog", "OK")}).front()));
  ok_button_->SetMinSize(Room(ok_button_, wxSize(80, 32), ok_button_->GetBestSize()));
  ok_button_->SetDefault();

  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(banner, 0, wxEXPAND);
  column->Add(frame, 1, wxEXPAND);
  column->AddSpacer(10);
  column->Add(ok_button_, 0, wxALIGN_CENTRE_HORIZONTAL);
  column->AddSpacer(8);
  SetSizer(column);
  column->SetSizeHints(this);
  SetClientSize(std::max(GetClientSize().GetWidth(), InnerWidth),
                std::max(GetClientSize().GetHeight(), InnerHeight));

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
