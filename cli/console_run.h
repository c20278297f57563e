#pragma once

// The conversion of a command-line run: checks, report, one worker run and the summary.

#include "cli/options.h"
#include "core/conversion_job.h"
#include "settings/program_settings.h"

/// How a console run ended.
enum class ConsoleRunResult {
  Converted,  // every added file was converted
  Stopped,    // a check failed, nothing was added, or a file was not converted
};

/// Checks the job and settings that the options left, prints the report (more in debug mode,
/// less when `quiet`), converts the input file on the worker thread and prints the summary. The
/// first failed check prints its "Error: " line and ends the run before anything is written.
///
/// Several inputs, a folder or an input list make a batch: every document named is converted (by
/// `state.jobs` workers), each failure is printed on standard error with its reason, the progress
/// is shown on standard error when it is a terminal, and `state.report_path` receives a JSON Lines
/// report.
ConsoleRunResult RunConsoleConversion(ProgramSettings settings, ConversionJob job,
                                      const CommandLineState& state);
