// The theme reader on arbitrary bytes, taken as a zip pack, as a description and as a PNG: no
// crash, and every picture handed out is within the bounds and as large as it says.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "themes/theme_pack.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckPictures(const std::map<std::string, RgbaPicture>& pictures) {
  for (const auto& [name, picture] : pictures) {
    Require(picture.width > 0 && picture.width <= static_cast<int32_t>(MaxThemePictureSide));
    Require(picture.height > 0 && picture.height <= static_cast<int32_t>(MaxThemePictureSide));
    Require(picture.pixels.size() == static_cast<size_t>(picture.width) * picture.height * 4);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  static const ThemeIconNames names = {{"Convert", "InFiles"},
                                       {"New", "Add", "Updates", "About"},
                                       {"New", "Add", "Updates", "About"}};
  const ThemePictures pictures = ReadThemePictures(bytes, names, {true, true, true, 32});
  CheckPictures(pictures.buttons);
  CheckPictures(pictures.menu);
  CheckPictures(pictures.toolbar);

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)GetThemeValue(text, "Icons", "New");
  (void)GetThemeValue(text, "Theme", "Name");

  if (const auto picture = DecodeThemePicture(bytes)) {
    CheckPictures({{"", *picture}});
  }
  return 0;
}
