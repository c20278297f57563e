#include "settings/program_settings.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ascii.h"
#include "platform/system.h"

ProgramSettings g_settings;
ProcessState g_process;

void ResetSettings(ProgramSettings& settings, bool at_start_up) {
  settings = ProgramSettings{};
  const int64_t now = LocalNowSeconds();
  settings.general.update_date = now;
  settings.advanced.custom_timestamp = now;

  // Centre the main window on the primary desktop when it is wider or taller than the window.
  const DesktopSize desktop = PrimaryDesktopSize();
  const WindowSettings window_defaults;
  settings.window.x =
      desktop.width > window_defaults.width ? (desktop.width - window_defaults.width) / 2 : 100;
  settings.window.y =
      desktop.height > window_defaults.height ? (desktop.height - window_defaults.height) / 2 : 100;

  if (!g_process.input_format_keys.empty()) settings.input.format = g_process.input_format_keys[0];
  if (!g_process.output_format_keys.empty()) {
    settings.output.format = g_process.output_format_keys[0];
  }
  settings.transform.keep_aspect_ratio = at_start_up ? 0 : 1;
}

namespace {

// The entries of each enumeration in stored order: the command-line keyword, then the interface
// text that names it in the window.
constexpr SettingChoice UpdateRangeChoices[] = {{"", "Every day"},      {"", "Every week"},
                                                {"", "Every month"},    {"", "Every 3 months"},
                                                {"", "Every 6 months"}, {"", "Never"}};
// The two largest sizes are kept in stored files but not offered.
constexpr SettingChoice UiSizeChoices[] = {
    {"", "Small"}, {"", "Medium"}, {"", "Large"}, {"", ""}, {"", ""}};
constexpr SettingChoice DdsLoadAsChoices[] = {{"AUTO", "Auto"}, {"BGRA", "BGRA"}, {"RGBA", "RGBA"}};
constexpr SettingChoice FrameLoadingChoices[] = {{"ALL", "All Frames"},
                                                 {"FIRST", "First Frame"},
                                                 {"MIDDLE", "Middle Frame"},
                                                 {"LAST", "Last Frame"},
                                                 {"RANDOM", "Random Frame"}};
constexpr SettingChoice RawLoadAsChoices[] = {{"AUTO", "Auto"},    {"8", "RGB8"},
                                              {"16", "RGB16"},     {"24", "RGB24"},
                                              {"48HS", "RGB48HS"}, {"48", "RGB48"}};
constexpr SettingChoice ToneMappingChoices[] = {{"NONE", "None"},
                                                {"LINEAR", "Linear"},
                                                {"AL", "Adaptive Logarithmic"},
                                                {"DRR", "DR Reduction"},
                                                {"GD", "Gradient Domain"}};
constexpr SettingChoice RleCompressionChoices[] = {{"NONE", "None"}, {"RLE", "RLE"}};
constexpr SettingChoice BmpColorTableChoices[] = {{"AUTO", "Auto"}, {"EXACT", "Exact"}};
constexpr SettingChoice ExrCompressionChoices[] = {
    {"NONE", "None"}, {"ZIP", "ZIP"}, {"PIZ", "PIZ"}, {"PXR24", "PXR24"}, {"B44", "B44"}};
constexpr SettingChoice JpgChromaChoices[] = {
    {"NONE", "None"}, {"LOW", "Low"}, {"MEDIUM", "Medium"}, {"HIGH", "High"}};
constexpr SettingChoice JpgSaveAsChoices[] = {{"STANDARD", "Baseline Standard"},
                                              {"SIMPLE", "Baseline Simple"},
                                              {"OPTIMIZED", "Baseline Optimized"},
                                              {"PROGRESSIVE", "Progressive"}};
constexpr SettingChoice PngCompressionChoices[] = {
    {"NONE", "None"}, {"ZLIB1", "ZLIB1"}, {"ZLIB6", "ZLIB6"}, {"ZLIB9", "ZLIB9"}};
constexpr SettingChoice TiffCompressionChoices[] = {
    {"NONE", "None"},         {"CCITTFAX3", "CCITTFAX3"}, {"CCITTFAX4", "CCITTFAX4"},
    {"PACKBITS", "PACKBITS"}, {"DEFLATE", "DEFLATE"},     {"ADOBEDEFLATE", "ADOBEDEFLATE"},
    {"LZW", "LZW"},           {"JPEG", "JPEG"},           {"LOGLUV", "LOGLUV"}};
// Lab is kept for stored files and the command line; the window offers RGB and CMYK.
constexpr SettingChoice TiffColorModelChoices[] = {{"RGB", "RGB"}, {"CMYK", "CMYK"}, {"LAB", ""}};
constexpr SettingChoice RotationTypeChoices[] = {{"SIMPLE", "Simple Rotation"},
                                                 {"ADVANCED", "Advanced Rotation"}};
constexpr SettingChoice SizeUnitChoices[] = {{"PIXELS", "Pixels"}, {"PERCENT", "Percent"}};
constexpr SettingChoice ResizeTypeChoices[] = {{"ALLIMAGES", "All Images"},
                                               {"LARGEIMAGES", "Large Images"}};
constexpr SettingChoice ResizeAlgorithmChoices[] = {
    {"BOX", "Box"},         {"BILINEAR", "Bilinear"},     {"BSPLINE", "Bspline"},
    {"BICUBIC", "Bicubic"}, {"CATMULLROM", "Catmullrom"}, {"LANCZOS", "Lanczos"}};
constexpr SettingChoice FrameChoices[] = {{"NONE", "None"}, {"SOLID", "Frame Solid"}};
constexpr SettingChoice WatermarkChoices[] = {
    {"NONE", "None"}, {"TEXT", "Watermark Text"}, {"IMAGE", "Watermark Image"}};
constexpr SettingChoice FontStyleChoices[] = {
    {"REGULAR", "Regular"}, {"BOLD", "Bold"}, {"ITALIC", "Italic"}, {"BOLDITALIC", "Bold Italic"}};
// "STRIKETHROUGHT" is the keyword users have always typed; keep its spelling.
constexpr SettingChoice FontEffectChoices[] = {
    {"NONE", "None"}, {"UNDERLINE", "Underline"}, {"STRIKETHROUGHT", "Strikeout"}};
constexpr SettingChoice TextAlignmentChoices[] = {
    {"LEFT", "Align Left"}, {"CENTER", "Align Center"}, {"RIGHT", "Align Right"}};
constexpr SettingChoice BoundaryChoices[] = {{"IMAGE", "Bound Image"}, {"FRAME", "Bound Frame"}};
constexpr SettingChoice PositionChoices[] = {
    {"TOPLEFT", "Top-Left"},           {"TOPCENTER", "Top-Center"},
    {"TOPRIGHT", "Top-Right"},         {"MIDDLELEFT", "Middle-Left"},
    {"MIDDLECENTER", "Middle-Center"}, {"MIDDLERIGHT", "Middle-Right"},
    {"BOTTOMLEFT", "Bottom-Left"},     {"BOTTOMCENTER", "Bottom-Center"},
    {"BOTTOMRIGHT", "Bottom-Right"}};
constexpr SettingChoice WatermarkSizeChoices[] = {{"FIXED", "Fixed"}};
constexpr SettingChoice FileTimestampChoices[] = {
    {"CURRENT", "Current"}, {"ORIGINAL", "Original"}, {"CUSTOM", "Custom"}};
constexpr SettingChoice FolderHistoryChoices[] = {{"", "Clean On Exit"}, {"", "Keep Folders"}};

}  // namespace

// One row a key, in declaration order. The lambda keeps the row independent of the record's
// nesting, so the config reader, the writer, the command line and the window all walk the same
// list.
#define QUORVIX_LOCATE(member) [](ProgramSettings& s) -> SettingRef { return &s.member; }
#define QUORVIX_FIELD(group, key, type, member) \
  SettingField { group, key, SettingType::type, QUORVIX_LOCATE(member) }
#define QUORVIX_ENUM(group, key, type, member, choices) \
  SettingField { group, key, SettingType::type, QUORVIX_LOCATE(member), choices }
#define QUORVIX_RANGE(group, key, type, member, min, max)                         \
  SettingField {                                                                  \
    group, key, SettingType::type, QUORVIX_LOCATE(member), {}, { min, max, true } \
  }

const std::vector<SettingField>& SettingFields() {
  static const std::vector<SettingField> fields = {
      QUORVIX_FIELD("General", "CFG", Long, general.cfg),
      QUORVIX_FIELD("General", "Language", String, general.language),
      QUORVIX_ENUM("General", "Update Range", Long, general.update_range, UpdateRangeChoices),
      QUORVIX_FIELD("General", "Update Date", Date, general.update_date),
      QUORVIX_FIELD("General", "Save Window Position", Byte, general.save_window_position),
      QUORVIX_FIELD("Window", "IsMaximized", Byte, window.is_maximized),
      QUORVIX_FIELD("Window", "X", Long, window.x),
      QUORVIX_FIELD("Window", "Y", Long, window.y),
      QUORVIX_FIELD("Window", "Width", Long, window.width),
      QUORVIX_FIELD("Window", "Height", Long, window.height),
      QUORVIX_FIELD("Interface", "UI Theme", String, interface.ui_theme),
      QUORVIX_ENUM("Interface", "UI Size", Long, interface.ui_size, UiSizeChoices),
      QUORVIX_FIELD("Input", "Format", String, input.format),
      QUORVIX_ENUM("Input", "DDS Load As", Long, input.dds_load_as, DdsLoadAsChoices),
      QUORVIX_ENUM("Input", "GIF Frame Loading", Long, input.gif_frame_loading,
                   FrameLoadingChoices),
      QUORVIX_ENUM("Input", "ICO Frame Loading", Long, input.ico_frame_loading,
                   FrameLoadingChoices),
      QUORVIX_ENUM("Input", "TIFF Frame Loading", Long, input.tiff_frame_loading,
                   FrameLoadingChoices),
      QUORVIX_ENUM("Input", "RAW Load As", Long, input.raw_load_as, RawLoadAsChoices),
      QUORVIX_FIELD("Input", "RAW Header Size", Long, input.raw_header_size),
      QUORVIX_FIELD("Input", "RAW Image Width", Long, input.raw_image_width),
      QUORVIX_FIELD("Input", "RAW Image Height", Long, input.raw_image_height),
      QUORVIX_ENUM("Input", "RAW Tone Mapping", Long, input.raw_tone_mapping, ToneMappingChoices),
      QUORVIX_FIELD("Input", "Rebuild From Layers", Byte, input.rebuild_from_layers),
      QUORVIX_FIELD("Output", "Format", String, output.format),
      QUORVIX_FIELD("Output", "BMP BPP", Long, output.bmp_bpp),
      QUORVIX_ENUM("Output", "BMP Compression", Long, output.bmp_compression,
                   RleCompressionChoices),
      QUORVIX_ENUM("Output", "BMP Color Table", Long, output.bmp_color_table, BmpColorTableChoices),
      QUORVIX_FIELD("Output", "DDS BPP", Long, output.dds_bpp),
      QUORVIX_FIELD("Output", "EXR BPP", Long, output.exr_bpp),
      QUORVIX_ENUM("Output", "EXR Compression", Long, output.exr_compression,
                   ExrCompressionChoices),
      QUORVIX_FIELD("Output", "GIF BPP", Long, output.gif_bpp),
      QUORVIX_FIELD("Output", "HDR BPP", Long, output.hdr_bpp),
      QUORVIX_FIELD("Output", "ICO BPP", Long, output.ico_bpp),
      QUORVIX_FIELD("Output", "J2K BPP", Long, output.j2k_bpp),
      QUORVIX_FIELD("Output", "JNG BPP", Long, output.jng_bpp),
      QUORVIX_FIELD("Output", "JP2 BPP", Long, output.jp2_bpp),
      QUORVIX_FIELD("Output", "JPG BPP", Long, output.jpg_bpp),
      QUORVIX_RANGE("Output", "JPG Quality", Long, output.jpg_quality, 1, 100),
      QUORVIX_ENUM("Output", "JPG Chroma", Long, output.jpg_chroma, JpgChromaChoices),
      QUORVIX_ENUM("Output", "JPG Save As", Long, output.jpg_save_as, JpgSaveAsChoices),
      QUORVIX_FIELD("Output", "JXR BPP", Long, output.jxr_bpp),
      QUORVIX_FIELD("Output", "PBM BPP", Long, output.pbm_bpp),
      QUORVIX_FIELD("Output", "PCX BPP", Long, output.pcx_bpp),
      QUORVIX_FIELD("Output", "PFM BPP", Long, output.pfm_bpp),
      QUORVIX_FIELD("Output", "PGM BPP", Long, output.pgm_bpp),
      QUORVIX_FIELD("Output", "PNG BPP", Long, output.png_bpp),
      QUORVIX_ENUM("Output", "PNG Compression", Long, output.png_compression,
                   PngCompressionChoices),
      QUORVIX_FIELD("Output", "PNG Interlaced", Byte, output.png_interlaced),
      QUORVIX_FIELD("Output", "PPM BPP", Long, output.ppm_bpp),
      QUORVIX_FIELD("Output", "PSD BPP", Long, output.psd_bpp),
      QUORVIX_FIELD("Output", "TGA BPP", Long, output.tga_bpp),
      QUORVIX_ENUM("Output", "TGA Compression", Long, output.tga_compression,
                   RleCompressionChoices),
      QUORVIX_FIELD("Output", "TIFF BPP", Long, output.tiff_bpp),
      QUORVIX_ENUM("Output", "TIFF Compression", Long, output.tiff_compression,
                   TiffCompressionChoices),
      QUORVIX_ENUM("Output", "TIFF Color Model", Long, output.tiff_color_model,
                   TiffColorModelChoices),
      QUORVIX_FIELD("Output", "WBMP BPP", Long, output.wbmp_bpp),
      QUORVIX_FIELD("Output", "WEBP BPP", Long, output.webp_bpp),
      QUORVIX_FIELD("Output", "XPM BPP", Long, output.xpm_bpp),
      QUORVIX_FIELD("Output", "Keep ICC Profile", Byte, output.keep_icc_profile),
      QUORVIX_FIELD("Transform", "Do Image Rotation", Byte, transform.do_image_rotation),
      QUORVIX_ENUM("Transform", "Image Rotation Type", Byte, transform.image_rotation_type,
                   RotationTypeChoices),
      QUORVIX_RANGE("Transform", "Image Rotation", Long, transform.image_rotation, 0, 360),
      QUORVIX_FIELD("Transform", "Image Rotation Back Color", Colour,
                    transform.image_rotation_back_color),
      QUORVIX_FIELD("Transform", "Do Image Resize", Byte, transform.do_image_resize),
      QUORVIX_FIELD("Transform", "Image Width", Long, transform.image_width),
      QUORVIX_ENUM("Transform", "Image Width Unit", Byte, transform.image_width_unit,
                   SizeUnitChoices),
      QUORVIX_FIELD("Transform", "Image Height", Long, transform.image_height),
      QUORVIX_ENUM("Transform", "Image Height Unit", Byte, transform.image_height_unit,
                   SizeUnitChoices),
      QUORVIX_FIELD("Transform", "Keep Aspect Ratio", Byte, transform.keep_aspect_ratio),
      QUORVIX_ENUM("Transform", "Image Resize Type", Byte, transform.image_resize_type,
                   ResizeTypeChoices),
      QUORVIX_ENUM("Transform", "Image Resize Algorithm", Byte, transform.image_resize_algorithm,
                   ResizeAlgorithmChoices),
      QUORVIX_FIELD("Transform", "Do Image Flip Horizontal", Byte,
                    transform.do_image_flip_horizontal),
      QUORVIX_FIELD("Transform", "Do Image Flip Vertical", Byte, transform.do_image_flip_vertical),
      QUORVIX_FIELD("Adjustment", "Do Image Color Correction", Byte,
                    adjustment.do_image_color_correction),
      QUORVIX_RANGE("Adjustment", "Image Brightness", Long, adjustment.image_brightness, -100, 100),
      QUORVIX_RANGE("Adjustment", "Image Contrast", Long, adjustment.image_contrast, -100, 100),
      QUORVIX_RANGE("Adjustment", "Image Gamma", Float, adjustment.image_gamma, 0.01f, 9.99f),
      QUORVIX_FIELD("Adjustment", "Image Invert", Byte, adjustment.image_invert),
      QUORVIX_FIELD("Adjustment", "Do Image Greyscale", Byte, adjustment.do_image_greyscale),
      QUORVIX_FIELD("Adjustment", "Do Image Threshold", Byte, adjustment.do_image_threshold),
      QUORVIX_RANGE("Adjustment", "Image Threshold", Long, adjustment.image_threshold, 0, 255),
      QUORVIX_ENUM("Frame", "Do Frame", Byte, frame.do_frame, FrameChoices),
      QUORVIX_FIELD("Frame", "Solid Left", Long, frame.solid_left),
      QUORVIX_FIELD("Frame", "Solid Right", Long, frame.solid_right),
      QUORVIX_FIELD("Frame", "Solid Top", Long, frame.solid_top),
      QUORVIX_FIELD("Frame", "Solid Bottom", Long, frame.solid_bottom),
      QUORVIX_FIELD("Frame", "Solid Left Color", Colour, frame.solid_left_color),
      QUORVIX_FIELD("Frame", "Solid Right Color", Colour, frame.solid_right_color),
      QUORVIX_FIELD("Frame", "Solid Top Color", Colour, frame.solid_top_color),
      QUORVIX_FIELD("Frame", "Solid Bottom Color", Colour, frame.solid_bottom_color),
      QUORVIX_RANGE("Frame", "Solid Opacity", Long, frame.solid_opacity, 1, 255),
      QUORVIX_ENUM("Watermark", "Do Watermark", Byte, watermark.do_watermark, WatermarkChoices),
      QUORVIX_FIELD("Watermark", "Text", String, watermark.text),
      QUORVIX_FIELD("Watermark", "Fonts", String, watermark.fonts),
      QUORVIX_FIELD("Watermark", "Font", String, watermark.font),
      QUORVIX_RANGE("Watermark", "Font Size", Long, watermark.font_size, 1, 4000),
      QUORVIX_FIELD("Watermark", "Font Leading", Long, watermark.font_leading),
      QUORVIX_FIELD("Watermark", "Font Colors", String, watermark.font_colors),
      QUORVIX_FIELD("Watermark", "Font Color", Colour, watermark.font_color),
      QUORVIX_ENUM("Watermark", "Font Style", Byte, watermark.font_style, FontStyleChoices),
      QUORVIX_ENUM("Watermark", "Font Effect", Byte, watermark.font_effect, FontEffectChoices),
      QUORVIX_FIELD("Watermark", "Text Antialiasing", Byte, watermark.text_antialiasing),
      QUORVIX_ENUM("Watermark", "Text Alignment", Byte, watermark.text_alignment,
                   TextAlignmentChoices),
      QUORVIX_FIELD("Watermark", "Text Padding", Long, watermark.text_padding),
      QUORVIX_RANGE("Watermark", "Text Opacity", Long, watermark.text_opacity, 1, 255),
      QUORVIX_FIELD("Watermark", "Back Colors", String, watermark.back_colors),
      QUORVIX_FIELD("Watermark", "Back Color", Colour, watermark.back_color),
      QUORVIX_RANGE("Watermark", "Back Opacity", Long, watermark.back_opacity, 1, 255),
      QUORVIX_ENUM("Watermark", "Text Boundary", Byte, watermark.text_boundary, BoundaryChoices),
      QUORVIX_ENUM("Watermark", "Text Position", Byte, watermark.text_position, PositionChoices),
      QUORVIX_FIELD("Watermark", "Text X Offset", Long, watermark.text_x_offset),
      QUORVIX_FIELD("Watermark", "Text Y Offset", Long, watermark.text_y_offset),
      QUORVIX_RANGE("Watermark", "Text Rotation", Long, watermark.text_rotation, 0, 360),
      QUORVIX_ENUM("Watermark", "Text Size", Byte, watermark.text_size, WatermarkSizeChoices),
      QUORVIX_RANGE("Watermark", "Text Scale", Long, watermark.text_scale, 1, 200),
      QUORVIX_FIELD("Watermark", "Image", String, watermark.image),
      QUORVIX_FIELD("Watermark", "Image Greyscale", Byte, watermark.image_greyscale),
      QUORVIX_RANGE("Watermark", "Image Opacity", Long, watermark.image_opacity, 1, 255),
      QUORVIX_ENUM("Watermark", "Image Boundary", Byte, watermark.image_boundary, BoundaryChoices),
      QUORVIX_ENUM("Watermark", "Image Position", Byte, watermark.image_position, PositionChoices),
      QUORVIX_FIELD("Watermark", "Image X Offset", Long, watermark.image_x_offset),
      QUORVIX_FIELD("Watermark", "Image Y Offset", Long, watermark.image_y_offset),
      QUORVIX_RANGE("Watermark", "Image Rotation", Long, watermark.image_rotation, 0, 360),
      QUORVIX_ENUM("Watermark", "Image Size", Byte, watermark.image_size, WatermarkSizeChoices),
      QUORVIX_RANGE("Watermark", "Image Scale", Long, watermark.image_scale, 1, 200),
      QUORVIX_FIELD("Advanced", "Filename Mask", String, advanced.filename_mask),
      QUORVIX_ENUM("Advanced", "File Timestamp", Byte, advanced.file_timestamp,
                   FileTimestampChoices),
      QUORVIX_FIELD("Advanced", "Custom Timestamp", Date, advanced.custom_timestamp),
      QUORVIX_ENUM("Advanced", "Out Folders History", Byte, advanced.out_folders_history,
                   FolderHistoryChoices),
      QUORVIX_FIELD("Advanced", "Out Folders Number", Byte, advanced.out_folders_number),
      QUORVIX_FIELD("Advanced", "Keep Subfolders", Byte, advanced.keep_subfolders),
      QUORVIX_FIELD("Advanced", "Include Subfolders", Byte, advanced.include_subfolders),
      QUORVIX_FIELD("File", "Recent Out Folders", String, file.recent_out_folders),
      QUORVIX_FIELD("File", "Recent Files", String, file.recent_files),
      QUORVIX_FIELD("Privacy", "Clean Recent Files", Byte, privacy.clean_recent_files),
  };
  return fields;
}

#undef QUORVIX_RANGE
#undef QUORVIX_ENUM
#undef QUORVIX_FIELD
#undef QUORVIX_LOCATE

ConstSettingRef SettingField::Read(const ProgramSettings& settings) const {
  // The record is only read through the pointer handed out here.
  return std::visit([](auto* field) -> ConstSettingRef { return field; },
                    locate(const_cast<ProgramSettings&>(settings)));
}

const SettingField* FindSetting(std::string_view group, std::string_view key) {
  for (const SettingField& field : SettingFields()) {
    if (EqualsIgnoringCase(field.group, group) && EqualsIgnoringCase(field.key, key)) return &field;
  }
  return nullptr;
}

const SettingField& SettingOf(std::string_view group, std::string_view key) {
  const SettingField* field = FindSetting(group, key);
  if (!field) std::abort();  // a misspelt key in the program's own code
  return *field;
}

int32_t* OutputBppSetting(ProgramSettings& settings, std::string_view format_key) {
  const std::string key = ToUpperAscii(format_key) + " BPP";
  const SettingField* field = FindSetting("Output", key);
  if (!field) return nullptr;
  const SettingRef ref = field->locate(settings);
  int32_t* const* value = std::get_if<int32_t*>(&ref);
  return value ? *value : nullptr;
}

const int32_t* OutputBppSetting(const ProgramSettings& settings, std::string_view format_key) {
  // The field is only located, never written, through the record.
  return OutputBppSetting(const_cast<ProgramSettings&>(settings), format_key);
}
