#include "gui/preferences_pages.h"

#include <map>

#include "platform/ascii.h"
#include "settings/program_settings.h"

namespace {

using K = RowKind;
using B = RowBinding;

PreferencesRow Bound(std::string_view label, RowKind kind, std::string_view group,
                     std::string_view key, RowBinding binding = B::Schema,
                     std::string_view fixed_entry = {}) {
  return {label, kind, group, key, binding, {}, fixed_entry, 0, 0, false};
}
PreferencesRow Select(std::string_view label, std::string_view group, std::string_view key) {
  return Bound(label, K::SelectBox, group, key);
}
PreferencesRow Check(std::string_view label, std::string_view group, std::string_view key) {
  return Bound(label, K::CheckBox, group, key);
}
PreferencesRow Number(std::string_view label, std::string_view group, std::string_view key,
                      std::string_view unit) {
  return Bound(label, K::NumberUnitField, group, key, B::Schema, unit);
}
PreferencesRow NumberWithUnit(std::string_view label, std::string_view group, std::string_view key,
                              std::string_view unit_key) {
  return {label, K::NumberUnitField, group, key, B::Schema, unit_key, {}, 0, 0, false};
}
PreferencesRow Slider(std::string_view label, std::string_view group, std::string_view key, int min,
                      int max, RowBinding binding = B::Schema) {
  return {label, K::SliderSpin, group, key, binding, {}, {}, min, max, false};
}
PreferencesRow Colour(std::string_view label, std::string_view group, std::string_view key) {
  return Bound(label, K::ColourButton, group, key);
}

std::vector<PanelLayout> InputPanels() {
  return {
      {"dds", {Select("Load As", "Input", "DDS Load As")}},
      {"gif", {Select("Frame Loading", "Input", "GIF Frame Loading")}},
      {"ico", {Select("Frame Loading", "Input", "ICO Frame Loading")}},
      {"raw",
       {Select("Load As", "Input", "RAW Load As"),
        Number("Header Size", "Input", "RAW Header Size", "Bytes"),
        Number("Image Width", "Input", "RAW Image Width", "Pixels"),
        Number("Image Height", "Input", "RAW Image Height", "Pixels"),
        Select("Tone Mapping", "Input", "RAW Tone Mapping")}},
      {"psd", {Check("Rebuild From Layers", "Input", "Rebuild From Layers")}},
      {"tiff", {Select("Frame Loading", "Input", "TIFF Frame Loading")}},
  };
}

// The rows after the bit depth, by output format key.
const std::map<std::string, std::vector<PreferencesRow>>& OutputOptionRows() {
  static const std::map<std::string, std::vector<PreferencesRow>> rows = {
      {"bmp",
       {Select("Compression", "Output", "BMP Compression"),
        Select("Color Table", "Output", "BMP Color Table")}},
      {"exr", {Select("Compression", "Output", "EXR Compression")}},
      {"jpg",
       {Slider("Image Quality", "Output", "JPG Quality", 1, 100),
        Select("Chroma Subsampling", "Output", "JPG Chroma"),
        Select("Save As", "Output", "JPG Save As")}},
      {"pcx", {Bound("Compression", K::SelectBox, "Output", "", B::DisplayOnly, "RLE")}},
      {"png",
       {Select("Compression", "Output", "PNG Compression"),
        Check("Interlaced", "Output", "PNG Interlaced"),
        Check("Keep ICC Profile", "Output", "Keep ICC Profile")}},
      {"tga", {Select("Compression", "Output", "TGA Compression")}},
      {"tiff",
       {Select("Compression", "Output", "TIFF Compression"),
        Select("Color Model", "Output", "TIFF Color Model")}},
  };
  return rows;
}

// One panel per output format that has a depth setting: every format of the registry, and the
// few whose encoder the registry lacks, which then offer only "Auto".
std::vector<PanelLayout> OutputPanels() {
  std::vector<PanelLayout> panels;
  constexpr std::string_view DepthSuffix = " BPP";
  for (const SettingField& field : SettingFields()) {
    if (field.group != "Output" || !field.key.ends_with(DepthSuffix)) continue;
    const std::string format_key =
        ToLowerAscii(field.key.substr(0, field.key.size() - DepthSuffix.size()));
    PanelLayout panel{format_key,
                      {Bound("Bits Per Pixel", K::SelectBox, "Output", field.key, B::BitDepth)}};
    const auto more = OutputOptionRows().find(format_key);
    if (more != OutputOptionRows().end()) {
      panel.rows.insert(panel.rows.end(), more->second.begin(), more->second.end());
    }
    panels.push_back(std::move(panel));
  }
  return panels;
}

std::vector<PageLayout> BuildPages() {
  std::vector<PageLayout> pages(PageCount);
  pages[PageGeneral] = {"General",
                        {Bound("Language", K::SelectBox, "General", "Language", B::Language),
                         Select("Check For Updates", "General", "Update Range"),
                         Check("Save window position", "General", "Save Window Position")},
                        0,
                        {}};
  pages[PageInterface] = {"Interface",
                          {Bound("UI Theme", K::SelectBox, "Interface", "UI Theme", B::Theme),
                           Select("UI Size", "Interface", "UI Size")},
                          0,
                          {}};
  pages[PageInput] = {
      "Input",
      {Bound("Input Format", K::PictureSelectBox, "Input", "Format", B::InputFormat)},
      0,
      InputPanels()};
  pages[PageOutput] = {
      "Output",
      {Bound("Output Format", K::PictureSelectBox, "Output", "Format", B::OutputFormat)},
      0,
      OutputPanels()};
  pages[PageTransform] = {
      "Transform",
      {Check("Image Rotation", "Transform", "Do Image Rotation"),
       Select("Rotation Type", "Transform", "Image Rotation Type"),
       Slider("Rotation Angle", "Transform", "Image Rotation", 0, 360),
       Colour("Background Color", "Transform", "Image Rotation Back Color"),
       Check("Image Resize", "Transform", "Do Image Resize"),
       NumberWithUnit("Image Width", "Transform", "Image Width", "Image Width Unit"),
       NumberWithUnit("Image Height", "Transform", "Image Height", "Image Height Unit"),
       Check("Keep Aspect Ratio", "Transform", "Keep Aspect Ratio"),
       Select("Resize Type", "Transform", "Image Resize Type"),
       Select("Resize Algorithm", "Transform", "Image Resize Algorithm"),
       Check("Image Flip Horizontal", "Transform", "Do Image Flip Horizontal"),
       Check("Image Flip Vertical", "Transform", "Do Image Flip Vertical")},
      375,
      {}};
  pages[PageAdjustment] = {
      "Adjustment",
      {Slider("Image Brightness", "Adjustment", "Image Brightness", 0, 200, B::Offset100),
       Slider("Image Contrast", "Adjustment", "Image Contrast", 0, 200, B::Offset100),
       Slider("Image Gamma", "Adjustment", "Image Gamma", 1, 999, B::Gamma),
       Check("Image Invert", "Adjustment", "Image Invert"),
       Check("Image Greyscale", "Adjustment", "Do Image Greyscale"),
       Check("Image Threshold", "Adjustment", "Do Image Threshold"),
       Slider("Threshold Level", "Adjustment", "Image Threshold", 0, 255)},
      0,
      {}};
  pages[PageFrame] = {"Frame",
                      {Select("Frame Type", "Frame", "Do Frame")},
                      0,
                      {{"solid",
                        {Number("Left", "Frame", "Solid Left", "Pixels"),
                         Number("Right", "Frame", "Solid Right", "Pixels"),
                         Number("Top", "Frame", "Solid Top", "Pixels"),
                         Number("Bottom", "Frame", "Solid Bottom", "Pixels"),
                         Colour("Left Color", "Frame", "Solid Left Color"),
                         Colour("Right Color", "Frame", "Solid Right Color"),
                         Colour("Top Color", "Frame", "Solid Top Color"),
                         Colour("Bottom Color", "Frame", "Solid Bottom Color"),
                         Slider("Opacity", "Frame", "Solid Opacity", 1, 255)},
                        310}}};
  pages[PageWatermark] = {
      "Watermark",
      {Select("Watermark Type", "Watermark", "Do Watermark")},
      0,
      {{"text",
        {Bound("Text", K::TextField, "Watermark", "Text"),
         Bound("Font", K::ChooserList, "Watermark", "Font", B::FontList),
         Number("Font Size", "Watermark", "Font Size", "Points"),
         Number("Font Leading", "Watermark", "Font Leading", "Pixels"),
         Bound("Font Color", K::ChooserList, "Watermark", "Font Color", B::FontColours),
         Select("Font Style", "Watermark", "Font Style"),
         Select("Font Effect", "Watermark", "Font Effect"),
         Check("Antialiasing", "Watermark", "Text Antialiasing"),
         Select("Text Alignment", "Watermark", "Text Alignment"),
         Number("Text Padding", "Watermark", "Text Padding", "Pixels"),
         Slider("Text Opacity", "Watermark", "Text Opacity", 1, 255),
         Bound("Background Color", K::ChooserList, "Watermark", "Back Color", B::BackColours),
         Slider("Background Opacity", "Watermark", "Back Opacity", 1, 255),
         Select("Boundary", "Watermark", "Text Boundary"),
         Select("Position", "Watermark", "Text Position"),
         Number("X-Offset", "Watermark", "Text X Offset", "Pixels"),
         Number("Y-Offset", "Watermark", "Text Y Offset", "Pixels"),
         Slider("Rotation Angle", "Watermark", "Text Rotation", 0, 360),
         Select("Size", "Watermark", "Text Size"),
         Slider("Scale", "Watermark", "Text Scale", 1, 200)},
        610},
       {"image",
        {Bound("Image", K::ChooserField, "Watermark", "Image"),
         Check("Image Greyscale", "Watermark", "Image Greyscale"),
         Slider("Opacity", "Watermark", "Image Opacity", 1, 255),
         Select("Boundary", "Watermark", "Image Boundary"),
         Select("Position", "Watermark", "Image Position"),
         Number("X-Offset", "Watermark", "Image X Offset", "Pixels"),
         Number("Y-Offset", "Watermark", "Image Y Offset", "Pixels"),
         Slider("Rotation Angle", "Watermark", "Image Rotation", 0, 360),
         Select("Size", "Watermark", "Image Size"),
         Slider("Scale", "Watermark", "Image Scale", 1, 200)},
        310}}};
  PreferencesRow keep_subfolders = Check("Keep Subfolders", "Advanced", "Keep Subfolders");
  keep_subfolders.always_hidden = true;
  pages[PageAdvanced] = {
      "Advanced",
      {Bound("Filename Mask", K::TextField, "Advanced", "Filename Mask"),
       Select("File Timestamp", "Advanced", "File Timestamp"),
       Bound("Custom Timestamp", K::DateTimeField, "Advanced", "Custom Timestamp"),
       Select("Out Folders History", "Advanced", "Out Folders History"),
       Slider("Out Folders Number", "Advanced", "Out Folders Number", 1, 50), keep_subfolders},
      0,
      {}};
  return pages;
}

}  // namespace

const std::vector<PageLayout>& PreferencesPages() {
  static const std::vector<PageLayout> pages = BuildPages();
  return pages;
}

std::vector<std::string_view> SchemaEntryKeys(std::string_view group, std::string_view key) {
  std::vector<std::string_view> keys;
  const SettingField* field = FindSetting(group, key);
  if (!field) return keys;
  for (const SettingChoice& choice : field->choices) {
    // Values the window does not offer come last in every enumeration.
    if (choice.text_key.empty()) break;
    keys.push_back(choice.text_key);
  }
  return keys;
}
