#include "tests/support/icc_profiles.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

void AppendBig(std::string& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// The D50 white point tag every profile here carries.
std::string D50WhitePoint() {
  std::string white = "XYZ ";
  AppendBig(white, 0, 4);
  for (uint32_t value : {0xF6D6u, 0x10000u, 0xD32Du}) AppendBig(white, value, 4);
  return white;
}

// A version 2.1 profile of `class_and_spaces` (device class, colour space and connection space,
// twelve characters) holding the two tags in the order given; tags start on four-byte boundaries.
std::string TwoTagProfile(const std::string& class_and_spaces, const char* first_signature,
                          std::string first, const char* second_signature, std::string second) {
  const uint32_t first_size = static_cast<uint32_t>(first.size());
  const uint32_t second_size = static_cast<uint32_t>(second.size());
  first.append((4 - first.size() % 4) % 4, '\0');
  second.append((4 - second.size() % 4) % 4, '\0');
  const uint32_t table_end = 128 + 4 + 2 * 12;
  std::string profile;
  AppendBig(profile, static_cast<uint32_t>(table_end + first.size() + second.size()), 4);
  AppendBig(profile, 0, 4);
  AppendBig(profile, 0x02100000, 4);
  profile += class_and_spaces;
  profile.append(12, '\0');
  profile += "acsp";
  profile.append(24, '\0');
  AppendBig(profile, 0, 4);                                                          // perceptual
  for (uint32_t value : {0xF6D6u, 0x10000u, 0xD32Du}) AppendBig(profile, value, 4);  // D50
  profile.append(128 - profile.size(), '\0');
  AppendBig(profile, 2, 4);
  profile += first_signature;
  AppendBig(profile, table_end, 4);
  AppendBig(profile, first_size, 4);
  profile += second_signature;
  AppendBig(profile, static_cast<uint32_t>(table_end + first.size()), 4);
  AppendBig(profile, second_size, 4);
  return profile + first + second;
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
  return TwoTagProfile("scnrCMYKLab ", "A2B0", lut, "wtpt", D50WhitePoint());
}

std::string GammaGreyProfile(double gamma) {
  std::string curve = "curv";
  AppendBig(curve, 0, 4);
  AppendBig(curve, 1, 4);  // one entry: a gamma, u8.8
  AppendBig(curve, static_cast<uint32_t>(std::lround(gamma * 256)), 2);
  return TwoTagProfile("mntrGRAYXYZ ", "wtpt", D50WhitePoint(), "kTRC", curve);
}
