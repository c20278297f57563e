#pragma once

// The active icon theme in the window: its decoded pictures become the bitmaps of the three
// icon maps, slot by slot, over whatever each slot held before.

struct RgbaPicture;
class wxBitmap;

/// A bitmap with alpha of a decoded theme picture; not usable when the picture is empty or its
/// pixel count does not match its size.
wxBitmap BitmapFromRgba(const RgbaPicture& picture);

/// Replaces the pictures of the maps whose flag is set by those the "UI Theme" pack supplies
/// (toolbar pictures at the "UI Size" size). A name the theme does not supply, or whose entry is
/// missing or undecodable, keeps its picture. Returns how many pictures were replaced.
int LoadThemePictures(bool buttons, bool menu_pictures, bool toolbar_pictures);
