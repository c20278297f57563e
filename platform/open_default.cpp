#include "platform/open_default.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

bool OpenWithDefaultHandler(const std::string& target) {
  if (target.empty()) return false;
  // xdg-open may wait until its viewer closes. A short-lived middle process starts it and ends
  // at once, so the helper is nobody's child to wait for and the window never blocks.
  const pid_t middle = fork();
  if (middle < 0) return false;
  if (middle == 0) {
    setsid();
    char* const arguments[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()),
                               nullptr};
    pid_t helper = 0;
    const int result = posix_spawnp(&helper, "xdg-open", nullptr, nullptr, arguments, environ);
    _exit(result == 0 ? 0 : 1);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
