#pragma once

// The About window: a banner, the program title and notice, the web and mail links, and OK.

#include <wx/dialog.h>

#include <functional>

class wxButton;
class wxHyperlinkCtrl;
class wxHyperlinkCtrlBase;
class wxHyperlinkEvent;

/// Control ids of the About window.
enum AboutControl : int {
  AboutWebLinkId = 300,
  AboutMailLinkId,
  AboutOkButtonId,
};

/// Side lengths of the banner picture.
inline constexpr int AboutBannerWidth = 360;
inline constexpr int AboutBannerHeight = 40;

/// The banner across the top of the About window, drawn here: layered sheets beside the product
/// name on a shaded band.
wxBitmap DrawAboutBanner();

class AboutWindow : public wxDialog {
 public:
  /// Builds the window centred on `owner` (which it disables until it closes) and shows it;
  /// `closed` runs once when it closes.
  AboutWindow(wxWindow* owner, std::function<void()> closed);

  /// Closes the window and gives the owner back its input and focus.
  void CloseWindow();

  wxHyperlinkCtrlBase* WebLink() const;
  wxHyperlinkCtrlBase* MailLink() const;
  wxButton* OkButton() const { return ok_button_; }

 private:
  void OnLink(wxHyperlinkEvent& event);
  void OnCharHook(wxKeyEvent& event);

  wxWindow* owner_;
  std::function<void()> closed_;
  wxHyperlinkCtrl* web_link_ = nullptr;
  wxHyperlinkCtrl* mail_link_ = nullptr;
  wxButton* ok_button_ = nullptr;
  bool closing_ = false;
};
