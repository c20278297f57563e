#pragma once

// The active icon theme in the window: its decoded pictures become the bitmaps of the three
// icon maps, slot by slot, over whatever each slot held before.

struct InterfaceSettings;
struct RgbaPicture;
class wxBitmap;

/// A bitmap with alpha of a decoded theme picture; not usable when the picture is empty or its
/// pixel count does not match its size.
wxBitmap BitmapFromRgba(const RgbaPicture& picture);

/// Replaces the pictures of the maps whose flag is set by those the "UI Theme" pack of `interface`
/// supplies (toolbar pictures at its "UI Size" size); a theme that is gone gives way to the last
/// one scanned, in `interface` too. A name the theme does not supply, or whose entry is missing or
/// undecodable, keeps its picture. Returns how many pictures were replaced.
int LoadThemePictures(InterfaceSettings& interface, bool buttons, bool menu_pictures,
                      bool toolbar_pictures);
