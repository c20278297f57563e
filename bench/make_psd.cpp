// Writes the benchmark's documents: 4000 x 3000 (12 megapixels) in 8-bit RGB, 8-bit RGBA, 16-bit
// RGB and 16-bit grey, each raw and RLE-packed, and a 1000 x 1000 8-bit RGB one (where fixed
// costs show), into the folder given; and the 8-bit RGB pixels once more tagged with a wide-gamut
// profile (Adobe RGB (1998)'s primaries, white and gamma), whose conversion to sRGB is what they
// measure against the untagged ones. With --tiny only a 4 x 4 8-bit RGB one (where a batch's cost
// per file shows).
//   bench_make_psd FOLDER [--tiny]

#include <lcms2.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/support/psd_writer.h"

namespace {

constexpr uint32_t Width = 4000;
constexpr uint32_t Height = 3000;
constexpr uint32_t SmallSide = 1000;

// Smooth gradients with a little noise: like a photograph, neither trivial for zlib nor for
// PackBits, and every channel different.
uint32_t Sample(uint32_t x, uint32_t y, uint32_t channel, uint16_t depth) {
  uint32_t hash = x * 73856093u ^ y * 19349663u ^ channel * 83492791u;
  hash ^= hash >> 13;
  const uint32_t noise = hash & 7;
  uint32_t value = 0;
  switch (channel) {
    case 0:
      value = x * 255 / Width;
      break;
    case 1:
      value = y * 255 / Height;
      break;
    case 2:
      value = (x + y) * 255 / (Width + Height);
      break;
    default:
      value = (x / 500 + y / 500) % 2 ? 255 : 128;
      break;  // alpha: opaque and half
  }
  if (channel < 3) value = value > 247 ? value - noise : value + noise;
  return depth == 16 ? value * 257 + (hash >> 8 & 0xFF) : value;
}

std::string WideGamutProfile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 563.0 / 256);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::string bytes(size, '\0');
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

bool Write(const std::string& folder, const char* name, PsdMode mode, uint16_t depth,
           uint16_t channels, uint32_t width = Width, uint32_t height = Height,
           const std::string& profile = {}) {
  PsdSpec spec = MakePsdSpec(mode, depth, width, height, channels);
  if (!profile.empty()) spec.resources.push_back(PsdIccProfileResource(profile));
  FillPsdPlanes(spec, [depth](uint32_t x, uint32_t y, uint32_t channel) {
    return Sample(x, y, channel, depth);
  });
  for (const PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
    spec.compression = compression;
    const std::string path =
        folder + "/" + name + (compression == PsdCompression::Raw ? "-raw.psd" : "-rle.psd");
    if (!WritePsdFile(path, spec)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  const std::string folder = argv[1];
  if (argc == 3) {
    if (std::string(argv[2]) != "--tiny") return 2;
    return Write(folder, "tiny-rgb8", PsdMode::Rgb, 8, 3, 4, 4) ? 0 : 1;
  }
  const bool written =
      Write(folder, "rgb8", PsdMode::Rgb, 8, 3) && Write(folder, "rgba8", PsdMode::Rgb, 8, 4) &&
      Write(folder, "rgb16", PsdMode::Rgb, 16, 3) &&
      Write(folder, "grey16", PsdMode::Greyscale, 16, 1) &&
      Write(folder, "small-rgb8", PsdMode::Rgb, 8, 3, SmallSide, SmallSide) &&
      Write(folder, "widergb8", PsdMode::Rgb, 8, 3, Width, Height, WideGamutProfile());
  return written ? 0 : 1;
}
