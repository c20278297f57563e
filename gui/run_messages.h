#pragma once

// The texts the window shows about a run, without a widget: a fault's warning, the end-of-run
// report and a path shortened to fit its label.

#include <string>
#include <vector>

#include "core/conversion_run.h"
#include "core/run_checks.h"

struct ConversionJob;
struct ProgramSettings;

/// The window's warning for a fault of the run's checks: the text-table message with its value.
std::string RunFaultText(RunFault fault, const ConversionJob& job, const ProgramSettings& settings);

/// The one-line reason of a file that was not converted; empty for a converted one.
std::string FileFailureText(FileFailure failure);

/// What the end of a run tells: the headline for the title and the status bar, one line per
/// file that failed ("path: reason") and one per converted file whose picture was rebuilt without
/// something the document holds ("path: what"). A stopped run lists only the files that failed
/// before the stop: the ones it left unfinished did not fail on their own.
struct RunReport {
  bool failed = false;  // some file failed on its own
  std::string headline;
  std::vector<std::string> failures;
  std::vector<std::string> left_out;
};
RunReport BuildRunReport(const std::vector<FileResult>& results, bool stopped);

/// `path` cut to `limit` characters by replacing the middle of its folder part with "...": the
/// file name stays whole, even when that alone is longer than the limit. Unchanged when it is
/// empty or fits.
std::string ShortenPath(const std::string& path, int limit);
