#pragma once

// The window's state besides its widgets: the settings and where they are stored, the job fields
// the user edits between runs (the chooser's start, the output folder, "%rnd%" and "%n%") and the
// output-folder history in the settings. No widget: the main window shows what the session
// decides.

#include <memory>
#include <string>
#include <vector>

#include "core/conversion_job.h"
#include "gui/window_services.h"
#include "settings/program_settings.h"

/// One file or folder the user named by a drop or a chooser, with the number of documents it gave.
struct NamedInput {
  std::string path;
  bool folder = false;
  int32_t documents = 0;
};

/// A check for a new version while it waits for the network.
struct UpdateCheckState {
  bool in_work = false;
  /// The window was asked to close during the wait: the check gives up and closes it after.
  bool close_after = false;
};

class WindowSession {
 public:
  /// A session with the settings of a fresh start and no settings file.
  WindowSession();

  ProgramSettings& Settings() { return settings_; }
  const ProgramSettings& Settings() const { return settings_; }

  /// Where the settings are read from and written to; empty for nowhere.
  const std::string& ConfigPath() const { return config_path_; }
  void SetConfigPath(std::string path) { config_path_ = std::move(path); }
  /// Reads the settings file; a file that cannot be read gives every setting its default.
  /// True when it was read.
  bool LoadSettings();
  /// Writes the settings file; false when it could not be written (nothing is said).
  bool SaveSettings() const;

  /// The boxes, choosers, opener and version-file address the window uses.
  bool HasServices() const { return services_ != nullptr; }
  WindowServices& Services() { return *services_; }
  void SetServices(std::unique_ptr<WindowServices> services) { services_ = std::move(services); }
  ConversionJob& Job() { return job_; }
  const ConversionJob& Job() const { return job_; }

  /// "New": the job emptied, a fresh "%rnd%", "%n%" from 1.
  void NewJob();

  /// Takes a file offered by a drop or the chooser: true when it may be an input. When no output
  /// folder is shown yet (`shown_folder` empty), the file's folder becomes the output folder and
  /// heads the history.
  bool OfferInputFile(const std::string& path, const std::string& shown_folder);

  /// Takes the files and folders of one drop or one pick in place of the inputs before: each
  /// document as it is, each folder walked as the console walks it (its documents sorted, with
  /// their subfolders when "Include Subfolders" is on). Paths that give nothing are passed over,
  /// but a readable folder is kept even without documents, so Convert can say none were found.
  /// When no output folder is shown (`shown_folder` empty), the first input's folder (a folder
  /// itself) becomes the output folder and heads the history. False, with nothing changed, when
  /// nothing was taken.
  bool OfferInputs(const std::vector<std::string>& paths, const std::string& shown_folder);

  /// The documents of the named inputs, in the order of adding.
  const InputFileList& Inputs() const { return inputs_; }
  const std::vector<NamedInput>& NamedInputs() const { return named_; }
  /// True when the inputs are more than the one file the field has always held: several files,
  /// or a folder.
  bool HoldsBatch() const;
  /// What the input field shows for the inputs: one file's or one folder's path, the one
  /// document's path, or "12 files"; empty when there are none.
  std::string InputSummary() const;
  /// The named inputs one a line, a folder with its number of documents; after `limit` lines, one
  /// more says how many are left out.
  std::string InputListText(size_t limit) const;
  /// Forgets the named inputs (the field was typed over, or "New").
  void ForgetInputs();
  /// Turns "Include Subfolders" on or off and walks the named folders again.
  void SetIncludeSubfolders(bool include);
  bool IncludeSubfolders() const { return settings_.advanced.include_subfolders == 1; }

  /// A chosen output folder: when it names an existing folder it becomes the output folder (with
  /// "/" at the end) and heads the history; false, with nothing changed, otherwise.
  bool ChooseOutputFolder(std::string folder);

  /// The job as the checks or the worker of a run left it: the resolved folder, the last file
  /// (where the chooser starts next) and the "%rnd%" and "%n%" to count on from.
  void TakeJob(const ConversionJob& job) { job_ = job; }

  /// Outlives the window, so a check whose window went during the wait still finds it.
  UpdateCheckState& UpdateCheck() { return update_check_; }

 private:
  ProgramSettings settings_;
  std::string config_path_;
  ConversionJob job_;
  std::vector<NamedInput> named_;
  InputFileList inputs_;
  std::unique_ptr<WindowServices> services_;
  UpdateCheckState update_check_;
};
