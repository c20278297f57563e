#pragma once

// A read-only list with a picture beside each entry. wx's GTK list of this kind still treats
// itself as a text field that has none, and every key pressed in it prints GTK criticals on
// standard error; this one leaves the missing field alone.

#include <wx/bmpcbox.h>

class PictureListBox : public wxBitmapComboBox {
 public:
  PictureListBox(wxWindow* parent, wxWindowID id, const wxPoint& at, const wxSize& size)
      : wxBitmapComboBox(parent, id, wxEmptyString, at, size, 0, nullptr, wxCB_READONLY) {}

  void GTKDisableEvents() override;
  void GTKEnableEvents() override;

 protected:
  int GTKIMFilterKeypress(GdkEventKey* event) const override;
};
