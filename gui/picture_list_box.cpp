#include "gui/picture_list_box.h"

// Without a text field only the list's own signals exist: those are wxChoice's.
void PictureListBox::GTKDisableEvents() {
  if (GetEntry()) {
    wxBitmapComboBox::GTKDisableEvents();
  } else {
    wxChoice::GTKDisableEvents();
  }
}

void PictureListBox::GTKEnableEvents() {
  if (GetEntry()) {
    wxBitmapComboBox::GTKEnableEvents();
  } else {
    wxChoice::GTKEnableEvents();
  }
}

int PictureListBox::GTKIMFilterKeypress(GdkEventKey* event) const {
  // No field, no input method: the key goes on to the list.
  return GetEntry() ? wxBitmapComboBox::GTKIMFilterKeypress(event) : 0;
}
