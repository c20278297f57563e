// The program's entry point: process start-up, the single-instance lock and the choice between
// a console run and a window run.

#include <unistd.h>

#include <string>
#include <vector>

#include "app/start_up.h"
#include "cli/command_line.h"
#include "cli/run_command_line.h"
#include "cli/usage.h"
#include "core/program_identity.h"
#include "platform/console.h"
#include "platform/instance_lock.h"
#include "platform/system.h"
#include "settings/program_settings.h"

namespace {

// A second copy ends before it reads or writes anything. Only a console run says why: a script
// needs to know its conversion did not happen, a window user already sees the first window.
// Only a running copy refuses a run: with no lock to be had at all, the program runs without.
bool EnsureSingleInstance(InstanceLock& lock, const std::string& title, bool command_line_run) {
  if (lock.Acquire(title) != LockResult::HeldElsewhere) return true;
  if (command_line_run) WriteErrorLine("Error: Another copy of " + title + " is running");
  return false;
}

// The window lives in a program of its own, so a console run never loads the window toolkit. This
// process becomes that program and hands it the lock it holds: no moment without the lock, and no
// second copy of the state.
// `mode_arguments` follow the lock option: "-T FOLDER" or "-U" for the modes that need a display.
int RunWindow(InstanceLock& lock, std::vector<std::string> mode_arguments = {}) {
  const std::string& helpers = RunningProgramPaths().helper_folder;
  const std::string window_program = helpers + WindowProgramName;
  if (helpers.empty() || !lock.KeepAcrossExec()) {
    // Without an inheritable lock the window program takes its own: give ours up first.
    lock.Release();
  }
  std::string lock_option;
  if (lock.Held()) {
    lock_option = InstanceLockOption + std::to_string(lock.HeldDescriptor());
  }
  FlushConsole();
  std::vector<char*> arguments = {const_cast<char*>(window_program.c_str())};
  if (!lock_option.empty()) arguments.push_back(lock_option.data());
  for (std::string& argument : mode_arguments) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  execv(window_program.c_str(), arguments.data());
  WriteErrorLine("Error: Cannot start the window program " + window_program);
  return ExitNoWindow;
}

}  // namespace

int main(int argc, char** argv) {
  SetUpProcess();
  const Parameters parameters(argc, argv);
  const bool command_line_run = IsCommandLineRun(parameters);
  // Held from start to exit; the kernel drops it with the process.
  InstanceLock lock;
  if (!EnsureSingleInstance(lock, BuildProgramTitle(), command_line_run)) {
    return command_line_run ? ExitAnotherCopy : ExitSuccess;
  }

  const std::string program_name = ProgramNameOf(argc > 0 && argv[0] ? argv[0] : "quorvix");
  const CommandLineOutcome outcome = RunCommandLine(parameters, program_name);
  switch (outcome.mode) {
    case RunModeChoice::Finished:
      return outcome.exit_status;
    case RunModeChoice::Screenshot:
      return RunWindow(lock, {"-T", parameters.OptionValue(1)});
    case RunModeChoice::Uninstall:
      return RunWindow(lock, {"-U"});
    case RunModeChoice::Window:
      return RunWindow(lock);
  }
  return ExitSuccess;
}
