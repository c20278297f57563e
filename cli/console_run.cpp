#include "cli/console_run.h"

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "cli/keywords.h"
#include "cli/report.h"
#include "core/conversion_run.h"
#include "core/run_checks.h"
#include "engine/isolation/decoder_stop.h"
#include "engine/output/formats.h"
#include "platform/text.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

using K = KeywordTable;

std::string Num(int64_t value) { return std::to_string(value); }

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

bool ReportResize(const TransformSettings& transform, RunFault fault, const ConsoleReport& report) {
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

bool ReportColorCorrection(const AdjustmentSettings& adjustment, RunFault fault,
                           const ConsoleReport& report) {
  report.Debug("Brightness: " + Num(adjustment.image_brightness));
  if (Refused(fault, {RunFault::InvalidBrightness}, report)) return false;
  report.Debug("Contrast: " + Num(adjustment.image_contrast));
  if (Refused(fault, {RunFault::InvalidContrast}, report)) return false;
  report.Debug("Gamma: " + FormatTwoDecimals(adjustment.image_gamma));
  if (Refused(fault, {RunFault::InvalidGamma}, report)) return false;
  report.Debug("Invert: " + Num(adjustment.image_invert));
  return true;
}

// The debug lines of the frame and the watermarks, in the order they are printed. The offsets
// share a line, so they stay explicit.
constexpr ReportRow FrameRows[] = {
    {"Frame left", "Frame", "Solid Left"},
    {"Frame right", "Frame", "Solid Right"},
    {"Frame top", "Frame", "Solid Top"},
    {"Frame bottom", "Frame", "Solid Bottom"},
    {"Frame left color", "Frame", "Solid Left Color"},
    {"Frame right color", "Frame", "Solid Right Color"},
    {"Frame top color", "Frame", "Solid Top Color"},
    {"Frame bottom color", "Frame", "Solid Bottom Color"},
    {"Frame opacity", "Frame", "Solid Opacity"},
};
constexpr ReportRow TextWatermarkRows[] = {
    {"Watermark text", "Watermark", "Text"},
    {"Watermark font", "Watermark", "Font"},
    {"Watermark font size", "Watermark", "Font Size"},
    {"Watermark font leading", "Watermark", "Font Leading"},
    {"Watermark font color", "Watermark", "Font Color"},
    {"Watermark font style", "Watermark", "Font Style"},
    {"Watermark font effect", "Watermark", "Font Effect"},
    {"Watermark text antialiasing", "Watermark", "Text Antialiasing"},
    {"Watermark text alignment", "Watermark", "Text Alignment"},
    {"Watermark text padding", "Watermark", "Text Padding"},
    {"Watermark text opacity", "Watermark", "Text Opacity"},
    {"Watermark background color", "Watermark", "Back Color"},
    {"Watermark background opacity", "Watermark", "Back Opacity"},
    {"Watermark boundary", "Watermark", "Text Boundary"},
    {"Watermark position", "Watermark", "Text Position"},
};
constexpr ReportRow TextWatermarkEndRows[] = {
    {"Watermark rotation", "Watermark", "Text Rotation"},
    {"Watermark size/mode", "Watermark", "Text Size"},
};
constexpr ReportRow ImageWatermarkRows[] = {
    {"Watermark image", "Watermark", "Image"},
    {"Watermark greyscale", "Watermark", "Image Greyscale"},
    {"Watermark opacity", "Watermark", "Image Opacity"},
    {"Watermark boundary", "Watermark", "Image Boundary"},
    {"Watermark position", "Watermark", "Image Position"},
};
constexpr ReportRow ImageWatermarkEndRows[] = {
    {"Watermark rotation", "Watermark", "Image Rotation"},
    {"Watermark size/mode", "Watermark", "Image Size"},
};

void ReportTextWatermark(const ProgramSettings& settings, const ConsoleReport& report) {
  const WatermarkSettings& mark = settings.watermark;
  ReportRows(TextWatermarkRows, settings, report);
  report.Debug("Watermark offset (x/y): " + Num(mark.text_x_offset) + "/" +
               Num(mark.text_y_offset));
  ReportRows(TextWatermarkEndRows, settings, report);
}

void ReportImageWatermark(const ProgramSettings& settings, const ConsoleReport& report) {
  const WatermarkSettings& mark = settings.watermark;
  ReportRows(ImageWatermarkRows, settings, report);
  report.Debug("Watermark offset (x/y): " + Num(mark.image_x_offset) + "/" +
               Num(mark.image_y_offset));
  ReportRows(ImageWatermarkEndRows, settings, report);
}

// The processing settings in pipeline order, each check's error where its value is shown.
bool ReportProcessing(const ProgramSettings& settings, RunFault fault,
                      const ConsoleReport& report) {
  const TransformSettings& transform = settings.transform;
  if (transform.do_image_rotation != 0) {
    report.Debug("Image Rotation Type: " +
                 ValueToKeyword(K::RotationType, transform.image_rotation_type));
    report.Debug("Image Rotation: " + Num(transform.image_rotation));
    report.Debug("Image Rotation Back Color: " + transform.image_rotation_back_color);
  }
  if (transform.do_image_resize != 0 && !ReportResize(transform, fault, report)) return false;
  report.Debug("Flip Horizontal: " + Num(transform.do_image_flip_horizontal));
  report.Debug("Flip Vertical: " + Num(transform.do_image_flip_vertical));

  const AdjustmentSettings& adjustment = settings.adjustment;
  if (adjustment.do_image_color_correction != 0 &&
      !ReportColorCorrection(adjustment, fault, report)) {
    return false;
  }
  report.Debug("Greyscale: " + Num(adjustment.do_image_greyscale));
  if (adjustment.do_image_threshold != 0) {
    report.Debug("Image Threshold: " + Num(adjustment.image_threshold));
  }

  report.Debug("Frame: " + ValueToKeyword(K::Frame, settings.frame.do_frame));
  if (settings.frame.do_frame == 1) ReportRows(FrameRows, settings, report);

  const WatermarkSettings& mark = settings.watermark;
  report.Debug("Watermark: " + ValueToKeyword(K::Watermark, mark.do_watermark));
  if (mark.do_watermark == 1) ReportTextWatermark(settings, report);
  if (mark.do_watermark == 2) ReportImageWatermark(settings, report);
  if (Refused(fault,
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

// Prints what the run will use (every line in debug mode) in the order the checks take it, and
// the error of `fault` where its check stands; false when it printed one. `request` is the run
// as the options left it, before the checks resolved anything.
bool ReportRun(const RunRequest& request, RunFault fault, const ConsoleReport& report) {
  const ProgramSettings& settings = request.settings;
  const std::string& output_key = settings.output.format;
  report.Debug("Input: " + request.job.input_path);
  if (Refused(fault, {RunFault::InvalidInputFile}, report)) return false;
  report.Debug("Output: " + request.job.output_folder);
  if (Refused(fault, {RunFault::IncorrectOutputFolder, RunFault::InvalidOutputFolder}, report)) {
    return false;
  }
  report.Debug("Conversion: " + output_key);
  if (Refused(fault, {RunFault::InvalidConversionType}, report)) return false;
  ReportInputFormat(settings.input.format, settings, report);
  ReportLayerOptions(settings, request.job, report);
  ReportOutputFormat(output_key, settings, report);
  if (Refused(fault, {RunFault::InvalidBitDepth, RunFault::InvalidJpgQuality}, report,
              output_key)) {
    return false;
  }
  return ReportProcessing(settings, fault, report);
}

// Ctrl-C while the worker runs stops the run as the window's break does: the decode of the file
// in work ends at once and the run reports that it is not complete. The handler gives the signal
// back to what it was at once, so a second Ctrl-C does what the first would have done.
std::atomic<bool> interrupted{false};
struct sigaction interrupt_before {};

void OnInterrupt(int) {
  StopDecoders();
  interrupted.store(true);
  sigaction(SIGINT, &interrupt_before, nullptr);
}

class InterruptStopsRun {
 public:
  InterruptStopsRun() {
    interrupted.store(false);
    // A program started with Ctrl-C ignored keeps ignoring it.
    if (sigaction(SIGINT, nullptr, &interrupt_before) != 0 ||
        (!(interrupt_before.sa_flags & SA_SIGINFO) && interrupt_before.sa_handler == SIG_IGN)) {
      return;
    }
    struct sigaction stop {};
    stop.sa_handler = OnInterrupt;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    installed_ = sigaction(SIGINT, &stop, nullptr) == 0;
  }
  ~InterruptStopsRun() {
    if (installed_ && !interrupted.load()) sigaction(SIGINT, &interrupt_before, nullptr);
  }
  InterruptStopsRun(const InterruptStopsRun&) = delete;
  InterruptStopsRun& operator=(const InterruptStopsRun&) = delete;

 private:
  bool installed_ = false;
};

// Waits for the worker, passing a Ctrl-C on as a stop; the number of files converted.
int32_t WaitForConsoleConversion(ConversionRun& run) {
  constexpr int PollMilliseconds = 15;
  bool stopped = false;
  while (!run.Ended()) {
    if (interrupted.load() && !stopped) {
      run.Stop();
      stopped = true;
    }
    poll(nullptr, 0, PollMilliseconds);
  }
  return run.Wait();
}

bool IsListFile(const std::string& path) {
  const std::string extension = LowerExtension(path);
  return extension == "txt" || extension == "lst";
}

// The run as the options ask for it, with the console's defaults: the -i path is the input
// (never a base folder), the output folder is the input's own, and the first offered keys.
RunRequest ConsoleRequest(ProgramSettings settings, ConversionJob job) {
  job.input_path = job.base_input_folder;
  job.base_input_folder.clear();
  if (job.output_folder.empty()) job.output_folder = FolderOf(job.input_path);
  if (settings.input.format.empty() && !g_process.input_format_keys.empty()) {
    settings.input.format = g_process.input_format_keys.front();
  }
  if (job.output_format.empty() && !g_process.output_format_keys.empty()) {
    job.output_format = g_process.output_format_keys.front();
  }
  // The checks and the worker read the key from the settings, as the window keeps it there.
  settings.output.format = job.output_format;
  RunRequest request{std::move(settings), std::move(job), {}};
  if (!IsListFile(request.job.input_path)) {
    AddInputFile(request.inputs, request.job.input_path, request.job.base_input_folder);
  }
  return request;
}

ConsoleRunResult Convert(const ConsoleReport& report, PreparedRun prepared) {
  report.Status(GetText("General", "Importing"));
  const auto added = static_cast<int32_t>(prepared.request.inputs.Size());
  report.Status(FormatText(GetText("Msg", "Import complete"), Num(added), "", "", ""));
  if (added == 0) {
    report.Always(GetText("Msg", "Conversion is not complete"));
    report.Always(GetText("Msg", "Empty input files"));
    return ConsoleRunResult::Stopped;
  }

  report.Status(GetText("General", "Converting"));
  ConversionTrace trace;
  if (report.debug()) trace = [&report](std::string_view line) { report.Always(line); };
  const InterruptStopsRun interrupt;
  const std::unique_ptr<ConversionRun> run =
      StartConversion(std::move(prepared.request), std::move(prepared.resources), std::move(trace));
  const int32_t converted = run ? WaitForConsoleConversion(*run) : 0;
  // A file converts without what its rebuild could not draw; the user hears what that was.
  if (run) {
    for (const FileResult& result : run->Results()) {
      if (result.converted && !result.left_out.empty()) {
        report.Notice(LeftOutLine(result.input, result.left_out));
      }
    }
  }
  if (converted <= 0) {
    report.Always(GetText("Msg", "Conversion is not complete"));
    return ConsoleRunResult::Stopped;
  }
  report.Status(GetText("Msg", "Conversion complete"));
  report.Status(FormatText(GetText("Msg", "Files converted"), Num(converted), Num(added), "", ""));
  return converted < added ? ConsoleRunResult::Stopped : ConsoleRunResult::Converted;
}

}  // namespace

ConsoleRunResult RunConsoleConversion(ProgramSettings settings, ConversionJob job, bool quiet) {
  const ConsoleReport report(quiet, job.run_mode_word == "DEBUG");
  report.Status(GetText("General", "Preparing"));
  const RunRequest request = ConsoleRequest(std::move(settings), std::move(job));
  RunRequest checked = request;
  // The empty folder of a bare input name is the working folder.
  if (checked.job.output_folder.empty()) checked.job.output_folder = "./";
  PreparedRun prepared = PrepareRun(std::move(checked));
  if (!ReportRun(request, prepared.fault, report)) return ConsoleRunResult::Stopped;
  return Convert(report, std::move(prepared));
}
