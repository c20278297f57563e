// Writes the target profiles an independent tool converts the corpus to, for the corpus colour
// check (tests/check_corpus_colours.sh): sRGB, and grey with the sRGB curve under a D50 white.
//   quorvix_reference_profiles SRGB_FILE GREY_FILE

#include <lcms2.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
  cmsHPROFILE grey = cmsCreateGrayProfile(cmsD50_xyY(), curve);
  const bool written =
      srgb && grey && cmsSaveProfileToFile(srgb, argv[1]) && cmsSaveProfileToFile(grey, argv[2]);
  cmsFreeToneCurve(curve);
  if (srgb) cmsCloseProfile(srgb);
  if (grey) cmsCloseProfile(grey);
  return written ? 0 : 1;
}
