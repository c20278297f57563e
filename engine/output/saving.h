#pragma once

// The output depth, its conversion, the save flags of an output format and the save itself.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/image/bitmap.h"
#include "settings/program_settings.h"

/// The FreeImage save flags that the "Output" options of `output_key` give; 0 for keys without
/// options. A value outside an option's list adds nothing.
int32_t SaveFlagsFor(std::string_view output_key, const ProgramSettings& settings);

/// The "<KEY> BPP" setting of `output_key`: a depth, or 0 for automatic (also when the key has no
/// such setting).
int32_t TargetDepthSetting(std::string_view output_key, const ProgramSettings& settings);

/// The first allowed depth of `output_key` that holds `source_bpp`, else its largest; 0 when the
/// key is unknown.
int32_t ChooseAutoDepth(std::string_view output_key, int32_t source_bpp);

/// The automatic depth of `image` (loaded with `source_bpp` bits per pixel) for `output_key`.
/// An automatic depth never turns grey into colour: 16-bit grey keeps its 16 bits in PNG unless
/// `eight_bits_needed`, and goes to 8 bits elsewhere, where the format takes 8; everything else
/// gets ChooseAutoDepth of `source_bpp`.
int32_t ChooseAutoDepth(std::string_view output_key, FIBITMAP* image, int32_t source_bpp,
                        bool eight_bits_needed);

/// Whether `image`, the picture the steps left of a grey document, goes to `output_key` as grey
/// though its bitmap is RGBA (which carries the transparency no grey bitmap type does): PNG, 8 or
/// 16 bits per channel, every pixel's red, green and blue still alike. Such a picture is saved
/// with PngGreyFromRgba.
bool KeepsGreyInRgba(std::string_view output_key, FIBITMAP* image);

/// Converts the image to `target_bpp` bits per pixel as `output_key` wants it; unchanged when it
/// already has that depth; empty when the depth cannot be made.
Bitmap ConvertToTargetDepth(Bitmap image, std::string_view output_key, int32_t target_bpp);

/// Saves the image as FreeImage format `fif` to `path` through the atomic file writer: on failure,
/// or when the program is killed meanwhile, nothing new is left and an existing file is kept; a
/// replaced file keeps its permission bits.
bool SaveImage(const Bitmap& image, int32_t fif, const std::string& path, int32_t flags);
