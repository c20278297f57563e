#pragma once

// The one record of every user setting, one field per configuration key, grouped as in config.ini.
// Each field's default stands once, on the field; the key table below names each field once.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

// Enumerations are stored in the record as their numbers; these name the numbers.
enum class UpdateRange : int32_t {
  EveryDay,
  EveryWeek,
  EveryMonth,
  Every3Months,
  Every6Months,
  Never
};
enum class UiSize : int32_t { Small, Medium, Large, ExtraLarge, Huge };
enum class DdsLoadAs : int32_t { Auto, Bgra, Rgba };
enum class FrameLoading : int32_t { All, First, Middle, Last, Random };
enum class RawLoadAs : int32_t { Auto, Rgb8, Rgb16, Rgb24, Rgb48HS, Rgb48 };
enum class ToneMapping : int32_t { None, Linear, AdaptiveLogarithmic, DrReduction, GradientDomain };
enum class BmpCompression : int32_t { None, Rle };
enum class TgaCompression : int32_t { None, Rle };
enum class ExrCompression : int32_t { None, Zip, Piz, Pxr24, B44 };
enum class PngCompression : int32_t { None, Zlib1, Zlib6, Zlib9 };
enum class TiffCompression : int32_t {
  None,
  CcittFax3,
  CcittFax4,
  PackBits,
  Deflate,
  AdobeDeflate,
  Lzw,
  Jpeg,
  LogLuv
};
enum class BmpColorTable : int32_t { Auto, Exact };
enum class JpgChroma : int32_t { None, Low, Medium, High };
enum class JpgSaveAs : int32_t { BaselineStandard, BaselineSimple, BaselineOptimized, Progressive };
enum class TiffColorModel : int32_t { Rgb, Cmyk, Lab };
enum class RotationType : int8_t { Simple, Advanced };
enum class SizeUnit : int8_t { Pixels, Percent };
enum class ResizeType : int8_t { AllImages, LargeImages };
enum class ResizeAlgorithm : int8_t { Box, Bilinear, BSpline, Bicubic, CatmullRom, Lanczos };
enum class FrameType : int8_t { None, Solid };
enum class WatermarkType : int8_t { None, Text, Image };
enum class FontStyle : int8_t { Regular, Bold, Italic, BoldItalic };
enum class FontEffect : int8_t { None, Underline, Strikethrough };
enum class TextAlignment : int8_t { Left, Center, Right };
enum class Boundary : int8_t { Image, Frame };
enum class Position : int8_t {
  TopLeft,
  TopCenter,
  TopRight,
  MiddleLeft,
  MiddleCenter,
  MiddleRight,
  BottomLeft,
  BottomCenter,
  BottomRight
};
enum class WatermarkSize : int8_t { Fixed };
enum class FileTimestamp : int8_t { Current, Original, Custom };
enum class FolderHistory : int8_t { CleanOnExit, KeepRecent };

/// The stored number of an enumeration value.
template <typename Enum>
constexpr auto ToValue(Enum value) {
  return static_cast<std::underlying_type_t<Enum>>(value);
}

/// The maker's one-line notice: default watermark text, shown in the windows and the banner.
inline constexpr std::string_view NoticeText = "\u00A9 2024-2026 Halvane";

struct GeneralSettings {
  int32_t cfg = 17;
  std::string language = "en";
  int32_t update_range = ToValue(UpdateRange::EveryMonth);
  int64_t update_date = 0;
  int8_t save_window_position = 1;
};

struct WindowSettings {
  int8_t is_maximized = 0;
  int32_t x = 100;
  int32_t y = 100;
  int32_t width = 510;
  int32_t height = 260;
};

struct InterfaceSettings {
  std::string ui_theme = "handdrawn";
  int32_t ui_size = ToValue(UiSize::Large);
};

struct InputSettings {
  std::string format = "psd";
  int32_t dds_load_as = 0;
  int32_t gif_frame_loading = 0;
  int32_t ico_frame_loading = 0;
  int32_t tiff_frame_loading = 0;
  int32_t raw_load_as = 0;
  int32_t raw_header_size = 0;
  int32_t raw_image_width = 0;
  int32_t raw_image_height = 0;
  int32_t raw_tone_mapping = ToValue(ToneMapping::AdaptiveLogarithmic);
  /// 0: a document's picture is rebuilt from its layers only when its composite is missing or a
  /// placeholder; 1: always.
  int8_t rebuild_from_layers = 0;
};

struct OutputSettings {
  std::string format = "png";
  int32_t bmp_bpp = 0;
  int32_t bmp_compression = 0;
  int32_t bmp_color_table = 0;
  int32_t dds_bpp = 0;
  int32_t exr_bpp = 0;
  int32_t exr_compression = 0;
  int32_t gif_bpp = 0;
  int32_t hdr_bpp = 0;
  int32_t ico_bpp = 0;
  int32_t j2k_bpp = 0;
  int32_t jng_bpp = 0;
  int32_t jp2_bpp = 0;
  int32_t jpg_bpp = 0;
  int32_t jpg_quality = 95;
  int32_t jpg_chroma = 0;
  int32_t jpg_save_as = 0;
  int32_t jxr_bpp = 0;
  int32_t pbm_bpp = 0;
  int32_t pcx_bpp = 0;
  int32_t pfm_bpp = 0;
  int32_t pgm_bpp = 0;
  int32_t png_bpp = 0;
  int32_t png_compression = 0;
  int8_t png_interlaced = 0;
  int32_t ppm_bpp = 0;
  int32_t psd_bpp = 0;
  int32_t tga_bpp = 0;
  int32_t tga_compression = 0;
  int32_t tiff_bpp = 0;
  int32_t tiff_compression = 0;
  int32_t tiff_color_model = 0;
  int32_t wbmp_bpp = 0;
  int32_t webp_bpp = 0;
  int32_t xpm_bpp = 0;
  // Keep the document's own samples and write its ICC profile, instead of sRGB pixels.
  int8_t keep_icc_profile = 0;
};

struct TransformSettings {
  int8_t do_image_rotation = 0;
  int8_t image_rotation_type = ToValue(RotationType::Simple);
  int32_t image_rotation = 0;
  std::string image_rotation_back_color = "000000";
  int8_t do_image_resize = 0;
  int32_t image_width = 0;
  int8_t image_width_unit = ToValue(SizeUnit::Pixels);
  int32_t image_height = 0;
  int8_t image_height_unit = ToValue(SizeUnit::Pixels);
  int8_t keep_aspect_ratio = 1;
  int8_t image_resize_type = ToValue(ResizeType::AllImages);
  int8_t image_resize_algorithm = ToValue(ResizeAlgorithm::Bicubic);
  int8_t do_image_flip_horizontal = 0;
  int8_t do_image_flip_vertical = 0;
};

struct AdjustmentSettings {
  int8_t do_image_color_correction = 0;
  int32_t image_brightness = 0;
  int32_t image_contrast = 0;
  float image_gamma = 1.0f;
  int8_t image_invert = 0;
  int8_t do_image_greyscale = 0;
  int8_t do_image_threshold = 0;
  int32_t image_threshold = 0;
};

struct FrameSettings {
  int8_t do_frame = ToValue(FrameType::None);
  int32_t solid_left = 0;
  int32_t solid_right = 0;
  int32_t solid_top = 0;
  int32_t solid_bottom = 0;
  std::string solid_left_color = "000000";
  std::string solid_right_color = "000000";
  std::string solid_top_color = "000000";
  std::string solid_bottom_color = "000000";
  int32_t solid_opacity = 255;
};

struct WatermarkSettings {
  int8_t do_watermark = ToValue(WatermarkType::None);
  std::string text = std::string(NoticeText);
  std::string fonts = "Arial,Tahoma,Verdana";
  std::string font = "Arial";
  int32_t font_size = 14;
  int32_t font_leading = 0;
  std::string font_colors = "000000,FFFFFF,FF0000,FF8000,FFFF00,008000,00FFFF,0000FF,8000FF";
  std::string font_color = "FFFFFF";
  int8_t font_style = ToValue(FontStyle::Regular);
  int8_t font_effect = ToValue(FontEffect::None);
  int8_t text_antialiasing = 0;
  int8_t text_alignment = ToValue(TextAlignment::Left);
  int32_t text_padding = 0;
  int32_t text_opacity = 255;
  std::string back_colors = "000000,FFFFFF,FF0000,FF8000,FFFF00,008000,00FFFF,0000FF,8000FF";
  std::string back_color = "000000";
  int32_t back_opacity = 1;
  int8_t text_boundary = ToValue(Boundary::Image);
  int8_t text_position = ToValue(Position::BottomRight);
  int32_t text_x_offset = 10;
  int32_t text_y_offset = 10;
  int32_t text_rotation = 0;
  int8_t text_size = ToValue(WatermarkSize::Fixed);
  int32_t text_scale = 10;
  std::string image;
  int8_t image_greyscale = 0;
  int32_t image_opacity = 255;
  int8_t image_boundary = ToValue(Boundary::Image);
  int8_t image_position = ToValue(Position::BottomRight);
  int32_t image_x_offset = 10;
  int32_t image_y_offset = 10;
  int32_t image_rotation = 0;
  int8_t image_size = ToValue(WatermarkSize::Fixed);
  int32_t image_scale = 10;
};

struct AdvancedSettings {
  std::string filename_mask = "%filename%.%ext%";
  int8_t file_timestamp = ToValue(FileTimestamp::Current);
  int64_t custom_timestamp = 0;
  int8_t out_folders_history = ToValue(FolderHistory::KeepRecent);
  int8_t out_folders_number = 5;
  int8_t keep_subfolders = 1;
  /// The window's folder inputs are walked with their subfolders; only 1 turns it on.
  int8_t include_subfolders = 0;
};

struct FileSettings {
  std::string recent_out_folders;
  std::string recent_files;
};

struct PrivacySettings {
  int8_t clean_recent_files = 0;
};

struct ProgramSettings {
  GeneralSettings general;
  WindowSettings window;
  InterfaceSettings interface;
  InputSettings input;
  OutputSettings output;
  TransformSettings transform;
  AdjustmentSettings adjustment;
  FrameSettings frame;
  WatermarkSettings watermark;
  AdvancedSettings advanced;
  FileSettings file;
  PrivacySettings privacy;
};

/// The process's one settings record.
extern ProgramSettings g_settings;

/// Sets every field of `settings` to its default; `at_start_up` is true only for a command-line
/// run.
void ResetSettings(ProgramSettings& settings, bool at_start_up);

/// Resets the global record.
inline void ResetSettings(bool at_start_up) { ResetSettings(g_settings, at_start_up); }

/// What a configuration type a field has: Date is a Long of local seconds, Colour a String.
enum class SettingType { Byte, Long, Float, String, Date, Colour };

/// A typed pointer to one field of a settings record.
using SettingRef = std::variant<int8_t*, int32_t*, int64_t*, float*, std::string*>;

/// A typed pointer to one field of a settings record that is only read.
using ConstSettingRef =
    std::variant<const int8_t*, const int32_t*, const int64_t*, const float*, const std::string*>;

/// One entry of an enumeration, at the position of its stored value.
struct SettingChoice {
  std::string_view keyword;   // the command-line keyword in upper case; empty when it has none
  std::string_view text_key;  // the interface text naming it; empty when the window offers none
};

/// The values a number may take, both ends included; floats as they are stored.
struct SettingRange {
  double min = 0;
  double max = 0;
  bool bounded = false;

  bool Contains(double value) const { return !bounded || (value >= min && value <= max); }
};

/// One configuration key: its group, its exact spelling, its type and where it lives, and for
/// numbers their range, for enumerations their entries.
struct SettingField {
  std::string_view group;
  std::string_view key;
  SettingType type;
  SettingRef (*locate)(ProgramSettings& settings);
  std::span<const SettingChoice> choices = {};
  SettingRange range = {};

  /// The field in `settings`, for reading only.
  ConstSettingRef Read(const ProgramSettings& settings) const;
};

/// Every key in declaration order, group by group.
const std::vector<SettingField>& SettingFields();

/// The field of `key` in `group`, compared without ASCII case; nullptr when there is none.
const SettingField* FindSetting(std::string_view group, std::string_view key);

/// The field of `key` in `group`, which must exist: the program's own code names it.
const SettingField& SettingOf(std::string_view group, std::string_view key);

/// The "... BPP" field of an output format key ("png" gives "PNG BPP"); nullptr when there is none.
int32_t* OutputBppSetting(ProgramSettings& settings, std::string_view format_key);
const int32_t* OutputBppSetting(const ProgramSettings& settings, std::string_view format_key);

/// Shared process state that is not a setting and never reaches config.ini.
struct ProcessState {
  std::string config_file_path;
  std::string program_folder;  // ends in "/"
  std::vector<std::string> input_format_keys{"psd"};
  std::vector<std::string> output_format_keys{"png"};
};

/// The process's one shared state.
extern ProcessState g_process;
