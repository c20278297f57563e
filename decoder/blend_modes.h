#pragma once

// The blend modes of layered documents, on samples of 0..1 (32-bit documents may go beyond 1; the
// formulas take them as they come). Where the W3C Compositing and Blending Level 1 recommendation
// defines a mode, we use its formula; the modes it lacks (linear burn and dodge, darker and
// lighter colour, vivid, linear and pin light, hard mix, subtract, divide) follow the formulas
// Photoshop's documentation and the common graphics references publish.

#include <cstdint>

enum class BlendMode : uint8_t {
  Normal,  // dissolve too: its noise is not reproducible, and a rebuilt picture should be stable
  Darken,
  Multiply,
  ColorBurn,
  LinearBurn,
  DarkerColor,
  Lighten,
  Screen,
  ColorDodge,
  LinearDodge,
  LighterColor,
  Overlay,
  SoftLight,
  HardLight,
  VividLight,
  LinearLight,
  PinLight,
  HardMix,
  Difference,
  Exclusion,
  Subtract,
  Divide,
  Hue,
  Saturation,
  Color,
  Luminosity,
  PassThrough,  // groups only: their members blend with what lies below the group
  // The whole-colour modes of a Lab document's layers, on what L, a and b mean: lightness, and
  // the chroma and hue angle of a and b about their neutral middle.
  LabDarkerColor,
  LabLighterColor,
  LabHue,
  LabSaturation,
  LabColor,
  LabLuminosity,
};

/// The mode of a record's four-character key; Normal for a key we do not know.
BlendMode BlendModeFromKey(uint32_t key);

/// The key a layer of a Lab document with mode `key` is read with: the whole-colour modes get
/// keys of their own, which no file uses, for their Lab modes; other keys stay as they are.
uint32_t LabBlendKey(uint32_t key);

/// True for the modes that work on each channel alone.
bool IsSeparable(BlendMode mode);

/// B(cb, cs) of a separable mode, with cb the backdrop and cs the source sample.
float BlendChannel(BlendMode mode, float cb, float cs);

/// B(cb, cs) of a mode that looks at the whole colour (darker and lighter colour, hue,
/// saturation, colour, luminosity) for `colours` channels (3, 1 for grey, 4 for CMYK in stored
/// values); `out` may be `cb`.
void BlendColour(BlendMode mode, const float* cb, const float* cs, float* out, int colours);
