#pragma once

// The command-line run: from the parameters to the end of the console work.

#include <string_view>

#include "cli/command_line.h"

/// Exit statuses of the process.
inline constexpr int ExitSuccess = 0;
/// A console run stopped at a check or converted fewer files than it added.
inline constexpr int ExitRunStopped = 1;
/// The options could not be read ("Incorrect number of parameters", "Invalid profile file").
inline constexpr int ExitParseError = 2;
/// Another copy of this version holds the single-instance lock.
inline constexpr int ExitAnotherCopy = 3;

/// What the process does once the command line has been read.
enum class RunModeChoice {
  Window,      // no parameters, or nothing for the console to do
  Screenshot,  // "-T" first
  Uninstall,   // "-U" first
  Finished,    // the console work is done; end with the exit status
};

struct CommandLineOutcome {
  RunModeChoice mode = RunModeChoice::Window;
  int exit_status = ExitSuccess;
};

/// True when `parameters` ask for console work (help, version, an input option or a parse
/// error). Reads them into scratch records.
bool IsCommandLineRun(const Parameters& parameters);

/// Prepares the command-line state, handles the first-parameter modes, reads every option into
/// the run's own settings and job, and does the console work. `program_name` names the program in
/// the usage text.
CommandLineOutcome RunCommandLine(const Parameters& parameters, std::string_view program_name);
