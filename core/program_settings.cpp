#include "core/program_settings.h"

#include <algorithm>

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

// One row a key, in declaration order. The lambda keeps the row independent of the record's
// nesting, so the config reader, the writer and the command line all walk the same list.
#define QUORVIX_FIELD(group, key, type, member)                                               \
  SettingField {                                                                              \
    group, key, SettingType::type, [](ProgramSettings& s) -> SettingRef { return &s.member; } \
  }

const std::vector<SettingField>& SettingFields() {
  static const std::vector<SettingField> fields = {
      QUORVIX_FIELD("General", "CFG", Long, general.cfg),
      QUORVIX_FIELD("General", "Language", String, general.language),
      QUORVIX_FIELD("General", "Update Range", Long, general.update_range),
      QUORVIX_FIELD("General", "Update Date", Date, general.update_date),
      QUORVIX_FIELD("General", "Save Window Position", Byte, general.save_window_position),
      QUORVIX_FIELD("Window", "IsMaximized", Byte, window.is_maximized),
      QUORVIX_FIELD("Window", "X", Long, window.x),
      QUORVIX_FIELD("Window", "Y", Long, window.y),
      QUORVIX_FIELD("Window", "Width", Long, window.width),
      QUORVIX_FIELD("Window", "Height", Long, window.height),
      QUORVIX_FIELD("Interface", "UI Theme", String, interface.ui_theme),
      QUORVIX_FIELD("Interface", "UI Size", Long, interface.ui_size),
      QUORVIX_FIELD("Input", "Format", String, input.format),
      QUORVIX_FIELD("Input", "DDS Load As", Long, input.dds_load_as),
      QUORVIX_FIELD("Input", "GIF Frame Loading", Long, input.gif_frame_loading),
      QUORVIX_FIELD("Input", "ICO Frame Loading", Long, input.ico_frame_loading),
      QUORVIX_FIELD("Input", "TIFF Frame Loading", Long, input.tiff_frame_loading),
      QUORVIX_FIELD("Input", "RAW Load As", Long, input.raw_load_as),
      QUORVIX_FIELD("Input", "RAW Header Size", Long, input.raw_header_size),
      QUORVIX_FIELD("Input", "RAW Image Width", Long, input.raw_image_width),
      QUORVIX_FIELD("Input", "RAW Image Height", Long, input.raw_image_height),
      QUORVIX_FIELD("Input", "RAW Tone Mapping", Long, input.raw_tone_mapping),
      QUORVIX_FIELD("Output", "Format", String, output.format),
      QUORVIX_FIELD("Output", "BMP BPP", Long, output.bmp_bpp),
      QUORVIX_FIELD("Output", "BMP Compression", Long, output.bmp_compression),
      QUORVIX_FIELD("Output", "BMP Color Table", Long, output.bmp_color_table),
      QUORVIX_FIELD("Output", "DDS BPP", Long, output.dds_bpp),
      QUORVIX_FIELD("Output", "EXR BPP", Long, output.exr_bpp),
      QUORVIX_FIELD("Output", "EXR Compression", Long, output.exr_compression),
      QUORVIX_FIELD("Output", "GIF BPP", Long, output.gif_bpp),
      QUORVIX_FIELD("Output", "HDR BPP", Long, output.hdr_bpp),
      QUORVIX_FIELD("Output", "ICO BPP", Long, output.ico_bpp),
      QUORVIX_FIELD("Output", "J2K BPP", Long, output.j2k_bpp),
      QUORVIX_FIELD("Output", "JNG BPP", Long, output.jng_bpp),
      QUORVIX_FIELD("Output", "JP2 BPP", Long, output.jp2_bpp),
      QUORVIX_FIELD("Output", "JPG BPP", Long, output.jpg_bpp),
      QUORVIX_FIELD("Output", "JPG Quality", Long, output.jpg_quality),
      QUORVIX_FIELD("Output", "JPG Chroma", Long, output.jpg_chroma),
      QUORVIX_FIELD("Output", "JPG Save As", Long, output.jpg_save_as),
      QUORVIX_FIELD("Output", "JXR BPP", Long, output.jxr_bpp),
      QUORVIX_FIELD("Output", "PBM BPP", Long, output.pbm_bpp),
      QUORVIX_FIELD("Output", "PCX BPP", Long, output.pcx_bpp),
      QUORVIX_FIELD("Output", "PFM BPP", Long, output.pfm_bpp),
      QUORVIX_FIELD("Output", "PGM BPP", Long, output.pgm_bpp),
      QUORVIX_FIELD("Output", "PNG BPP", Long, output.png_bpp),
      QUORVIX_FIELD("Output", "PNG Compression", Long, output.png_compression),
      QUORVIX_FIELD("Output", "PNG Interlaced", Byte, output.png_interlaced),
      QUORVIX_FIELD("Output", "PPM BPP", Long, output.ppm_bpp),
      QUORVIX_FIELD("Output", "PSD BPP", Long, output.psd_bpp),
      QUORVIX_FIELD("Output", "TGA BPP", Long, output.tga_bpp),
      QUORVIX_FIELD("Output", "TGA Compression", Long, output.tga_compression),
      QUORVIX_FIELD("Output", "TIFF BPP", Long, output.tiff_bpp),
      QUORVIX_FIELD("Output", "TIFF Compression", Long, output.tiff_compression),
      QUORVIX_FIELD("Output", "TIFF Color Model", Long, output.tiff_color_model),
      QUORVIX_FIELD("Output", "WBMP BPP", Long, output.wbmp_bpp),
      QUORVIX_FIELD("Output", "WEBP BPP", Long, output.webp_bpp),
      QUORVIX_FIELD("Output", "XPM BPP", Long, output.xpm_bpp),
      QUORVIX_FIELD("Transform", "Do Image Rotation", Byte, transform.do_image_rotation),
      QUORVIX_FIELD("Transform", "Image Rotation Type", Byte, transform.image_rotation_type),
      QUORVIX_FIELD("Transform", "Image Rotation", Long, transform.image_rotation),
      QUORVIX_FIELD("Transform", "Image Rotation Back Color", Colour,
                    transform.image_rotation_back_color),
      QUORVIX_FIELD("Transform", "Do Image Resize", Byte, transform.do_image_resize),
      QUORVIX_FIELD("Transform", "Image Width", Long, transform.image_width),
      QUORVIX_FIELD("Transform", "Image Width Unit", Byte, transform.image_width_unit),
      QUORVIX_FIELD("Transform", "Image Height", Long, transform.image_height),
      QUORVIX_FIELD("Transform", "Image Height Unit", Byte, transform.image_height_unit),
      QUORVIX_FIELD("Transform", "Keep Aspect Ratio", Byte, transform.keep_aspect_ratio),
      QUORVIX_FIELD("Transform", "Image Resize Type", Byte, transform.image_resize_type),
      QUORVIX_FIELD("Transform", "Image Resize Algorithm", Byte, transform.image_resize_algorithm),
      QUORVIX_FIELD("Transform", "Do Image Flip Horizontal", Byte,
                    transform.do_image_flip_horizontal),
      QUORVIX_FIELD("Transform", "Do Image Flip Vertical", Byte, transform.do_image_flip_vertical),
      QUORVIX_FIELD("Adjustment", "Do Image Color Correction", Byte,
                    adjustment.do_image_color_correction),
      QUORVIX_FIELD("Adjustment", "Image Brightness", Long, adjustment.image_brightness),
      QUORVIX_FIELD("Adjustment", "Image Contrast", Long, adjustment.image_contrast),
      QUORVIX_FIELD("Adjustment", "Image Gamma", Float, adjustment.image_gamma),
      QUORVIX_FIELD("Adjustment", "Image Invert", Byte, adjustment.image_invert),
      QUORVIX_FIELD("Adjustment", "Do Image Greyscale", Byte, adjustment.do_image_greyscale),
      QUORVIX_FIELD("Adjustment", "Do Image Threshold", Byte, adjustment.do_image_threshold),
      QUORVIX_FIELD("Adjustment", "Image Threshold", Long, adjustment.image_threshold),
      QUORVIX_FIELD("Frame", "Do Frame", Byte, frame.do_frame),
      QUORVIX_FIELD("Frame", "Solid Left", Long, frame.solid_left),
      QUORVIX_FIELD("Frame", "Solid Right", Long, frame.solid_right),
      QUORVIX_FIELD("Frame", "Solid Top", Long, frame.solid_top),
      QUORVIX_FIELD("Frame", "Solid Bottom", Long, frame.solid_bottom),
      QUORVIX_FIELD("Frame", "Solid Left Color", Colour, frame.solid_left_color),
      QUORVIX_FIELD("Frame", "Solid Right Color", Colour, frame.solid_right_color),
      QUORVIX_FIELD("Frame", "Solid Top Color", Colour, frame.solid_top_color),
      QUORVIX_FIELD("Frame", "Solid Bottom Color", Colour, frame.solid_bottom_color),
      QUORVIX_FIELD("Frame", "Solid Opacity", Long, frame.solid_opacity),
      QUORVIX_FIELD("Watermark", "Do Watermark", Byte, watermark.do_watermark),
      QUORVIX_FIELD("Watermark", "Text", String, watermark.text),
      QUORVIX_FIELD("Watermark", "Fonts", String, watermark.fonts),
      QUORVIX_FIELD("Watermark", "Font", String, watermark.font),
      QUORVIX_FIELD("Watermark", "Font Size", Long, watermark.font_size),
      QUORVIX_FIELD("Watermark", "Font Leading", Long, watermark.font_leading),
      QUORVIX_FIELD("Watermark", "Font Colors", String, watermark.font_colors),
      QUORVIX_FIELD("Watermark", "Font Color", Colour, watermark.font_color),
      QUORVIX_FIELD("Watermark", "Font Style", Byte, watermark.font_style),
      QUORVIX_FIELD("Watermark", "Font Effect", Byte, watermark.font_effect),
      QUORVIX_FIELD("Watermark", "Text Antialiasing", Byte, watermark.text_antialiasing),
      QUORVIX_FIELD("Watermark", "Text Alignment", Byte, watermark.text_alignment),
      QUORVIX_FIELD("Watermark", "Text Padding", Long, watermark.text_padding),
      QUORVIX_FIELD("Watermark", "Text Opacity", Long, watermark.text_opacity),
      QUORVIX_FIELD("Watermark", "Back Colors", String, watermark.back_colors),
      QUORVIX_FIELD("Watermark", "Back Color", Colour, watermark.back_color),
      QUORVIX_FIELD("Watermark", "Back Opacity", Long, watermark.back_opacity),
      QUORVIX_FIELD("Watermark", "Text Boundary", Byte, watermark.text_boundary),
      QUORVIX_FIELD("Watermark", "Text Position", Byte, watermark.text_position),
      QUORVIX_FIELD("Watermark", "Text X Offset", Long, watermark.text_x_offset),
      QUORVIX_FIELD("Watermark", "Text Y Offset", Long, watermark.text_y_offset),
      QUORVIX_FIELD("Watermark", "Text Rotation", Long, watermark.text_rotation),
      QUORVIX_FIELD("Watermark", "Text Size", Byte, watermark.text_size),
      QUORVIX_FIELD("Watermark", "Text Scale", Long, watermark.text_scale),
      QUORVIX_FIELD("Watermark", "Image", String, watermark.image),
      QUORVIX_FIELD("Watermark", "Image Greyscale", Byte, watermark.image_greyscale),
      QUORVIX_FIELD("Watermark", "Image Opacity", Long, watermark.image_opacity),
      QUORVIX_FIELD("Watermark", "Image Boundary", Byte, watermark.image_boundary),
      QUORVIX_FIELD("Watermark", "Image Position", Byte, watermark.image_position),
      QUORVIX_FIELD("Watermark", "Image X Offset", Long, watermark.image_x_offset),
      QUORVIX_FIELD("Watermark", "Image Y Offset", Long, watermark.image_y_offset),
      QUORVIX_FIELD("Watermark", "Image Rotation", Long, watermark.image_rotation),
      QUORVIX_FIELD("Watermark", "Image Size", Byte, watermark.image_size),
      QUORVIX_FIELD("Watermark", "Image Scale", Long, watermark.image_scale),
      QUORVIX_FIELD("Advanced", "Filename Mask", String, advanced.filename_mask),
      QUORVIX_FIELD("Advanced", "File Timestamp", Byte, advanced.file_timestamp),
      QUORVIX_FIELD("Advanced", "Custom Timestamp", Date, advanced.custom_timestamp),
      QUORVIX_FIELD("Advanced", "Out Folders History", Byte, advanced.out_folders_history),
      QUORVIX_FIELD("Advanced", "Out Folders Number", Byte, advanced.out_folders_number),
      QUORVIX_FIELD("Advanced", "Keep Subfolders", Byte, advanced.keep_subfolders),
      QUORVIX_FIELD("File", "Recent Out Folders", String, file.recent_out_folders),
      QUORVIX_FIELD("File", "Recent Files", String, file.recent_files),
      QUORVIX_FIELD("Privacy", "Clean Recent Files", Byte, privacy.clean_recent_files),
  };
  return fields;
}

#undef QUORVIX_FIELD

const SettingField* FindSetting(std::string_view group, std::string_view key) {
  for (const SettingField& field : SettingFields()) {
    if (EqualsIgnoringCase(field.group, group) && EqualsIgnoringCase(field.key, key)) return &field;
  }
  return nullptr;
}

int32_t* OutputBppSetting(ProgramSettings& settings, std::string_view format_key) {
  const std::string key = ToUpperAscii(format_key) + " BPP";
  const SettingField* field = FindSetting("Output", key);
  if (!field) return nullptr;
  const SettingRef ref = field->locate(settings);
  int32_t* const* value = std::get_if<int32_t*>(&ref);
  return value ? *value : nullptr;
}
