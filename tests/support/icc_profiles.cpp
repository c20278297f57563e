#include "tests/support/icc_profiles.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

void AppendBig(std::string& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

double SrgbLevel(double linear) {
  linear = std::clamp(linear, 0.0, 1.0);
  const double encoded =
      linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return encoded * 255;
}

double LightnessToSrgbLevel(double lightness) {
  const double f = (lightness + 16) / 116;
  const double y = lightness > 8 ? f * f * f : lightness / 903.3;
  return SrgbLevel(y);
}

std::string CyanLightnessProfile() {
  std::string lut = "mft1";
  AppendBig(lut, 0, 4);
  lut += std::string{4, 3, 2, 0};  // in and out channels, grid points, padding
  for (int i = 0; i < 9; ++i) AppendBig(lut, i % 4 == 0 ? 0x10000 : 0, 4);  // identity matrix
  for (int channel = 0; channel < 4; ++channel) {
    for (int i = 0; i < 256; ++i) lut.push_back(static_cast<char>(i));
  }
  for (int corner = 0; corner < 16; ++corner) {
    const bool cyan = corner & 8;  // the first input channel varies slowest
    lut += std::string{static_cast<char>(cyan ? 255 : 0), static_cast<char>(128),
                       static_cast<char>(128)};
  }
  for (int channel = 0; channel < 3; ++channel) {
    for (int i = 0; i < 256; ++i) lut.push_back(static_cast<char>(i));
  }
  std::string white = "XYZ ";
  AppendBig(white, 0, 4);
  for (uint32_t value : {0xF6D6u, 0x10000u, 0xD32Du}) AppendBig(white, value, 4);  // D50

  const uint32_t table_end = 128 + 4 + 2 * 12;
  std::string profile;
  AppendBig(profile, static_cast<uint32_t>(table_end + lut.size() + white.size()), 4);
  AppendBig(profile, 0, 4);
  AppendBig(profile, 0x02100000, 4);
  profile += "scnrCMYKLab ";
  profile.append(12, '\0');
  profile += "acsp";
  profile.append(24, '\0');
  AppendBig(profile, 0, 4);  // perceptual
  for (uint32_t value : {0xF6D6u, 0x10000u, 0xD32Du}) AppendBig(profile, value, 4);
  profile.append(128 - profile.size(), '\0');
  AppendBig(profile, 2, 4);
  profile += "A2B0";
  AppendBig(profile, table_end, 4);
  AppendBig(profile, static_cast<uint32_t>(lut.size()), 4);
  profile += "wtpt";
  AppendBig(profile, static_cast<uint32_t>(table_end + lut.size()), 4);
  AppendBig(profile, static_cast<uint32_t>(white.size()), 4);
  return profile + lut + white;
}

std::string GammaGreyProfile(double gamma) {
  std::string white = "XYZ ";
  AppendBig(white, 0, 4);
  for (uint32_t value : {0xF6D6u, 0x10000u, 0xD32Du}) AppendBig(white, value, 4);  // D50
  std::string curve = "curv";
  AppendBig(curve, 0, 4);
  AppendBig(curve, 1, 4);  // one entry: a gamma, u8.8
  AppendBig(curve, static_cast<uint32_t>(std::lround(gamma * 256)), 2);
  curve.append(2, '\0');  // tags start on four-byte boundaries

  const uint32_t table_end = 128 + 4 + 2 * 12;
  std::string profile;
  AppendBig(profile, static_cast<uint32_t>(table_end + white.size() + curve.size()), 4);
  AppendBig(profile, 0, 4);
  AppendBig(profile, 0x02100000, 4);
  profile += "mntrGRAYXYZ ";
  profile.append(12, '\0');
  profile += "acsp";
  profile.append(24, '\0');
  AppendBig(profile, 0, 4);  // perceptual
  for (uint32_t value : {0xF6D6u, 0x10000u, 0xD32Du}) AppendBig(profile, value, 4);
  profile.append(128 - profile.size(), '\0');
  AppendBig(profile, 2, 4);
  profile += "wtpt";
  AppendBig(profile, table_end, 4);
  AppendBig(profile, static_cast<uint32_t>(white.size()), 4);
  profile += "kTRC";
  AppendBig(profile, static_cast<uint32_t>(table_end + white.size()), 4);
  AppendBig(profile, 14, 4);
  return profile + white + curve;
}
