#include "tests/support/icc_profiles.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

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
// twelve characters) holding `tags` (signature, data) in the order given; tags start on four-byte
// boundaries.
std::string TaggedProfile(const std::string& class_and_spaces,
                          const std::vector<std::pair<std::string, std::string>>& tags) {
  const auto table_end = static_cast<uint32_t>(128 + 4 + 12 * tags.size());
  std::string table;
  std::string data;
  AppendBig(table, static_cast<uint32_t>(tags.size()), 4);
  for (const auto& [signature, bytes] : tags) {
    table += signature;
    AppendBig(table, static_cast<uint32_t>(table_end + data.size()), 4);
    AppendBig(table, static_cast<uint32_t>(bytes.size()), 4);
    data += bytes;
    data.append((4 - data.size() % 4) % 4, '\0');
  }
  std::string profile;
  AppendBig(profile, static_cast<uint32_t>(table_end + data.size()), 4);
  AppendBig(profile, 0, 4);
  AppendBig(profile, 0x02100000, 4);
  profile += class_and_spaces;
  profile.append(12, '\0');
  profile += "acsp";
  profile.append(24, '\0');
  AppendBig(profile, 0, 4);                                                          // perceptual
  for (uint32_t value : {0xF6D6u, 0x10000u, 0xD32Du}) AppendBig(profile, value, 4);  // D50
  profile.append(128 - profile.size(), '\0');
  return profile + table + data;
}

// A curve tag of one entry: a plain gamma, u8.8.
std::string GammaCurve(double gamma) {
  std::string curve = "curv";
  AppendBig(curve, 0, 4);
  AppendBig(curve, 1, 4);
  AppendBig(curve, static_cast<uint32_t>(std::lround(gamma * 256)), 2);
  return curve;
}

// An XYZ tag of one value, s15.16.
std::string XyzTag(double x, double y, double z) {
  std::string tag = "XYZ ";
  AppendBig(tag, 0, 4);
  for (double value : {x, y, z})
    AppendBig(tag, static_cast<uint32_t>(std::lround(value * 65536)), 4);
  return tag;
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
  return TaggedProfile("scnrCMYKLab ", {{"A2B0", lut}, {"wtpt", D50WhitePoint()}});
}

std::string GammaGreyProfile(double gamma) {
  return TaggedProfile("mntrGRAYXYZ ", {{"wtpt", D50WhitePoint()}, {"kTRC", GammaCurve(gamma)}});
}

std::string GammaRgbProfile(double gamma) {
  const std::string curve = GammaCurve(gamma);
  return TaggedProfile("mntrRGB XYZ ", {{"wtpt", D50WhitePoint()},
                                        {"rXYZ", XyzTag(0.4361, 0.2225, 0.0139)},
                                        {"gXYZ", XyzTag(0.3851, 0.7169, 0.0971)},
                                        {"bXYZ", XyzTag(0.1431, 0.0606, 0.7141)},
                                        {"rTRC", curve},
                                        {"gTRC", curve},
                                        {"bTRC", curve}});
}
