#include "gui/conversion_run.h"

#include <wx/bmpcbox.h>
#include <wx/textctrl.h>

#include "core/conversion_run.h"
#include "core/input_sources.h"
#include "core/run_checks.h"
#include "engine/output/formats.h"
#include "gui/main_window.h"
#include "gui/message_boxes.h"
#include "gui/output_history.h"
#include "gui/progress_window.h"
#include "gui/run_messages.h"
#include "gui/window_session.h"
#include "gui/wx_text.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

// Reads the fields into the job and settings, as the run will use them; true for a batch (several
// files, or a folder).
bool ReadFields(MainWindow& window, InputFileList& inputs) {
  WindowSession& session = window.Session();
  ConversionJob& job = session.Job();
  job.input_path = ToUtf8(window.InputField()->GetValue());
  inputs.Clear();
  bool batch = false;
  if (session.HoldsBatch() && job.input_path == session.InputSummary()) {
    inputs = session.Inputs();
    batch = true;
  } else if (IsInputFolder(job.input_path)) {
    // A typed folder is walked as a chosen one.
    AppendInputFolder(inputs, job.input_path, session.IncludeSubfolders());
    batch = true;
  } else if (IsAcceptedInputPath(job.input_path)) {
    // A file of another type counts as no input at all, before any check of the file itself.
    inputs.Set(job.input_path, InputFileEntry{1, ""});
  }
  if (batch) {
    // The checks look at one file: the first that can still be read stands for the batch, and
    // each file's own faults are reported with it at the end.
    for (const auto& [path, entry] : inputs) {
      if (CheckInputFile(path) == RunFault::None) {
        job.input_path = path;
        break;
      }
    }
  }
  job.output_folder = ToUtf8(window.OutputFolderBox()->GetValue());
  const int selected = window.OutputFormatBox()->GetSelection();
  if (selected == wxNOT_FOUND) return batch;
  const auto index = static_cast<size_t>(
      reinterpret_cast<intptr_t>(window.OutputFormatBox()->GetClientData(selected)));
  if (index < g_process.output_format_keys.size()) {
    window.Session().Settings().output.format = g_process.output_format_keys[index];
  }
  return batch;
}

}  // namespace

void ShowRunFault(MainWindow& window, RunFault fault) {
  // The watermark's faults leave the status at "Preparing..."; after every other the status is
  // emptied: no run started, so none stopped.
  const bool watermark = fault == RunFault::InvalidWatermarkFont ||
                         fault == RunFault::EmptyWatermarkImage ||
                         fault == RunFault::InvalidWatermarkImage;
  if (!watermark) window.ShowStatus("");
  WindowSession& session = window.Session();
  ShowWarning(session.Services(), RunFaultText(fault, session.Job(), session.Settings()));
}

void RunConversionFromWindow(MainWindow& window) {
  if (window.RunInWork()) return;
  WindowSession& session = window.Session();
  InputFileList inputs;
  const bool batch = ReadFields(window, inputs);
  window.ShowStatus(GetText("General", "Preparing"));
  // The checks are the console's; a file of another type never reaches them.
  if (inputs.Empty()) {
    ShowRunFault(window, RunFault::InvalidInputFile);
    return;
  }
  // A batch uses every core; one file keeps the one worker it always had.
  PreparedRun prepared =
      PrepareRun(RunRequest{session.Settings(), session.Job(), std::move(inputs), batch ? 0 : 1});
  // The job keeps what the checks made of it (the resolved folder, the run fields).
  session.TakeJob(prepared.request.job);
  if (prepared.fault != RunFault::None) {
    ShowRunFault(window, prepared.fault);
    return;
  }
  AddOutputFolderToHistory(session.Settings(), session.Job().output_folder);
  window.FillOutputFolderBox();
  window.ShowStatus(GetText("General", "Converting"));

  bool close_after = false;
  {
    ProgressWindow progress(&window, static_cast<int>(prepared.request.inputs.Size()),
                            session.Services(),
                            [&window](const std::string& status) { window.ShowStatus(status); });
    window.SetProgress(&progress);
    // The run owns its resources (the watermark font) until its worker has ended.
    if (!progress.Run(std::move(prepared.request), std::move(prepared.resources))) {
      window.ShowStatus(GetText("Msg", "Conversion is not complete"));
    } else if (const ConversionRun* run = progress.Run()) {
      // "%rnd%" and "%n%" count on from run to run, and the file chooser starts at the last file.
      session.TakeJob(run->Job());
    }
    window.SetProgress(nullptr);
    close_after = progress.CloseAfter();
  }
  window.Raise();
  if (close_after) window.Close();
}
