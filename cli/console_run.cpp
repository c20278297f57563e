#include "cli/console_run.h"

#include <filesystem>
#include <string>

#include "cli/keywords.h"
#include "cli/report.h"
#include "core/conversion_job.h"
#include "settings/program_settings.h"
#include "core/run_checks.h"
#include "engine/formats.h"
#include "texts/language_table.h"

namespace {

using K = KeywordTable;

std::string Num(int64_t value) { return std::to_string(value); }

std::string FolderPart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The fixed line the console prints for each fault of a run's checks.
std::string FaultLine(RunFault fault, const std::string& output_key) {
  switch (fault) {
    case RunFault::None:
      return {};
    case RunFault::InvalidInputFile:
      return "Invalid input file";
    case RunFault::IncorrectOutputFolder:
      return "Incorrect output folder";
    case RunFault::EmptyOutputFolder:
    case RunFault::InvalidOutputFolder:
      return "Invalid output folder";
    case RunFault::InvalidConversionType:
      return "Invalid conversion type";
    case RunFault::InvalidBitDepth:
      return "Invalid " + output_key + "-bpp value";
    case RunFault::InvalidJpgQuality:
      return "Invalid jpg-quality value";
    case RunFault::InvalidWidth:
      return "Invalid width value";
    case RunFault::InvalidHeight:
      return "Invalid height value";
    case RunFault::InvalidBrightness:
      return "Invalid brightness value";
    case RunFault::InvalidContrast:
      return "Invalid contrast value";
    case RunFault::InvalidGamma:
      return "Invalid gamma value";
    case RunFault::InvalidWatermarkFont:
      return "Invalid watermark font";
    case RunFault::EmptyWatermarkImage:
    case RunFault::InvalidWatermarkImage:
      return "Invalid watermark image";
  }
  return {};
}

// Prints the error of `fault` when it is one of `faults`; true when it did.
bool Refused(RunFault fault, std::initializer_list<RunFault> faults, const ConsoleReport& report,
             const std::string& output_key = {}) {
  for (RunFault candidate : faults) {
    if (fault == candidate) {
      report.Error(FaultLine(fault, output_key));
      return true;
    }
  }
  return false;
}

bool ReportResize(const TransformSettings& transform, const ConsoleReport& report) {
  const RunFault fault = CheckResize(transform);
  report.Debug("Width: " + Num(transform.image_width) + " " +
               ValueToKeyword(K::SizeUnit, transform.image_width_unit));
  if (Refused(fault, {RunFault::InvalidWidth}, report)) return false;
  report.Debug("Height: " + Num(transform.image_height) + " " +
               ValueToKeyword(K::SizeUnit, transform.image_height_unit));
  if (Refused(fault, {RunFault::InvalidHeight}, report)) return false;
  report.Debug("Keep Aspect Ratio: " + Num(transform.keep_aspect_ratio));
  report.Debug("Image Resize Type: " + ValueToKeyword(K::ResizeType, transform.image_resize_type));
  report.Debug("Image Resize Algorithm: " +
               ValueToKeyword(K::ResizeAlgorithm, transform.image_resize_algorithm));
  return true;
}

bool ReportColorCorrection(const AdjustmentSettings& adjustment, const ConsoleReport& report) {
  const RunFault fault = CheckColourCorrection(adjustment);
  report.Debug("Brightness: " + Num(adjustment.image_brightness));
  if (Refused(fault, {RunFault::InvalidBrightness}, report)) return false;
  report.Debug("Contrast: " + Num(adjustment.image_contrast));
  if (Refused(fault, {RunFault::InvalidContrast}, report)) return false;
  report.Debug("Gamma: " + FormatTwoDecimals(adjustment.image_gamma));
  if (Refused(fault, {RunFault::InvalidGamma}, report)) return false;
  report.Debug("Invert: " + Num(adjustment.image_invert));
  return true;
}

void ReportFrame(const FrameSettings& frame, const ConsoleReport& report) {
  report.Debug("Frame left: " + Num(frame.solid_left));
  report.Debug("Frame right: " + Num(frame.solid_right));
  report.Debug("Frame top: " + Num(frame.solid_top));
  report.Debug("Frame bottom: " + Num(frame.solid_bottom));
  report.Debug("Frame left color: " + frame.solid_left_color);
  report.Debug("Frame right color: " + frame.solid_right_color);
  report.Debug("Frame top color: " + frame.solid_top_color);
  report.Debug("Frame bottom color: " + frame.solid_bottom_color);
  report.Debug("Frame opacity: " + Num(frame.solid_opacity));
}

void ReportTextWatermark(const WatermarkSettings& mark, const ConsoleReport& report) {
  report.Debug("Watermark text: " + mark.text);
  report.Debug("Watermark font: " + mark.font);
  report.Debug("Watermark font size: " + Num(mark.font_size));
  report.Debug("Watermark font leading: " + Num(mark.font_leading));
  report.Debug("Watermark font color: " + mark.font_color);
  report.Debug("Watermark font style: " + ValueToKeyword(K::FontStyle, mark.font_style));
  report.Debug("Watermark font effect: " + ValueToKeyword(K::FontEffect, mark.font_effect));
  report.Debug("Watermark text antialiasing: " + Num(mark.text_antialiasing));
  report.Debug("Watermark text alignment: " +
               ValueToKeyword(K::TextAlignment, mark.text_alignment));
  report.Debug("Watermark text padding: " + Num(mark.text_padding));
  report.Debug("Watermark text opacity: " + Num(mark.text_opacity));
  report.Debug("Watermark background color: " + mark.back_color);
  report.Debug("Watermark background opacity: " + Num(mark.back_opacity));
  report.Debug("Watermark boundary: " + ValueToKeyword(K::Boundary, mark.text_boundary));
  report.Debug("Watermark position: " + ValueToKeyword(K::Position, mark.text_position));
  report.Debug("Watermark offset (x/y): " + Num(mark.text_x_offset) + "/" +
               Num(mark.text_y_offset));
  report.Debug("Watermark rotation: " + Num(mark.text_rotation));
  report.Debug("Watermark size/mode: " + ValueToKeyword(K::WatermarkSize, mark.text_size));
}

void ReportImageWatermark(const WatermarkSettings& mark, const ConsoleReport& report) {
  report.Debug("Watermark image: " + mark.image);
  report.Debug("Watermark greyscale: " + Num(mark.image_greyscale));
  report.Debug("Watermark opacity: " + Num(mark.image_opacity));
  report.Debug("Watermark boundary: " + ValueToKeyword(K::Boundary, mark.image_boundary));
  report.Debug("Watermark position: " + ValueToKeyword(K::Position, mark.image_position));
  report.Debug("Watermark offset (x/y): " + Num(mark.image_x_offset) + "/" +
               Num(mark.image_y_offset));
  report.Debug("Watermark rotation: " + Num(mark.image_rotation));
  report.Debug("Watermark size/mode: " + ValueToKeyword(K::WatermarkSize, mark.image_size));
}

// The processing settings in pipeline order, with the checks of the values a run depends on.
bool ReportProcessing(const ProgramSettings& settings, const ConsoleReport& report,
                      RunResources& resources) {
  const TransformSettings& transform = settings.transform;
  if (transform.do_image_rotation != 0) {
    report.Debug("Image Rotation Type: " +
                 ValueToKeyword(K::RotationType, transform.image_rotation_type));
    report.Debug("Image Rotation: " + Num(transform.image_rotation));
    report.Debug("Image Rotation Back Color: " + transform.image_rotation_back_color);
  }
  if (transform.do_image_resize != 0 && !ReportResize(transform, report)) return false;
  report.Debug("Flip Horizontal: " + Num(transform.do_image_flip_horizontal));
  report.Debug("Flip Vertical: " + Num(transform.do_image_flip_vertical));

  const AdjustmentSettings& adjustment = settings.adjustment;
  if (adjustment.do_image_color_correction != 0 && !ReportColorCorrection(adjustment, report)) {
    return false;
  }
  report.Debug("Greyscale: " + Num(adjustment.do_image_greyscale));
  if (adjustment.do_image_threshold != 0) {
    report.Debug("Image Threshold: " + Num(adjustment.image_threshold));
  }

  report.Debug("Frame: " + ValueToKeyword(K::Frame, settings.frame.do_frame));
  if (settings.frame.do_frame == 1) ReportFrame(settings.frame, report);

  const WatermarkSettings& mark = settings.watermark;
  report.Debug("Watermark: " + ValueToKeyword(K::Watermark, mark.do_watermark));
  if (mark.do_watermark == 1) ReportTextWatermark(mark, report);
  if (mark.do_watermark == 2) ReportImageWatermark(mark, report);
  if (Refused(PrepareWatermark(settings, resources),
              {RunFault::InvalidWatermarkFont, RunFault::EmptyWatermarkImage,
               RunFault::InvalidWatermarkImage},
              report)) {
    return false;
  }

  const AdvancedSettings& advanced = settings.advanced;
  report.Debug("Filename Mask: " + advanced.filename_mask);
  report.Debug("File Timestamp: " + ValueToKeyword(K::FileTimestamp, advanced.file_timestamp));
  if (advanced.file_timestamp == 2)
    report.Debug("Custom Timestamp: " + Num(advanced.custom_timestamp));
  report.Debug("Keep Subfolders: " + Num(advanced.keep_subfolders));
  return true;
}

// Checks everything up to the conversion; false after printing the failed check's error.
bool PrepareConsoleJob(const ConsoleReport& report, RunResources& resources) {
  ConversionJob& job = g_job;
  ProgramSettings& settings = g_settings;

  report.Debug("Input: " + job.base_input_folder);
  job.input_path = job.base_input_folder;
  job.base_input_folder.clear();
  if (Refused(CheckInputFile(job.input_path), {RunFault::InvalidInputFile}, report)) return false;

  if (job.output_folder.empty()) job.output_folder = FolderPart(job.input_path);
  report.Debug("Output: " + job.output_folder);
  // The empty folder of a bare input name is the working folder.
  if (job.output_folder.empty()) job.output_folder = "./";
  if (Refused(CheckOutputFolder(job.output_folder),
              {RunFault::IncorrectOutputFolder, RunFault::InvalidOutputFolder}, report)) {
    return false;
  }

  if (settings.input.format.empty() && !g_process.input_format_keys.empty()) {
    settings.input.format = g_process.input_format_keys.front();
  }
  if (job.output_format.empty() && !g_process.output_format_keys.empty()) {
    job.output_format = g_process.output_format_keys.front();
  }
  report.Debug("Conversion: " + job.output_format);
  const RunFault format_fault = CheckOutputFormat(job.output_format, settings);
  if (Refused(format_fault, {RunFault::InvalidConversionType}, report)) return false;
  ReportInputFormat(settings.input.format, settings, report);
  ReportOutputFormat(job.output_format, settings, report);
  if (Refused(format_fault, {RunFault::InvalidBitDepth, RunFault::InvalidJpgQuality}, report,
              job.output_format)) {
    return false;
  }
  if (!ReportProcessing(settings, report, resources)) return false;

  // The shared preparation reads the key from the settings, as the window run keeps it there.
  settings.output.format = job.output_format;
  if (!PrepareJob(job, settings)) {
    report.Error("Invalid conversion type");
    return false;
  }
  return true;
}

bool IsListFile(const std::string& path) {
  const std::string extension = LowerExtension(path);
  return extension == "txt" || extension == "lst";
}

ConsoleRunResult Convert(const ConsoleReport& report, RunResources resources) {
  report.Status(GetText("General", "Importing"));
  int32_t added = 0;
  if (!IsListFile(g_job.input_path) && AddInputFile(g_job.input_path)) added = 1;
  {
    std::lock_guard<std::mutex> guard(g_progress.lock);
    g_progress.converted = added;
  }
  report.Status(FormatText(GetText("Msg", "Import complete"), Num(added), "", "", ""));
  if (added == 0) {
    report.Always(GetText("Msg", "Conversion is not complete"));
    report.Always(GetText("Msg", "Empty input files"));
    return ConsoleRunResult::Stopped;
  }

  report.Status(GetText("General", "Converting"));
  ConversionTrace trace;
  if (report.debug()) trace = [&report](std::string_view line) { report.Always(line); };
  const int32_t converted =
      StartConversion(std::move(resources), std::move(trace)) ? WaitForConversion() : 0;
  if (converted <= 0) {
    report.Always(GetText("Msg", "Conversion is not complete"));
    return ConsoleRunResult::Stopped;
  }
  report.Status(GetText("Msg", "Conversion complete"));
  report.Status(FormatText(GetText("Msg", "Files converted"), Num(converted), Num(added), "", ""));
  return converted < added ? ConsoleRunResult::Stopped : ConsoleRunResult::Converted;
}

}  // namespace

ConsoleRunResult RunConsoleConversion(bool quiet) {
  const ConsoleReport report(quiet, g_job.run_mode_word == "DEBUG");
  report.Status(GetText("General", "Preparing"));
  RunResources resources;
  if (!PrepareConsoleJob(report, resources)) return ConsoleRunResult::Stopped;
  return Convert(report, std::move(resources));
}
