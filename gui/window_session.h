#pragma once

// The window's state besides its widgets: the job fields the user edits between runs (the
// chooser's start, the output folder, "%rnd%" and "%n%") and the output-folder history in the
// settings. No widget: the main window shows what the session decides.

#include <string>

#include "core/conversion_job.h"

struct ProgramSettings;

class WindowSession {
 public:
  /// A session over `settings`, which it reads and writes (the history) and which outlive it.
  explicit WindowSession(ProgramSettings& settings);

  ProgramSettings& Settings() { return settings_; }
  ConversionJob& Job() { return job_; }
  const ConversionJob& Job() const { return job_; }

  /// "New": the job emptied, a fresh "%rnd%", "%n%" from 1.
  void NewJob();

  /// Takes a file offered by a drop or the chooser: true when it may be an input. When no output
  /// folder is shown yet (`shown_folder` empty), the file's folder becomes the output folder and
  /// heads the history.
  bool OfferInputFile(const std::string& path, const std::string& shown_folder);

  /// A chosen output folder: when it names an existing folder it becomes the output folder (with
  /// "/" at the end) and heads the history; false, with nothing changed, otherwise.
  bool ChooseOutputFolder(std::string folder);

  /// The job as the checks or the worker of a run left it: the resolved folder, the last file
  /// (where the chooser starts next) and the "%rnd%" and "%n%" to count on from.
  void TakeJob(const ConversionJob& job) { job_ = job; }

 private:
  ProgramSettings& settings_;
  ConversionJob job_;
};
