#pragma once

// An ICC profile for the tests of colour management, built byte by byte, and the colour science
// its expected values come from.

#include <string>

/// The sRGB encoding of linear light (clipped to 0..1), from its definition, in 8-bit levels.
double SrgbLevel(double linear);

/// CIE lightness to sRGB levels (D50 white to sRGB white, a grey stays grey).
double LightnessToSrgbLevel(double lightness);

/// A CMYK input profile with a Lab lookup table (lut8, 2 grid points): the lightness follows the
/// cyan ink alone, L* = 100 x cyan, so paper is black and full cyan is white. Nothing like what a
/// naive conversion makes of the same samples.
std::string CyanLightnessProfile();

/// A grey display profile whose curve is a plain gamma (samples to linear light), D50 white: a
/// grey working space far from the sRGB curve for gamma 1.8.
std::string GammaGreyProfile(double gamma);

/// An RGB display profile with sRGB's primaries (adapted to D50) and a plain gamma curve.
std::string GammaRgbProfile(double gamma);
