#include "cli/options.h"

#include "cli/profile.h"
#include "core/conversion_job.h"
#include "core/program_settings.h"

namespace {

template <typename Field>
void Store(Field& field, int32_t value) {
  field = static_cast<Field>(value);
}

OptionSpec PathNext(std::string_view short_name, std::string_view long_name, TextSetter set) {
  return {short_name, long_name, ValueRule::PathNext, KeywordTable::DdsLoadAs, set, {}};
}

OptionSpec Text(std::string_view name, TextSetter set, std::string_view profile_key = {}) {
  return {{},
          name,
          ValueRule::Text,
          KeywordTable::DdsLoadAs,
          set,
          profile_key.empty() ? name : profile_key};
}

OptionSpec Keyword(std::string_view name, KeywordTable table, NumberSetter set) {
  return {{}, name, ValueRule::Keyword, table, set, name};
}

OptionSpec Number(std::string_view name, NumberSetter set, std::string_view profile_key = {}) {
  return {{},
          name,
          ValueRule::Number,
          KeywordTable::DdsLoadAs,
          set,
          profile_key.empty() ? name : profile_key};
}

OptionSpec Decimal(std::string_view name, DecimalSetter set) {
  return {{}, name, ValueRule::Decimal, KeywordTable::DdsLoadAs, set, name};
}

OptionSpec Flag(std::string_view name, FlagSetter set) {
  return {{}, name, ValueRule::Flag, KeywordTable::DdsLoadAs, set, name};
}

// Options that steer the run itself; profiles cannot hold them.
OptionSpec RunFlag(std::string_view short_name, std::string_view long_name, FlagSetter set) {
  return {short_name, long_name, ValueRule::Flag, KeywordTable::DdsLoadAs, set, {}};
}

std::vector<OptionSpec> BuildOptionTable() {
  using T = OptionTarget;
  using K = KeywordTable;
  std::vector<OptionSpec> table = {
      PathNext("-I", "--INPUT", [](T& t, const std::string& v) { t.job.base_input_folder = v; }),
      PathNext("-O", "--OUTPUT", [](T& t, const std::string& v) { t.job.output_folder = v; }),
      {"-C",
       "--CONVERSION",
       ValueRule::TextNext,
       K::DdsLoadAs,
       TextSetter{[](T& t, const std::string& v) { t.job.output_format = v; }},
       {}},
      Keyword("--DDS-LOAD-AS", K::DdsLoadAs,
              [](T& t, int32_t v) { Store(t.settings.input.dds_load_as, v); }),
      Keyword("--GIF-FRAME-LOADING", K::FrameLoading,
              [](T& t, int32_t v) { Store(t.settings.input.gif_frame_loading, v); }),
      Keyword("--ICO-FRAME-LOADING", K::FrameLoading,
              [](T& t, int32_t v) { Store(t.settings.input.ico_frame_loading, v); }),
      Keyword("--RAW-LOAD-AS", K::RawLoadAs,
              [](T& t, int32_t v) { Store(t.settings.input.raw_load_as, v); }),
      Number("--RAW-HEADER-SIZE",
             [](T& t, int32_t v) { Store(t.settings.input.raw_header_size, v); }),
      Number("--RAW-WIDTH", [](T& t, int32_t v) { Store(t.settings.input.raw_image_width, v); }),
      Number("--RAW-HEIGHT", [](T& t, int32_t v) { Store(t.settings.input.raw_image_height, v); }),
      Keyword("--RAW-TONE-MAPPING", K::ToneMapping,
              [](T& t, int32_t v) { Store(t.settings.input.raw_tone_mapping, v); }),
      Keyword("--TIFF-FRAME-LOADING", K::FrameLoading,
              [](T& t, int32_t v) { Store(t.settings.input.tiff_frame_loading, v); }),
      Number("--BMP-BPP", [](T& t, int32_t v) { Store(t.settings.output.bmp_bpp, v); }),
      Keyword("--BMP-COMPRESSION", K::Compression,
              [](T& t, int32_t v) { Store(t.settings.output.bmp_compression, v); }),
      Keyword("--BMP-COLOR-TABLE", K::BmpColorTable,
              [](T& t, int32_t v) { Store(t.settings.output.bmp_color_table, v); }),
      Number("--DDS-BPP", [](T& t, int32_t v) { Store(t.settings.output.dds_bpp, v); }),
      Number("--EXR-BPP", [](T& t, int32_t v) { Store(t.settings.output.exr_bpp, v); }),
      Keyword("--EXR-COMPRESSION", K::Compression,
              [](T& t, int32_t v) { Store(t.settings.output.exr_compression, v); }),
      Number("--GIF-BPP", [](T& t, int32_t v) { Store(t.settings.output.gif_bpp, v); }),
      Number("--HDR-BPP", [](T& t, int32_t v) { Store(t.settings.output.hdr_bpp, v); }),
      Number("--ICO-BPP", [](T& t, int32_t v) { Store(t.settings.output.ico_bpp, v); }),
      Number("--J2K-BPP", [](T& t, int32_t v) { Store(t.settings.output.j2k_bpp, v); }),
      Number("--JNG-BPP", [](T& t, int32_t v) { Store(t.settings.output.jng_bpp, v); }),
      Number("--JP2-BPP", [](T& t, int32_t v) { Store(t.settings.output.jp2_bpp, v); }),
      Number("--JPG-BPP", [](T& t, int32_t v) { Store(t.settings.output.jpg_bpp, v); }),
      Number("--JPG-QUALITY", [](T& t, int32_t v) { Store(t.settings.output.jpg_quality, v); }),
      Keyword("--JPG-CHROMA", K::JpgChroma,
              [](T& t, int32_t v) { Store(t.settings.output.jpg_chroma, v); }),
      Keyword("--JPG-SAVE-AS", K::JpgSaveAs,
              [](T& t, int32_t v) { Store(t.settings.output.jpg_save_as, v); }),
      Number("--JXR-BPP", [](T& t, int32_t v) { Store(t.settings.output.jxr_bpp, v); }),
      Number("--PBM-BPP", [](T& t, int32_t v) { Store(t.settings.output.pbm_bpp, v); }),
      Number("--PCX-BPP", [](T& t, int32_t v) { Store(t.settings.output.pcx_bpp, v); }),
      Number("--PFM-BPP", [](T& t, int32_t v) { Store(t.settings.output.pfm_bpp, v); }),
      Number("--PGM-BPP", [](T& t, int32_t v) { Store(t.settings.output.pgm_bpp, v); }),
      Number("--PNG-BPP", [](T& t, int32_t v) { Store(t.settings.output.png_bpp, v); }),
      Keyword("--PNG-COMPRESSION", K::Compression,
              [](T& t, int32_t v) { Store(t.settings.output.png_compression, v); }),
      Flag("--PNG-INTERLACED", [](T& t) { t.settings.output.png_interlaced = 1; }),
      Number("--PPM-BPP", [](T& t, int32_t v) { Store(t.settings.output.ppm_bpp, v); }),
      Number("--PSD-BPP", [](T& t, int32_t v) { Store(t.settings.output.psd_bpp, v); }),
      Number("--TGA-BPP", [](T& t, int32_t v) { Store(t.settings.output.tga_bpp, v); }),
      Keyword("--TGA-COMPRESSION", K::Compression,
              [](T& t, int32_t v) { Store(t.settings.output.tga_compression, v); }),
      Number("--TIFF-BPP", [](T& t, int32_t v) { Store(t.settings.output.tiff_bpp, v); }),
      Keyword("--TIFF-COMPRESSION", K::Compression,
              [](T& t, int32_t v) { Store(t.settings.output.tiff_compression, v); }),
      Keyword("--TIFF-COLOR-MODEL", K::TiffColorModel,
              [](T& t, int32_t v) { Store(t.settings.output.tiff_color_model, v); }),
      Number("--WBMP-BPP", [](T& t, int32_t v) { Store(t.settings.output.wbmp_bpp, v); }),
      Number("--WEBP-BPP", [](T& t, int32_t v) { Store(t.settings.output.webp_bpp, v); }),
      Number("--XPM-BPP", [](T& t, int32_t v) { Store(t.settings.output.xpm_bpp, v); }),
      Keyword("--ROTATION-TYPE", K::RotationType,
              [](T& t, int32_t v) { Store(t.settings.transform.image_rotation_type, v); }),
      Number("--ROTATION",
             [](T& t, int32_t v) {
               t.settings.transform.do_image_rotation = 1;
               Store(t.settings.transform.image_rotation, v);
             }),
      Text("--ROTATION-BACK-COLOR",
           [](T& t, const std::string& v) { t.settings.transform.image_rotation_back_color = v; }),
      Number("--WIDTH",
             [](T& t, int32_t v) {
               t.settings.transform.do_image_resize = 1;
               Store(t.settings.transform.image_width, v);
             }),
      Keyword("--WIDTH-UNIT", K::SizeUnit,
              [](T& t, int32_t v) { Store(t.settings.transform.image_width_unit, v); }),
      Number("--HEIGHT",
             [](T& t, int32_t v) {
               t.settings.transform.do_image_resize = 1;
               Store(t.settings.transform.image_height, v);
             }),
      Keyword("--HEIGHT-UNIT", K::SizeUnit,
              [](T& t, int32_t v) { Store(t.settings.transform.image_height_unit, v); }),
      Flag("--KEEP-ASPECT-RATIO", [](T& t) { t.settings.transform.keep_aspect_ratio = 1; }),
      Keyword("--RESIZE-TYPE", K::ResizeType,
              [](T& t, int32_t v) { Store(t.settings.transform.image_resize_type, v); }),
      Keyword("--RESIZE-ALGORITHM", K::ResizeAlgorithm,
              [](T& t, int32_t v) { Store(t.settings.transform.image_resize_algorithm, v); }),
      Flag("--FLIP-HORIZONTAL", [](T& t) { t.settings.transform.do_image_flip_horizontal = 1; }),
      Flag("--FLIP-VERTICAL", [](T& t) { t.settings.transform.do_image_flip_vertical = 1; }),
      Number("--BRIGHTNESS",
             [](T& t, int32_t v) {
               t.settings.adjustment.do_image_color_correction = 1;
               Store(t.settings.adjustment.image_brightness, v);
             }),
      Number("--CONTRAST",
             [](T& t, int32_t v) {
               t.settings.adjustment.do_image_color_correction = 1;
               Store(t.settings.adjustment.image_contrast, v);
             }),
      Decimal("--GAMMA",
              [](T& t, float v) {
                t.settings.adjustment.do_image_color_correction = 1;
                t.settings.adjustment.image_gamma = v;
              }),
      Flag("--INVERT",
           [](T& t) {
             t.settings.adjustment.do_image_color_correction = 1;
             t.settings.adjustment.image_invert = 1;
           }),
      Flag("--GREYSCALE", [](T& t) { t.settings.adjustment.do_image_greyscale = 1; }),
      Number("--THRESHOLD",
             [](T& t, int32_t v) {
               t.settings.adjustment.do_image_threshold = 1;
               Store(t.settings.adjustment.image_threshold, v);
             }),
      Number("--FR-SOLID-LEFT",
             [](T& t, int32_t v) {
               t.settings.frame.do_frame = 1;
               Store(t.settings.frame.solid_left, v);
             }),
      Number("--FR-SOLID-RIGHT",
             [](T& t, int32_t v) {
               t.settings.frame.do_frame = 1;
               Store(t.settings.frame.solid_right, v);
             }),
      Number("--FR-SOLID-TOP",
             [](T& t, int32_t v) {
               t.settings.frame.do_frame = 1;
               Store(t.settings.frame.solid_top, v);
             }),
      Number("--FR-SOLID-BOTTOM",
             [](T& t, int32_t v) {
               t.settings.frame.do_frame = 1;
               Store(t.settings.frame.solid_bottom, v);
             }),
      Text("--FR-SOLID-LEFT-COLOR",
           [](T& t, const std::string& v) { t.settings.frame.solid_left_color = v; }),
      Text("--FR-SOLID-RIGHT-COLOR",
           [](T& t, const std::string& v) { t.settings.frame.solid_right_color = v; }),
      Text("--FR-SOLID-TOP-COLOR",
           [](T& t, const std::string& v) { t.settings.frame.solid_top_color = v; }),
      Text("--FR-SOLID-BOTTOM-COLOR",
           [](T& t, const std::string& v) { t.settings.frame.solid_bottom_color = v; }),
      // Profiles have always spelled the frame opacity key differently from the option.
      Number(
          "--FR-SOLID-OPACITY", [](T& t, int32_t v) { Store(t.settings.frame.solid_opacity, v); },
          "--WM-SOLID-OPACITY"),
      Text("--WM-TEXT",
           [](T& t, const std::string& v) {
             t.settings.watermark.do_watermark = 1;
             t.settings.watermark.text = v;
           }),
      Text("--WM-FONT", [](T& t, const std::string& v) { t.settings.watermark.font = v; }),
      Number("--WM-FONT-SIZE", [](T& t, int32_t v) { Store(t.settings.watermark.font_size, v); }),
      Number("--WM-FONT-LEADING",
             [](T& t, int32_t v) { Store(t.settings.watermark.font_leading, v); }),
      Text("--WM-FONT-COLOR",
           [](T& t, const std::string& v) { t.settings.watermark.font_color = v; }),
      Keyword("--WM-FONT-STYLE", K::FontStyle,
              [](T& t, int32_t v) { Store(t.settings.watermark.font_style, v); }),
      Keyword("--WM-FONT-EFFECT", K::FontEffect,
              [](T& t, int32_t v) { Store(t.settings.watermark.font_effect, v); }),
      Flag("--WM-TEXT-ANTIALIASING", [](T& t) { t.settings.watermark.text_antialiasing = 1; }),
      Keyword("--WM-TEXT-ALIGNMENT", K::TextAlignment,
              [](T& t, int32_t v) { Store(t.settings.watermark.text_alignment, v); }),
      Number("--WM-TEXT-PADDING",
             [](T& t, int32_t v) { Store(t.settings.watermark.text_padding, v); }),
      Number("--WM-TEXT-OPACITY",
             [](T& t, int32_t v) { Store(t.settings.watermark.text_opacity, v); }),
      Text("--WM-BACK-COLOR",
           [](T& t, const std::string& v) { t.settings.watermark.back_color = v; }),
      Number("--WM-BACK-OPACITY",
             [](T& t, int32_t v) { Store(t.settings.watermark.back_opacity, v); }),
      Keyword("--WM-TEXT-BOUNDARY", K::Boundary,
              [](T& t, int32_t v) { Store(t.settings.watermark.text_boundary, v); }),
      Keyword("--WM-TEXT-POSITION", K::Position,
              [](T& t, int32_t v) { Store(t.settings.watermark.text_position, v); }),
      Number("--WM-TEXT-X-OFFSET",
             [](T& t, int32_t v) { Store(t.settings.watermark.text_x_offset, v); }),
      Number("--WM-TEXT-Y-OFFSET",
             [](T& t, int32_t v) { Store(t.settings.watermark.text_y_offset, v); }),
      Number("--WM-TEXT-ROTATION",
             [](T& t, int32_t v) { Store(t.settings.watermark.text_rotation, v); }),
      Keyword("--WM-TEXT-SIZE", K::WatermarkSize,
              [](T& t, int32_t v) { Store(t.settings.watermark.text_size, v); }),
      Text("--WM-IMAGE",
           [](T& t, const std::string& v) {
             t.settings.watermark.do_watermark = 2;
             t.settings.watermark.image = v;
           }),
      Flag("--WM-IMAGE-GREYSCALE", [](T& t) { t.settings.watermark.image_greyscale = 1; }),
      Number("--WM-IMAGE-OPACITY",
             [](T& t, int32_t v) { Store(t.settings.watermark.image_opacity, v); }),
      Keyword("--WM-IMAGE-BOUNDARY", K::Boundary,
              [](T& t, int32_t v) { Store(t.settings.watermark.image_boundary, v); }),
      Keyword("--WM-IMAGE-POSITION", K::Position,
              [](T& t, int32_t v) { Store(t.settings.watermark.image_position, v); }),
      Number("--WM-IMAGE-X-OFFSET",
             [](T& t, int32_t v) { Store(t.settings.watermark.image_x_offset, v); }),
      Number("--WM-IMAGE-Y-OFFSET",
             [](T& t, int32_t v) { Store(t.settings.watermark.image_y_offset, v); }),
      Number("--WM-IMAGE-ROTATION",
             [](T& t, int32_t v) { Store(t.settings.watermark.image_rotation, v); }),
      Keyword("--WM-IMAGE-SIZE", K::WatermarkSize,
              [](T& t, int32_t v) { Store(t.settings.watermark.image_size, v); }),
      Text("--FILENAME-MASK",
           [](T& t, const std::string& v) { t.settings.advanced.filename_mask = v; }),
      Keyword("--FILE-TIMESTAMP", K::FileTimestamp,
              [](T& t, int32_t v) { Store(t.settings.advanced.file_timestamp, v); }),
      Number("--FILE-TIMESTAMP-CUSTOM",
             [](T& t, int32_t v) { t.settings.advanced.custom_timestamp = v; }),
      Flag("--NO-SUBFOLDERS", [](T& t) { t.settings.advanced.keep_subfolders = 0; }),
      {{},
       "--PROFILE",
       ValueRule::Text,
       K::DdsLoadAs,
       TextSetter{
           [](T& t, const std::string& v) {
             if (!LoadProfile(v, t)) t.state.error_message = "Invalid profile file";
           }},
       {}},
      RunFlag("-D", "--DEBUG", [](T& t) { t.job.run_mode_word = "DEBUG"; }),
      RunFlag("-Q", "--QUIET", [](T& t) { t.state.quiet_output = 1; }),
      RunFlag("-P", "--PAUSE", [](T& t) { t.state.pause_at_exit = 1; }),
  };
  // The input option marks a console run before its value is looked at, so a missing value is
  // still reported on the console.
  table.front().before = [](T& t) { t.job.console_run = 1; };
  return table;
}

}  // namespace

const std::vector<OptionSpec>& OptionTable() {
  static const std::vector<OptionSpec> table = BuildOptionTable();
  return table;
}

const OptionSpec* FindOption(std::string_view name) {
  if (name.empty()) return nullptr;
  for (const OptionSpec& option : OptionTable()) {
    if (option.short_name == name || option.long_name == name) return &option;
  }
  return nullptr;
}

const OptionSpec* FindProfileOption(std::string_view key) {
  if (key.empty()) return nullptr;
  for (const OptionSpec& option : OptionTable()) {
    if (option.profile_key == key) return &option;
  }
  return nullptr;
}

void ApplyOptionValue(const OptionSpec& option, OptionTarget& target, const std::string& value) {
  switch (option.rule) {
    case ValueRule::PathNext:
    case ValueRule::TextNext:
    case ValueRule::Text:
      std::get<TextSetter>(option.set)(target, value);
      return;
    case ValueRule::Keyword:
      std::get<NumberSetter>(option.set)(target, KeywordToValue(option.table, value));
      return;
    case ValueRule::Number:
      std::get<NumberSetter>(option.set)(target, ReadNumber(value));
      return;
    case ValueRule::Decimal:
      std::get<DecimalSetter>(option.set)(target, ReadDecimal(value));
      return;
    case ValueRule::Flag:
      std::get<FlagSetter>(option.set)(target);
      return;
  }
}
