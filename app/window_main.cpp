// The window program: the window run of Quorvix. The console program starts it for a command line
// without console work and hands over its single-instance lock; started directly, it takes the
// lock itself.

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "app/start_up.h"
#include "core/program_identity.h"
#include "gui/window_run.h"
#include "platform/instance_lock.h"

namespace {

// The descriptor named by "--instance-lock=FD"; -1 when the option is missing or malformed.
int HandedOverLock(int argc, char** argv) {
  const std::string_view option = InstanceLockOption;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.substr(0, option.size()) != option) continue;
    const std::string_view digits = argument.substr(option.size());
    int fd = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
    if (error != std::errc() || end != digits.data() + digits.size()) return -1;
    return fd;
  }
  return -1;
}

// The mode that the first argument other than the lock option asks for: "-T FOLDER" takes the
// screenshots, "-U" shows the uninstall page; anything else is the main window.
WindowRunMode RequestedMode(int argc, char** argv, std::string& folder) {
  const std::string_view option = InstanceLockOption;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.substr(0, option.size()) == option) continue;
    if (argument == "-T" || argument == "-t") {
      folder = i + 1 < argc ? argv[i + 1] : "";
      return WindowRunMode::Screenshots;
    }
    if (argument == "-U" || argument == "-u") return WindowRunMode::Uninstall;
    return WindowRunMode::Main;
  }
  return WindowRunMode::Main;
}

}  // namespace

int main(int argc, char** argv) {
  SetUpProcess();
  const int handed_over = HandedOverLock(argc, argv);
  // Another copy is open: a second window run ends silently. With no lock file to be had at all,
  // the window runs without one, as the console program does.
  InstanceLock lock;
  const std::string title = BuildProgramTitle();
  if (!lock.Adopt(handed_over, title) && lock.Acquire(title) == LockResult::HeldElsewhere) {
    return 0;
  }
  std::string folder;
  const WindowRunMode mode = RequestedMode(argc, argv, folder);
  return RunWindowInterface(argc, argv, mode, folder);
}
