#include "core/run_checks.h"

#include <filesystem>

#include "engine/output/formats.h"
#include "engine/output/saving.h"

namespace {

// The text after the last "." counts as an extension only when no blank or folder separator
// follows the dot.
bool HasExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot + 1 == path.size()) return false;
  return path.find_first_of(" /\\", dot + 1) == std::string::npos;
}

bool IsNonEmptyFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return !error && size > 0;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A relative folder is taken from the working folder, as the user's shell sees it, and only while
// that folder exists: empty when it has been deleted (the system then has no path for it).
std::string ResolveFolder(std::string folder) {
  if (!StartsWith(folder, "/")) {
    if (StartsWith(folder, "./") || StartsWith(folder, ".\\")) folder.erase(0, 2);
    std::error_code error;
    std::string base = std::filesystem::current_path(error).string();
    if (error || !StartsWith(base, "/")) return {};
    if (base.back() != '/') base += '/';
    folder = base + folder;
  }
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

RunFault CheckInputFile(const std::string& path) {
  if (!HasExtension(path) || !IsNonEmptyFile(path)) return RunFault::InvalidInputFile;
  return RunFault::None;
}

RunFault CheckOutputFolder(std::string& folder) {
  if (folder.empty()) return RunFault::EmptyOutputFolder;
  if (StartsWith(folder, "..")) return RunFault::IncorrectOutputFolder;
  folder = ResolveFolder(std::move(folder));
  if (folder.empty() || !IsFolder(folder)) return RunFault::InvalidOutputFolder;
  return RunFault::None;
}

RunFault CheckOutputFormat(const std::string& key, const ProgramSettings& settings) {
  if (!IsOutputFormatKey(key)) return RunFault::InvalidConversionType;
  // Only keys with a depth setting have a depth to check.
  if (!FindSetting("Output", std::string(key) + " BPP")) return RunFault::None;
  if (!IsBitDepthAllowed(key, TargetDepthSetting(key, settings))) return RunFault::InvalidBitDepth;
  if (key == "jpg" &&
      !SettingOf("Output", "JPG Quality").range.Contains(settings.output.jpg_quality)) {
    return RunFault::InvalidJpgQuality;
  }
  return RunFault::None;
}

RunFault CheckResize(const TransformSettings& transform) {
  if (transform.do_image_resize == 0) return RunFault::None;
  if (transform.image_width == 0) return RunFault::InvalidWidth;
  if (transform.image_height == 0) return RunFault::InvalidHeight;
  return RunFault::None;
}

RunFault CheckColourCorrection(const AdjustmentSettings& adjustment) {
  if (adjustment.do_image_color_correction == 0) return RunFault::None;
  if (!SettingOf("Adjustment", "Image Brightness").range.Contains(adjustment.image_brightness)) {
    return RunFault::InvalidBrightness;
  }
  if (!SettingOf("Adjustment", "Image Contrast").range.Contains(adjustment.image_contrast)) {
    return RunFault::InvalidContrast;
  }
  // A gamma that is not a number is inside no range.
  if (!SettingOf("Adjustment", "Image Gamma").range.Contains(adjustment.image_gamma)) {
    return RunFault::InvalidGamma;
  }
  return RunFault::None;
}

RunFault PrepareWatermark(const ProgramSettings& settings, RunResources& resources) {
  const WatermarkSettings& mark = settings.watermark;
  if (mark.do_watermark == ToValue(WatermarkType::Text)) {
    resources.watermark_font = LoadWatermarkFont(settings);
    if (!resources.watermark_font) return RunFault::InvalidWatermarkFont;
  } else if (mark.do_watermark == ToValue(WatermarkType::Image)) {
    if (mark.image.empty()) return RunFault::EmptyWatermarkImage;
    if (!IsNonEmptyFile(mark.image)) return RunFault::InvalidWatermarkImage;
  }
  return RunFault::None;
}

PreparedRun PrepareRun(RunRequest request) {
  PreparedRun prepared;
  ConversionJob& job = request.job;
  const ProgramSettings& settings = request.settings;
  RunFault& fault = prepared.fault;
  fault = CheckInputFile(job.input_path);
  if (fault == RunFault::None) fault = CheckOutputFolder(job.output_folder);
  if (fault == RunFault::None) fault = CheckOutputFormat(settings.output.format, settings);
  if (fault == RunFault::None) fault = CheckResize(settings.transform);
  if (fault == RunFault::None) fault = CheckColourCorrection(settings.adjustment);
  if (fault == RunFault::None) fault = PrepareWatermark(settings, prepared.resources);
  if (fault == RunFault::None && !PrepareJob(job, settings)) {
    fault = RunFault::InvalidConversionType;
  }
  if (fault != RunFault::None) prepared.resources = RunResources{};
  prepared.request = std::move(request);
  return prepared;
}

bool IsOutputFormatKey(std::string_view key) {
  for (const std::string& offered : g_process.output_format_keys) {
    if (offered == key) return true;
  }
  return false;
}

bool IsBitDepthAllowed(std::string_view key, int32_t bpp) {
  if (bpp == 0) return true;
  const OutputFormatEntry* format = FindOutputFormat(key);
  if (!format) return false;
  for (int32_t depth : ParseDepthList(format->depths)) {
    if (depth == bpp) return true;
  }
  return false;
}
