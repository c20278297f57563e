#include "decoder/adjustments.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "decoder/descriptor.h"
#include "decoder/psd_layers.h"
#include "engine/image/byte_cursor.h"
#include "engine/psd/psd_header.h"

namespace {

// Blocks of adjustment and fill layers that we know but do not draw.
constexpr uint32_t UndrawnKeys[] = {
    FourCc("levl"), FourCc("curv"), FourCc("expA"), FourCc("vibA"), FourCc("hue "),
    FourCc("hue2"), FourCc("blnc"), FourCc("blwh"), FourCc("phfl"), FourCc("mixr"),
    FourCc("clrL"), FourCc("grdm"), FourCc("selc"), FourCc("GdFl"), FourCc("PtFl"),
};

float Clamp01(double value) { return static_cast<float>(std::clamp(value, 0.0, 1.0)); }

// Rec. 601 luma, which the threshold of an RGB picture is taken on.
float Luma(const float* rgb) { return 0.299f * rgb[0] + 0.587f * rgb[1] + 0.114f * rgb[2]; }

// A colour descriptor ("RGBC", "Grsc", "CMYC", "HSBC") in the channels of a document of `mode`,
// as stored; std::nullopt for a kind we do not read.
std::optional<std::array<float, 4>> DocumentColour(const Descriptor& colour, uint16_t mode) {
  double r = 0, g = 0, b = 0;  // 0..1
  const std::string& kind = colour.class_id;
  if (kind == "RGBC") {
    r = colour.Number("Rd  ") / 255;
    g = colour.Number("Grn ") / 255;
    b = colour.Number("Bl  ") / 255;
  } else if (kind == "Grsc") {
    r = g = b = 1 - colour.Number("Gry ") / 100;
  } else if (kind == "CMYC") {
    const double k = colour.Number("Blck") / 100;
    r = (1 - colour.Number("Cyn ") / 100) * (1 - k);
    g = (1 - colour.Number("Mgnt") / 100) * (1 - k);
    b = (1 - colour.Number("Ylw ") / 100) * (1 - k);
    if (mode == PsdModeCmyk) {
      return std::array<float, 4>{Clamp01(1 - colour.Number("Cyn ") / 100),
                                  Clamp01(1 - colour.Number("Mgnt") / 100),
                                  Clamp01(1 - colour.Number("Ylw ") / 100), Clamp01(1 - k)};
    }
  } else if (kind == "HSBC") {
    // Hue in degrees, saturation and brightness in percent.
    const double h = std::fmod(std::fmod(colour.Number("H   "), 360) + 360, 360) / 60;
    const double s = colour.Number("Strt") / 100, v = colour.Number("Brgh") / 100;
    const double c = v * s, x = c * (1 - std::fabs(std::fmod(h, 2) - 1)), m = v - c;
    const int sector = static_cast<int>(h) % 6;
    const double table[6][3] = {{c, x, 0}, {x, c, 0}, {0, c, x}, {0, x, c}, {x, 0, c}, {c, 0, x}};
    r = table[sector][0] + m;
    g = table[sector][1] + m;
    b = table[sector][2] + m;
  } else {
    return std::nullopt;
  }
  if (mode == PsdModeGreyscale) {
    const float rgb[3] = {Clamp01(r), Clamp01(g), Clamp01(b)};
    return std::array<float, 4>{Luma(rgb), 0, 0, 0};
  }
  if (mode == PsdModeCmyk) {
    // The plain conversion: black takes what the three have in common.
    const double k = 1 - std::max({r, g, b});
    const auto ink = [k](double value) { return k >= 1 ? 0.0 : (1 - value - k) / (1 - k); };
    return std::array<float, 4>{Clamp01(1 - ink(r)), Clamp01(1 - ink(g)), Clamp01(1 - ink(b)),
                                Clamp01(1 - k)};
  }
  return std::array<float, 4>{Clamp01(r), Clamp01(g), Clamp01(b), 0};
}

// Brightness and contrast on one sample (0..1), as Photoshop's legacy mode: brightness shifts
// every level, contrast stretches the levels about the middle.
float LegacyBrightnessContrast(float value, float brightness, float contrast) {
  double v = value + brightness / 255.0;
  const double middle = 127.5 / 255;
  if (contrast >= 100) return v >= middle ? 1.0f : 0.0f;
  const double slope = contrast >= 0 ? 100.0 / (100.0 - contrast) : (100.0 + contrast) / 100.0;
  return Clamp01((v - middle) * slope + middle);
}

// The current mode keeps black and white where they are: brightness bends the levels between
// them as a gamma does, contrast stretches them about the middle along a smooth S.
float BrightnessContrast(float value, float brightness, float contrast) {
  double v = std::clamp<double>(value, 0, 1);
  if (brightness != 0) {
    const double gamma = std::pow(2.0, -brightness / 100.0);
    v = std::pow(v, gamma);
  }
  if (contrast != 0) {
    const double k = contrast / 100.0;
    const double s =
        v < 0.5 ? 0.5 * std::pow(2 * v, 1 + k) : 1 - 0.5 * std::pow(2 * (1 - v), 1 + k);
    v = s;
  }
  return Clamp01(v);
}

}  // namespace

bool ReadAdjustmentBlock(uint32_t key, std::span<const uint8_t> block, uint16_t mode,
                         LayerAdjustment& adjustment) {
  ByteCursor fields(block);
  uint64_t value = 0;
  const auto unsupported = [&] {
    adjustment.kind = AdjustmentKind::Unsupported;
    adjustment.key = key;
    return true;
  };
  if (key == FourCc("nvrt")) {
    adjustment.kind = AdjustmentKind::Invert;
    adjustment.key = key;
    return true;
  }
  if (key == FourCc("post")) {
    if (!fields.Read(2, value) || value < 2 || value > 255) return unsupported();
    adjustment.kind = AdjustmentKind::Posterize;
    adjustment.key = key;
    adjustment.levels = static_cast<int>(value);
    return true;
  }
  if (key == FourCc("thrs")) {
    if (!fields.Read(2, value) || value < 1 || value > 255 || mode == PsdModeCmyk) {
      return unsupported();
    }
    adjustment.kind = AdjustmentKind::Threshold;
    adjustment.key = key;
    adjustment.threshold = static_cast<float>(value) / 255.0f;
    return true;
  }
  if (key == FourCc("brit")) {
    // Brightness, contrast, mean and Lab-only, two bytes each; a later "CgEd" says more.
    uint64_t brightness = 0, contrast = 0;
    if (!fields.Read(2, brightness) || !fields.Read(2, contrast) || mode == PsdModeCmyk) {
      return unsupported();
    }
    adjustment.kind = AdjustmentKind::BrightnessContrast;
    adjustment.key = key;
    adjustment.brightness = static_cast<int16_t>(brightness);
    adjustment.contrast = static_cast<int16_t>(contrast);
    adjustment.legacy = true;
    return true;
  }
  if (key == FourCc("CgEd")) {
    if (adjustment.kind != AdjustmentKind::BrightnessContrast) return true;
    const std::optional<Descriptor> settings = ReadVersionedDescriptor(block);
    if (!settings) return true;
    adjustment.brightness = static_cast<float>(std::clamp(settings->Number("Brgh"), -150.0, 150.0));
    adjustment.contrast = static_cast<float>(std::clamp(settings->Number("Cntr"), -100.0, 100.0));
    adjustment.legacy = settings->Flag("useLegacy");
    return true;
  }
  if (key == FourCc("SoCo")) {
    const std::optional<Descriptor> fill = ReadVersionedDescriptor(block);
    const Descriptor* colour = fill ? fill->Object("Clr ") : nullptr;
    const std::optional<std::array<float, 4>> stored =
        colour ? DocumentColour(*colour, mode) : std::nullopt;
    if (!stored) return unsupported();
    adjustment.kind = AdjustmentKind::SolidColour;
    adjustment.key = key;
    adjustment.colour = *stored;
    return true;
  }
  for (const uint32_t undrawn : UndrawnKeys) {
    if (key == undrawn) return unsupported();
  }
  return false;
}

void ApplyAdjustment(const LayerAdjustment& adjustment, uint16_t mode, float* pixel, int colours) {
  switch (adjustment.kind) {
    case AdjustmentKind::Invert:
      for (int c = 0; c < colours; ++c) pixel[c] = 1 - std::clamp(pixel[c], 0.0f, 1.0f);
      return;
    case AdjustmentKind::Posterize: {
      // Equal bins over the levels, each given one of `levels` evenly spaced values; CMYK is
      // posterized in ink, as it is shown.
      const float n = static_cast<float>(adjustment.levels);
      for (int c = 0; c < colours; ++c) {
        float v = std::clamp(pixel[c], 0.0f, 1.0f);
        if (mode == PsdModeCmyk) v = 1 - v;
        v = std::min(std::floor(v * n), n - 1) / (n - 1);
        pixel[c] = mode == PsdModeCmyk ? 1 - v : v;
      }
      return;
    }
    case AdjustmentKind::Threshold: {
      const float level = colours >= 3 ? Luma(pixel) : pixel[0];
      // Compared at 8 bits, as the level is given.
      const float out =
          std::round(level * 255.0f) >= std::round(adjustment.threshold * 255.0f) ? 1.0f : 0.0f;
      for (int c = 0; c < colours; ++c) pixel[c] = out;
      return;
    }
    case AdjustmentKind::BrightnessContrast:
      for (int c = 0; c < colours; ++c) {
        pixel[c] =
            adjustment.legacy
                ? LegacyBrightnessContrast(pixel[c], adjustment.brightness, adjustment.contrast)
                : BrightnessContrast(pixel[c], adjustment.brightness, adjustment.contrast);
      }
      return;
    default:
      return;
  }
}

std::optional<std::array<float, 4>> ReadDescriptorColour(const Descriptor& colour, uint16_t mode) {
  return DocumentColour(colour, mode);
}
