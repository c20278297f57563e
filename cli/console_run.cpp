#include "cli/console_run.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "cli/batch_report.h"
#include "cli/keywords.h"
#include "cli/options.h"
#include "cli/report.h"
#include "core/conversion_run.h"
#include "core/input_sources.h"
#include "core/run_checks.h"
#include "engine/isolation/decoder_stop.h"
#include "engine/output/formats.h"
#include "platform/atomic_file.h"
#include "platform/console.h"
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

// Ctrl-C or SIGTERM while the workers run stops the run as the window's break does: the decodes
// of the files in work end at once and the run reports that it is not complete. The handler gives
// the signal back to what it was at once, so a second one does what the first would have done.
constexpr int StoppingSignals[] = {SIGINT, SIGTERM};
std::atomic<bool> interrupted{false};
struct sigaction signal_before[2]{};

void OnInterrupt(int signal_number) {
  StopDecoders();
  interrupted.store(true);
  for (size_t i = 0; i < std::size(StoppingSignals); ++i) {
    if (StoppingSignals[i] == signal_number) sigaction(signal_number, &signal_before[i], nullptr);
  }
}

class InterruptStopsRun {
 public:
  InterruptStopsRun() {
    interrupted.store(false);
    for (size_t i = 0; i < std::size(StoppingSignals); ++i) {
      struct sigaction& before = signal_before[i];
      // A program started with the signal ignored keeps ignoring it.
      if (sigaction(StoppingSignals[i], nullptr, &before) != 0 ||
          (!(before.sa_flags & SA_SIGINFO) && before.sa_handler == SIG_IGN)) {
        continue;
      }
      struct sigaction stop {};
      stop.sa_handler = OnInterrupt;
      sigemptyset(&stop.sa_mask);
      stop.sa_flags = SA_RESTART;
      installed_[i] = sigaction(StoppingSignals[i], &stop, nullptr) == 0;
    }
  }
  ~InterruptStopsRun() {
    if (interrupted.load()) return;
    for (size_t i = 0; i < std::size(StoppingSignals); ++i) {
      if (installed_[i]) sigaction(StoppingSignals[i], &signal_before[i], nullptr);
    }
  }
  InterruptStopsRun(const InterruptStopsRun&) = delete;
  InterruptStopsRun& operator=(const InterruptStopsRun&) = delete;

 private:
  bool installed_[std::size(StoppingSignals)] = {};
};

// Waits for the workers, passing a Ctrl-C on as a stop and showing each change of the progress
// to `show` when set; the number of files converted.
int32_t WaitForConsoleConversion(ConversionRun& run,
                                 const std::function<void(const ProgressSnapshot&)>& show = {}) {
  constexpr int PollMilliseconds = 15;
  bool stopped = false;
  ProgressSnapshot shown{-1, -1, {}};
  while (!run.Ended()) {
    if (interrupted.load() && !stopped) {
      run.Stop();
      stopped = true;
    }
    if (show) {
      ProgressSnapshot now = run.Progress();
      if (now.finished != shown.finished || now.current_file != shown.current_file) {
        show(now);
        shown = std::move(now);
      }
    }
    poll(nullptr, 0, PollMilliseconds);
  }
  return run.Wait();
}

bool IsListFile(const std::string& path) {
  const std::string extension = LowerExtension(path);
  return extension == "txt" || extension == "lst";
}

// The first offered keys where the options named none.
void ApplyConsoleDefaults(ProgramSettings& settings, ConversionJob& job) {
  if (settings.input.format.empty() && !g_process.input_format_keys.empty()) {
    settings.input.format = g_process.input_format_keys.front();
  }
  if (job.output_format.empty() && !g_process.output_format_keys.empty()) {
    job.output_format = g_process.output_format_keys.front();
  }
  // The checks and the worker read the key from the settings, as the window keeps it there.
  settings.output.format = job.output_format;
}

// The run as the options ask for it, with the console's defaults: the -i path is the input
// (never a base folder), the output folder is the input's own, and the first offered keys.
RunRequest ConsoleRequest(ProgramSettings settings, ConversionJob job) {
  job.input_path = job.base_input_folder;
  job.base_input_folder.clear();
  if (job.output_folder.empty()) job.output_folder = FolderOf(job.input_path);
  ApplyConsoleDefaults(settings, job);
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

// True when the options name more than one document (several inputs, a folder or an input list)
// or ask for the batch's report.
bool IsBatch(const CommandLineState& state) {
  if (!state.input_lists.empty() || state.inputs.size() > 1) return true;
  if (!state.report_path.empty()) return true;
  return state.inputs.size() == 1 && IsInputFolder(state.inputs.front());
}

// The documents the options name, and the named files that cannot be inputs, each with why and
// the number of documents named before it.
struct GatheredInputs {
  InputFileList list;
  std::vector<std::pair<size_t, FileResult>> refused;
};

// The run's results with the refused files among them where they were named.
std::vector<FileResult> InNamingOrder(const GatheredInputs& gathered,
                                      const std::vector<FileResult>& results) {
  std::vector<FileResult> all;
  auto refused = gathered.refused.begin();
  for (size_t i = 0; i <= results.size(); ++i) {
    for (; refused != gathered.refused.end() && refused->first == i; ++refused) {
      all.push_back(refused->second);
    }
    if (i < results.size()) all.push_back(results[i]);
  }
  for (; refused != gathered.refused.end(); ++refused) all.push_back(refused->second);
  return all;
}

void GatherPath(const std::string& path, bool recursive, GatheredInputs& gathered) {
  if (IsInputFolder(path)) {
    AppendInputFolder(gathered.list, path, recursive);
    return;
  }
  if (AppendInputFile(gathered.list, path)) return;
  // A named file is counted: the user asked for it, so its absence is a failure, not a skip.
  gathered.refused.emplace_back(
      gathered.list.Size(),
      FileResult{path, "", false,
                 IsDocumentPath(path) ? FileFailure::LoadFailed : FileFailure::NotDocument});
}

// False when a list cannot be read.
bool GatherInputs(const CommandLineState& state, GatheredInputs& gathered) {
  for (const std::string& path : state.inputs) GatherPath(path, state.recursive != 0, gathered);
  for (const std::string& list_path : state.input_lists) {
    std::vector<std::string> paths;
    if (list_path == "-") {
      paths = ReadInputList(std::cin);
    } else {
      std::ifstream list(list_path);
      if (!list) return false;
      paths = ReadInputList(list);
    }
    for (const std::string& path : paths) GatherPath(path, state.recursive != 0, gathered);
  }
  return true;
}

// "(3/12) path" on one line of standard error, rewritten in place.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Show(const ProgressSnapshot& progress, int32_t total) {
    if (!shown_) return;
    const std::string line =
        FormatText(GetText("Msg", "Progress"), Num(progress.finished), Num(total), "", "") + " " +
        progress.current_file;
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    dirty_ = true;
  }
  void Clear() {
    if (!dirty_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    dirty_ = false;
  }

 private:
  bool shown_;
  bool dirty_ = false;
};

void ReportFailure(const FileResult& result) {
  if (result.converted) return;
  WriteErrorLine(result.input + ": " + FailureReason(result));
}

ConsoleRunResult RunBatch(const ConsoleReport& report, ProgramSettings settings, ConversionJob job,
                          const CommandLineState& state) {
  report.Status(GetText("General", "Preparing"));
  GatheredInputs gathered;
  if (!GatherInputs(state, gathered)) {
    report.Error("Invalid input list");
    return ConsoleRunResult::Stopped;
  }
  job.base_input_folder.clear();
  ApplyConsoleDefaults(settings, job);
  const OutputPlacement placement =
      job.output_folder.empty() ? OutputPlacement::BesideInput : OutputPlacement::OutputFolder;
  job.input_path = gathered.list.Empty() ? std::string() : gathered.list.begin()->first;
  RunRequest request{std::move(settings), std::move(job), std::move(gathered.list), state.jobs,
                     placement};
  const auto total = static_cast<int32_t>(request.inputs.Size() + gathered.refused.size());

  PreparedRun prepared;
  if (!request.inputs.Empty()) {
    RunRequest checked = request;
    // Each output goes beside its own input: those folders exist, so the first stands for all.
    if (placement == OutputPlacement::BesideInput) {
      checked.job.output_folder = FolderOf(checked.job.input_path);
      if (checked.job.output_folder.empty()) checked.job.output_folder = "./";
    }
    prepared = PrepareRun(std::move(checked));
    if (!ReportRun(request, prepared.fault, report)) return ConsoleRunResult::Stopped;
  }

  AtomicFile report_file;
  if (!state.report_path.empty() && !report_file.Open(state.report_path)) {
    report.Error("Invalid report file");
    return ConsoleRunResult::Stopped;
  }

  report.Status(GetText("General", "Importing"));
  const auto added = static_cast<int32_t>(request.inputs.Size());
  report.Status(FormatText(GetText("Msg", "Import complete"), Num(added), "", "", ""));
  std::vector<FileResult> results;
  int32_t converted = 0;
  if (added == 0) {
    report.Always(GetText("Msg", "Conversion is not complete"));
    report.Always(GetText("Msg", "Empty input files"));
  } else {
    report.Status(GetText("General", "Converting"));
    ConversionTrace trace;
    if (report.debug()) trace = [&report](std::string_view line) { report.Always(line); };
    const InterruptStopsRun interrupt;
    const std::unique_ptr<ConversionRun> run = StartConversion(
        std::move(prepared.request), std::move(prepared.resources), std::move(trace));
    ProgressLine progress(!report.quiet() && isatty(STDERR_FILENO) == 1);
    if (run) {
      converted = WaitForConsoleConversion(
          *run, [&progress, total](const ProgressSnapshot& now) { progress.Show(now, total); });
      progress.Clear();
      results = run->Results();
    }
  }
  results = InNamingOrder(gathered, results);
  for (const FileResult& result : results) {
    ReportFailure(result);
    if (result.converted && !result.left_out.empty()) {
      report.Notice(LeftOutLine(result.input, result.left_out));
    }
  }
  if (report_file.IsOpen()) {
    std::ostringstream lines;
    WriteJsonLinesReport(lines, results);
    if (!report_file.Write(lines.str()) || !report_file.Commit(AtomicFile::Sync::Fast)) {
      report.Error("Invalid report file");
    }
  }
  if (added > 0) {
    const bool stopped = interrupted.load() || converted == 0;
    report.Status(GetText("Msg", stopped ? "Conversion is not complete" : "Conversion complete"));
    report.Status(
        FormatText(GetText("Msg", "Files converted"), Num(converted), Num(total), "", ""));
  }
  return converted == total && total > 0 ? ConsoleRunResult::Converted : ConsoleRunResult::Stopped;
}

}  // namespace

ConsoleRunResult RunConsoleConversion(ProgramSettings settings, ConversionJob job,
                                      const CommandLineState& state) {
  const bool quiet = state.quiet_output != 0;
  const ConsoleReport report(quiet, job.run_mode_word == "DEBUG");
  if (IsBatch(state)) return RunBatch(report, std::move(settings), std::move(job), state);
  report.Status(GetText("General", "Preparing"));
  const RunRequest request = ConsoleRequest(std::move(settings), std::move(job));
  RunRequest checked = request;
  // The empty folder of a bare input name is the working folder.
  if (checked.job.output_folder.empty()) checked.job.output_folder = "./";
  PreparedRun prepared = PrepareRun(std::move(checked));
  if (!ReportRun(request, prepared.fault, report)) return ConsoleRunResult::Stopped;
  return Convert(report, std::move(prepared));
}
