// Runs one command as a child process and prints "<wall milliseconds> <peak resident KiB>
// <exit status>" on one line: the child's own peak from wait4, not the shell's.
//   bench_measure COMMAND [ARGUMENTS...]

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    // The child's own output would mix with the measurement line.
    const int null_device = open("/dev/null", O_WRONLY);
    if (null_device >= 0) {
      dup2(null_device, STDOUT_FILENO);
      dup2(null_device, STDERR_FILENO);
    }
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) return 2;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const double milliseconds = std::chrono::duration<double, std::milli>(elapsed).count();
  const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.1f %ld %d\n", milliseconds, usage.ru_maxrss, exit_status);
  return 0;
}
