#pragma once

// The few GTK calls wx has no word for. GTK is already loaded by wx; its functions are looked up
// in the process, so the build needs no GTK headers.

#include <cstdint>
#include <string>
#include <vector>

class wxWindow;

/// Turns GTK's "gtk-menu-images" and "gtk-button-images" settings on, so menus show pictures.
bool ShowMenuPictures();

/// Draws `window` with everything GTK draws in it (menu bar, toolbar, controls) into a PNG file;
/// false when it cannot.
bool SaveWindowPicture(wxWindow* window, const std::string& path);

/// Saves the screen's pixels inside `area` (screen coordinates) as a PNG file, popup menus
/// included; false when it cannot.
bool SaveScreenPicture(int x, int y, int width, int height, const std::string& path);

/// Lets the controls inside `window` keep the small heights a dense dialog gives them (entries,
/// drop-down lists, spin boxes and sliders of about 20 pixels) by tighter GTK paddings; false
/// when GTK's style calls are missing, and then the controls keep their own sizes.
bool UseCompactControls(wxWindow* window);

/// The screen's pixels inside the area as RGB bytes (3 a pixel, top row first); false when they
/// cannot be read.
bool GrabScreenRgb(int x, int y, int width, int height, std::vector<uint8_t>& rgb);

/// Sets how many characters wide GTK reckons the text of an entry or spin box (`window`), which
/// decides the least width it asks for; false when GTK's call is missing or `window` is null.
bool SetTextWidthInCharacters(wxWindow* window, int characters);

/// Greys `window` and everything in it so it takes no input, or lets it take input again, at
/// GTK's level only: wx still counts the window enabled, so a close request from its frame still
/// reaches it. False when GTK's call is missing.
bool SetTakesInput(wxWindow* window, bool takes_input);

/// Whether `window` takes input as far as GTK is concerned (it and its parents are not greyed).
bool TakesInput(wxWindow* window);

/// Gives `window` the name a screen reader announces (a button that shows only a picture, a
/// field whose label is a separate control); false when GTK's accessibility calls are missing.
bool SetAccessibleName(wxWindow* window, const std::string& name);

/// The name a screen reader announces for `window`; empty when it has none.
std::string AccessibleName(wxWindow* window);

/// Lets the mnemonic of `label` (a static text) move the focus to `target`, and tells screen
/// readers that `label` names it; false when GTK's call is missing.
bool SetMnemonicTarget(wxWindow* label, wxWindow* target);

/// Moves the keyboard focus into `window` or the first control inside it that takes it (the
/// button of a toolbar); false when nothing there takes it.
bool FocusInside(wxWindow* window);

/// Whether the keyboard focus is on `window` or on something inside it.
bool HoldsFocus(wxWindow* window);
