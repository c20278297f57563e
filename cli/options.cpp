#include "cli/options.h"

#include <type_traits>

#include "cli/profile.h"
#include "core/conversion_job.h"
#include "settings/program_settings.h"

namespace {

template <typename Field>
void Store(Field& field, int32_t value) {
  field = static_cast<Field>(value);
}

OptionSpec PathNext(std::string_view short_name, std::string_view long_name, TextSetter set) {
  return {short_name, long_name, ValueRule::PathNext, set, {}};
}

OptionSpec Text(std::string_view name, TextSetter set, std::string_view profile_key = {}) {
  return {{}, name, ValueRule::Text, set, profile_key.empty() ? name : profile_key};
}

// A row that stores its value into one setting and does nothing else; how it reads the value
// follows from the setting: an enumeration takes a keyword, a flag needs none.
OptionSpec Plain(std::string_view name, std::string_view group, std::string_view key,
                 std::string_view profile_key = {}) {
  const SettingField& field = SettingOf(group, key);
  ValueRule rule = ValueRule::Number;
  if (!field.choices.empty()) {
    rule = ValueRule::Keyword;
  } else if (field.type == SettingType::Byte) {
    rule = ValueRule::Flag;
  } else if (field.type == SettingType::Float) {
    rule = ValueRule::Decimal;
  } else if (field.type == SettingType::String || field.type == SettingType::Colour) {
    rule = ValueRule::Text;
  }
  OptionSpec option{{}, name, rule, {}, profile_key.empty() ? name : profile_key};
  option.field = &field;
  return option;
}

// Stores what a plain row read into its setting, converted to the setting's type.
void StoreSetting(const SettingField& field, ProgramSettings& settings, const std::string& value,
                  ValueRule rule) {
  const SettingRef ref = field.locate(settings);
  if (std::string* const* text = std::get_if<std::string*>(&ref)) {
    **text = value;
    return;
  }
  if (float* const* decimal = std::get_if<float*>(&ref)) {
    **decimal = ReadDecimal(value);
    return;
  }
  int32_t number = 1;  // a flag switches its setting on
  if (rule == ValueRule::Keyword) number = KeywordToValue(field, value);
  if (rule == ValueRule::Number) number = ReadNumber(value);
  std::visit(
      [number](auto* target) {
        using Target = std::remove_pointer_t<decltype(target)>;
        if constexpr (std::is_integral_v<Target>) *target = static_cast<Target>(number);
      },
      ref);
}

OptionSpec Number(std::string_view name, NumberSetter set, std::string_view profile_key = {}) {
  return {{}, name, ValueRule::Number, set, profile_key.empty() ? name : profile_key};
}

OptionSpec Decimal(std::string_view name, DecimalSetter set) {
  return {{}, name, ValueRule::Decimal, set, name};
}

OptionSpec Flag(std::string_view name, FlagSetter set) {
  return {{}, name, ValueRule::Flag, set, name};
}

// Options that steer the run itself; profiles cannot hold them.
OptionSpec RunFlag(std::string_view short_name, std::string_view long_name, FlagSetter set) {
  return {short_name, long_name, ValueRule::Flag, set, {}};
}

// More workers than this only queue for the same cores and memory.
constexpr int32_t MaxJobs = 256;

void MarkConsoleRun(OptionTarget& target) { target.job.console_run = 1; }

// Each --hide-layer adds a glob; an empty one would match nothing.
void AddHiddenLayer(OptionTarget& target, const std::string& pattern) {
  if (!pattern.empty()) target.job.hidden_layers.push_back(pattern);
}

std::vector<OptionSpec> BuildOptionTable() {
  using T = OptionTarget;
  std::vector<OptionSpec> table = {
      PathNext("-I", "--INPUT",
               [](T& t, const std::string& v) {
                 t.job.base_input_folder = v;
                 t.state.inputs.push_back(v);
               }),
      PathNext("-O", "--OUTPUT", [](T& t, const std::string& v) { t.job.output_folder = v; }),
      {"-C",
       "--CONVERSION",
       ValueRule::TextNext,
       TextSetter{[](T& t, const std::string& v) { t.job.output_format = v; }},
       {}},
      Plain("--DDS-LOAD-AS", "Input", "DDS Load As"),
      Plain("--GIF-FRAME-LOADING", "Input", "GIF Frame Loading"),
      Plain("--ICO-FRAME-LOADING", "Input", "ICO Frame Loading"),
      Plain("--RAW-LOAD-AS", "Input", "RAW Load As"),
      Plain("--RAW-HEADER-SIZE", "Input", "RAW Header Size"),
      Plain("--RAW-WIDTH", "Input", "RAW Image Width"),
      Plain("--RAW-HEIGHT", "Input", "RAW Image Height"),
      Plain("--RAW-TONE-MAPPING", "Input", "RAW Tone Mapping"),
      Plain("--TIFF-FRAME-LOADING", "Input", "TIFF Frame Loading"),
      Plain("--FROM-LAYERS", "Input", "Rebuild From Layers"),
      Text("--HIDE-LAYER", AddHiddenLayer),
      Plain("--BMP-BPP", "Output", "BMP BPP"),
      Plain("--BMP-COMPRESSION", "Output", "BMP Compression"),
      Plain("--BMP-COLOR-TABLE", "Output", "BMP Color Table"),
      Plain("--DDS-BPP", "Output", "DDS BPP"),
      Plain("--EXR-BPP", "Output", "EXR BPP"),
      Plain("--EXR-COMPRESSION", "Output", "EXR Compression"),
      Plain("--GIF-BPP", "Output", "GIF BPP"),
      Plain("--HDR-BPP", "Output", "HDR BPP"),
      Plain("--ICO-BPP", "Output", "ICO BPP"),
      Plain("--J2K-BPP", "Output", "J2K BPP"),
      Plain("--JNG-BPP", "Output", "JNG BPP"),
      Plain("--JP2-BPP", "Output", "JP2 BPP"),
      Plain("--JPG-BPP", "Output", "JPG BPP"),
      Plain("--JPG-QUALITY", "Output", "JPG Quality"),
      Plain("--JPG-CHROMA", "Output", "JPG Chroma"),
      Plain("--JPG-SAVE-AS", "Output", "JPG Save As"),
      Plain("--JXR-BPP", "Output", "JXR BPP"),
      Plain("--PBM-BPP", "Output", "PBM BPP"),
      Plain("--PCX-BPP", "Output", "PCX BPP"),
      Plain("--PFM-BPP", "Output", "PFM BPP"),
      Plain("--PGM-BPP", "Output", "PGM BPP"),
      Plain("--PNG-BPP", "Output", "PNG BPP"),
      Plain("--PNG-COMPRESSION", "Output", "PNG Compression"),
      Plain("--PNG-INTERLACED", "Output", "PNG Interlaced"),
      Plain("--KEEP-ICC-PROFILE", "Output", "Keep ICC Profile"),
      Plain("--PPM-BPP", "Output", "PPM BPP"),
      Plain("--PSD-BPP", "Output", "PSD BPP"),
      Plain("--TGA-BPP", "Output", "TGA BPP"),
      Plain("--TGA-COMPRESSION", "Output", "TGA Compression"),
      Plain("--TIFF-BPP", "Output", "TIFF BPP"),
      Plain("--TIFF-COMPRESSION", "Output", "TIFF Compression"),
      Plain("--TIFF-COLOR-MODEL", "Output", "TIFF Color Model"),
      Plain("--WBMP-BPP", "Output", "WBMP BPP"),
      Plain("--WEBP-BPP", "Output", "WEBP BPP"),
      Plain("--XPM-BPP", "Output", "XPM BPP"),
      Plain("--ROTATION-TYPE", "Transform", "Image Rotation Type"),
      Number("--ROTATION",
             [](T& t, int32_t v) {
               t.settings.transform.do_image_rotation = 1;
               Store(t.settings.transform.image_rotation, v);
             }),
      Plain("--ROTATION-BACK-COLOR", "Transform", "Image Rotation Back Color"),
      Number("--WIDTH",
             [](T& t, int32_t v) {
               t.settings.transform.do_image_resize = 1;
               Store(t.settings.transform.image_width, v);
             }),
      Plain("--WIDTH-UNIT", "Transform", "Image Width Unit"),
      Number("--HEIGHT",
             [](T& t, int32_t v) {
               t.settings.transform.do_image_resize = 1;
               Store(t.settings.transform.image_height, v);
             }),
      Plain("--HEIGHT-UNIT", "Transform", "Image Height Unit"),
      Plain("--KEEP-ASPECT-RATIO", "Transform", "Keep Aspect Ratio"),
      Plain("--RESIZE-TYPE", "Transform", "Image Resize Type"),
      Plain("--RESIZE-ALGORITHM", "Transform", "Image Resize Algorithm"),
      Plain("--FLIP-HORIZONTAL", "Transform", "Do Image Flip Horizontal"),
      Plain("--FLIP-VERTICAL", "Transform", "Do Image Flip Vertical"),
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
      Plain("--GREYSCALE", "Adjustment", "Do Image Greyscale"),
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
      Plain("--FR-SOLID-LEFT-COLOR", "Frame", "Solid Left Color"),
      Plain("--FR-SOLID-RIGHT-COLOR", "Frame", "Solid Right Color"),
      Plain("--FR-SOLID-TOP-COLOR", "Frame", "Solid Top Color"),
      Plain("--FR-SOLID-BOTTOM-COLOR", "Frame", "Solid Bottom Color"),
      // Profiles have always spelled the frame opacity key differently from the option.
      Plain("--FR-SOLID-OPACITY", "Frame", "Solid Opacity", "--WM-SOLID-OPACITY"),
      Text("--WM-TEXT",
           [](T& t, const std::string& v) {
             t.settings.watermark.do_watermark = 1;
             t.settings.watermark.text = v;
           }),
      Plain("--WM-FONT", "Watermark", "Font"),
      Plain("--WM-FONT-SIZE", "Watermark", "Font Size"),
      Plain("--WM-FONT-LEADING", "Watermark", "Font Leading"),
      Plain("--WM-FONT-COLOR", "Watermark", "Font Color"),
      Plain("--WM-FONT-STYLE", "Watermark", "Font Style"),
      Plain("--WM-FONT-EFFECT", "Watermark", "Font Effect"),
      Plain("--WM-TEXT-ANTIALIASING", "Watermark", "Text Antialiasing"),
      Plain("--WM-TEXT-ALIGNMENT", "Watermark", "Text Alignment"),
      Plain("--WM-TEXT-PADDING", "Watermark", "Text Padding"),
      Plain("--WM-TEXT-OPACITY", "Watermark", "Text Opacity"),
      Plain("--WM-BACK-COLOR", "Watermark", "Back Color"),
      Plain("--WM-BACK-OPACITY", "Watermark", "Back Opacity"),
      Plain("--WM-TEXT-BOUNDARY", "Watermark", "Text Boundary"),
      Plain("--WM-TEXT-POSITION", "Watermark", "Text Position"),
      Plain("--WM-TEXT-X-OFFSET", "Watermark", "Text X Offset"),
      Plain("--WM-TEXT-Y-OFFSET", "Watermark", "Text Y Offset"),
      Plain("--WM-TEXT-ROTATION", "Watermark", "Text Rotation"),
      Plain("--WM-TEXT-SIZE", "Watermark", "Text Size"),
      Text("--WM-IMAGE",
           [](T& t, const std::string& v) {
             t.settings.watermark.do_watermark = 2;
             t.settings.watermark.image = v;
           }),
      Plain("--WM-IMAGE-GREYSCALE", "Watermark", "Image Greyscale"),
      Plain("--WM-IMAGE-OPACITY", "Watermark", "Image Opacity"),
      Plain("--WM-IMAGE-BOUNDARY", "Watermark", "Image Boundary"),
      Plain("--WM-IMAGE-POSITION", "Watermark", "Image Position"),
      Plain("--WM-IMAGE-X-OFFSET", "Watermark", "Image X Offset"),
      Plain("--WM-IMAGE-Y-OFFSET", "Watermark", "Image Y Offset"),
      Plain("--WM-IMAGE-ROTATION", "Watermark", "Image Rotation"),
      Plain("--WM-IMAGE-SIZE", "Watermark", "Image Size"),
      Plain("--FILENAME-MASK", "Advanced", "Filename Mask"),
      Plain("--FILE-TIMESTAMP", "Advanced", "File Timestamp"),
      Plain("--FILE-TIMESTAMP-CUSTOM", "Advanced", "Custom Timestamp"),
      Flag("--NO-SUBFOLDERS", [](T& t) { t.settings.advanced.keep_subfolders = 0; }),
      {{},
       "--PROFILE",
       ValueRule::Text,
       TextSetter{[](T& t, const std::string& v) {
         if (!LoadProfile(v, t)) t.state.error_message = "Invalid profile file";
       }},
       {}},
      {{},
       "--INPUT-LIST",
       ValueRule::Text,
       TextSetter{[](T& t, const std::string& v) { t.state.input_lists.push_back(v); }},
       {},
       MarkConsoleRun},
      Flag("--RECURSIVE", [](T& t) { t.state.recursive = 1; }),
      Number("--JOBS",
             [](T& t, int32_t v) {
               if (v < 1 || v > MaxJobs) t.state.error_message = "Invalid jobs value";
               t.state.jobs = v;
             }),
      {{},
       "--REPORT",
       ValueRule::Text,
       TextSetter{[](T& t, const std::string& v) { t.state.report_path = v; }},
       {}},
      RunFlag("-D", "--DEBUG", [](T& t) { t.job.run_mode_word = "DEBUG"; }),
      RunFlag("-Q", "--QUIET", [](T& t) { t.state.quiet_output = 1; }),
      RunFlag("-P", "--PAUSE", [](T& t) { t.state.pause_at_exit = 1; }),
  };
  // The input option marks a console run before its value is looked at, so a missing value is
  // still reported on the console.
  table.front().before = MarkConsoleRun;
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
  if (option.field) {
    StoreSetting(*option.field, target.settings, value, option.rule);
    return;
  }
  switch (option.rule) {
    case ValueRule::PathNext:
    case ValueRule::TextNext:
    case ValueRule::Text:
      std::get<TextSetter>(option.set)(target, value);
      return;
    case ValueRule::Keyword:  // only plain rows take keywords
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
