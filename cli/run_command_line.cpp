#include "cli/run_command_line.h"

#include "cli/console_run.h"
#include "cli/report.h"
#include "cli/usage.h"
#include "core/conversion_job.h"
#include "core/program_identity.h"
#include "engine/output/formats.h"
#include "platform/console.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

CommandLineOutcome Finished(int exit_status) {
  FlushConsole();
  return {RunModeChoice::Finished, exit_status};
}

// A command-line run starts from the built-in defaults; it never reads config.ini.
void PrepareCommandLineState(ProgramSettings& settings, ConversionJob& job) {
  BuildInputFormats();
  BuildOutputFormats();
  ResetJob(job);
  ResetSettings(settings, true);
  BuildLanguageTable();
}

}  // namespace

bool IsCommandLineRun(const Parameters& parameters) {
  if (parameters.Count() == 0) return false;
  switch (ReadFirstParameterMode(parameters)) {
    case FirstParameterMode::Version:
    case FirstParameterMode::Help:
      return true;
    case FirstParameterMode::Uninstall:
    case FirstParameterMode::Screenshot:
      return false;
    case FirstParameterMode::None:
      break;
  }
  ProgramSettings settings;
  ResetSettings(settings, true);
  ConversionJob job;
  CommandLineState state;
  OptionTarget target{settings, job, state};
  ParseOptions(parameters, target);
  return !state.error_message.empty() || job.console_run == 1;
}

CommandLineOutcome RunCommandLine(const Parameters& parameters, std::string_view program_name) {
  if (parameters.Count() == 0) return {RunModeChoice::Window, ExitSuccess};
  ProgramSettings settings;
  ConversionJob job;
  PrepareCommandLineState(settings, job);
  CommandLineState state;
  const std::string title = BuildProgramTitle();

  switch (ReadFirstParameterMode(parameters)) {
    case FirstParameterMode::Uninstall:
      return {RunModeChoice::Uninstall, ExitSuccess};
    case FirstParameterMode::Screenshot:
      return {RunModeChoice::Screenshot, ExitSuccess};
    case FirstParameterMode::Version:
      SetConsoleTitle(title);
      WriteConsoleLine(VersionLine());
      return Finished(ExitSuccess);
    case FirstParameterMode::Help:
      SetConsoleTitle(title);
      for (const std::string& line : UsageLines(program_name)) WriteConsoleLine(line);
      return Finished(ExitSuccess);
    case FirstParameterMode::None:
      break;
  }

  OptionTarget target{settings, job, state};
  ParseOptions(parameters, target);

  if (!state.error_message.empty()) {
    SetConsoleTitle(title);
    WriteConsoleLine("Error: " + state.error_message);
    if (state.pause_at_exit) WaitForKeyPress();
    return Finished(ExitParseError);
  }
  if (job.console_run != 1) return {RunModeChoice::Window, ExitSuccess};

  SetConsoleTitle(title);
  if (!state.quiet_output) {
    for (const std::string& line : BannerLines(title)) WriteConsoleLine(line);
  }
  const ConsoleRunResult result = RunConsoleConversion(std::move(settings), std::move(job), state);
  if (state.pause_at_exit) {
    WriteConsoleLine("Press any key to exit.");
    WaitForKeyPress();
  }
  return Finished(result == ConsoleRunResult::Converted ? ExitSuccess : ExitRunStopped);
}
