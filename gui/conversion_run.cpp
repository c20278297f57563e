#include "gui/conversion_run.h"

#include <wx/bmpcbox.h>
#include <wx/textctrl.h>

#include "core/conversion_job.h"
#include "core/run_checks.h"
#include "engine/output/formats.h"
#include "settings/program_settings.h"
// FreeImage.h defines _WINDOWS_, which sends the wx headers down their Windows path.
#undef _WINDOWS_
#include "gui/main_window.h"
#include "gui/message_boxes.h"
#include "gui/output_history.h"
#include "gui/progress_window.h"
#include "gui/wx_text.h"
#include "platform/utf8.h"
#include "texts/language_table.h"

namespace {

// The length of a UTF-8 text in characters, and the byte offset of character `index`.
size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += !IsUtf8Continuation(c);
  return count;
}

size_t ByteOffset(const std::string& text, size_t index) {
  size_t count = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if (IsUtf8Continuation(text[at])) continue;
    if (count == index) return at;
    ++count;
  }
  return text.size();
}

// Reads the fields into the job and settings, as the run will use them.
void ReadFields() {
  MainWindow& window = *g_main_window;
  g_job.input_path = ToUtf8(window.InputField()->GetValue());
  g_input_files.Clear();
  // A file of another type counts as no input at all, before any check of the file itself.
  if (IsAcceptedInputPath(g_job.input_path)) {
    g_input_files.Set(g_job.input_path, InputFileEntry{1, ""});
  }
  g_job.output_folder = ToUtf8(window.OutputFolderBox()->GetValue());
  const int selected = window.OutputFormatBox()->GetSelection();
  if (selected == wxNOT_FOUND) return;
  const auto index = static_cast<size_t>(
      reinterpret_cast<intptr_t>(window.OutputFormatBox()->GetClientData(selected)));
  if (index < g_process.output_format_keys.size()) {
    g_settings.output.format = g_process.output_format_keys[index];
  }
}

}  // namespace

void ShowRunFault(RunFault fault) {
  // The watermark's faults leave the status at "Preparing..."; every other says the run stopped.
  const bool watermark = fault == RunFault::InvalidWatermarkFont ||
                         fault == RunFault::EmptyWatermarkImage ||
                         fault == RunFault::InvalidWatermarkImage;
  if (!watermark && g_main_window) {
    g_main_window->SetStatusText(GetText("Msg", "Conversion is not complete"));
  }
  ShowWarning(RunFaultText(fault, g_job, g_settings));
}

std::string RunFaultText(RunFault fault, const ConversionJob& job,
                         const ProgramSettings& settings) {
  switch (fault) {
    case RunFault::None:
      return {};
    case RunFault::InvalidInputFile:
      return GetText("Msg", "Empty input files");
    case RunFault::EmptyOutputFolder:
      return GetText("Msg", "Empty output folder");
    case RunFault::IncorrectOutputFolder:
    case RunFault::InvalidOutputFolder:
      return FormatText(GetText("Msg", "Invalid output folder"), job.output_folder);
    case RunFault::InvalidWidth:
      return GetText("Msg", "Invalid width");
    case RunFault::InvalidHeight:
      return GetText("Msg", "Invalid height");
    case RunFault::InvalidWatermarkFont:
      return FormatText(GetText("Msg", "Invalid watermark font"), settings.watermark.font);
    case RunFault::EmptyWatermarkImage:
      return GetText("Msg", "Empty watermark image");
    case RunFault::InvalidWatermarkImage:
      return FormatText(GetText("Msg", "Invalid watermark image"), settings.watermark.image);
    case RunFault::InvalidConversionType:
    case RunFault::InvalidBitDepth:
    case RunFault::InvalidJpgQuality:
    case RunFault::InvalidBrightness:
    case RunFault::InvalidContrast:
    case RunFault::InvalidGamma:
      // Only a hand-edited settings file gets here (the window's own controls cannot); the
      // table has no message of its own for these, so the general one asks for a correction.
      return GetText("Msg", "Empty extensions");
  }
  return {};
}

std::string ShortenPath(const std::string& text, int limit) {
  const size_t length = CharacterCount(text);
  if (text.empty() || limit < 3 || length <= static_cast<size_t>(limit)) return text;
  const size_t keep = static_cast<size_t>((limit - 3) / 2);
  return text.substr(0, ByteOffset(text, keep)) + "..." +
         text.substr(ByteOffset(text, length - keep));
}

void RunConversionFromWindow() {
  if (!g_main_window || g_main_window->RunInWork()) return;
  ReadFields();
  g_main_window->SetStatusText(GetText("General", "Preparing"));
  RunResources resources;
  // The checks are the console's; a file of another type never reaches them.
  const RunFault fault =
      g_input_files.Empty() ? RunFault::InvalidInputFile : CheckJob(g_job, g_settings, resources);
  if (fault != RunFault::None) {
    ShowRunFault(fault);
    return;
  }
  AddOutputFolderToHistory(g_settings, g_job.output_folder);
  g_main_window->FillOutputFolderBox();
  g_main_window->SetStatusText(GetText("General", "Converting"));

  bool close_after = false;
  {
    ProgressWindow progress(g_main_window, static_cast<int>(g_input_files.Size()));
    // The run owns its resources (the watermark font) until its worker has ended.
    if (!progress.Run(std::move(resources))) {
      g_main_window->SetStatusText(GetText("Msg", "Conversion is not complete"));
    }
    close_after = progress.CloseAfter();
  }
  g_main_window->Raise();
  if (close_after) g_main_window->Close();
}

void RequestBreakOfRun() {
  if (ProgressWindow* progress = ProgressWindow::Current()) progress->AskBreak(true);
}
