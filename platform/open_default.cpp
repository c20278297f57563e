#include "platform/open_default.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

// Collects the helper's exit status whenever it ends, so it never stays a zombie. xdg-open may
// run until its viewer closes, hence a thread of its own rather than a wait here. With SIGCHLD
// ignored the kernel reaps the helper itself and waitpid answers ECHILD once it is gone: that
// ends the wait too, where retrying would spin.
void ReapInBackground(pid_t helper) {
  try {
    std::thread([helper] {
      int status = 0;
      while (waitpid(helper, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the helper stays a zombie until the program ends, which is harmless.
  }
}

}  // namespace

bool OpenWithDefaultHandler(const std::string& target) {
  if (target.empty()) return false;
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return false;
  // A session of its own: the helper and its viewer outlive the program and take no signal from
  // its terminal. Every signal starts at its default and none is held, whatever the window's
  // threads ignore or block (an ignored SIGCHLD would upset the helper's own waits).
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  const bool prepared =
      posix_spawnattr_setflags(
          &attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
      posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
      posix_spawnattr_setsigdefault(&attributes, &all) == 0;
  char* const arguments[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()),
                             nullptr};
  pid_t helper = 0;
  // Spawned straight from here: posix_spawn does not copy the window's threads and memory as a
  // fork would, and it reports a helper that could not be run.
  const bool started =
      prepared && posix_spawnp(&helper, "xdg-open", nullptr, &attributes, arguments, environ) == 0;
  posix_spawnattr_destroy(&attributes);
  if (!started) return false;
  ReapInBackground(helper);
  return true;
}
