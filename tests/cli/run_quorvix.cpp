#include "tests/cli/run_quorvix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Reads both pipes to their end together, so a child that fills one never blocks on it.
void ReadBoth(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = 2;
  char buffer[4096];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
      if (count > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

std::vector<std::string> QuorvixRun::Lines() const { return SplitLines(out); }

std::vector<std::string> QuorvixRun::ErrorLines() const { return SplitLines(err); }

std::string QuorvixPath() { return std::string(QUORVIX_BIN_DIR) + "/quorvix"; }

namespace {

// Forks and execs quorvix with standard output and error on `out_fd` and `err_fd`.
pid_t Spawn(const std::vector<std::string>& arguments, const QuorvixRunOptions& options,
            const std::string& runtime_dir, int out_fd, int err_fd) {
  const std::string program = options.program.empty() ? QuorvixPath() : options.program;
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argv_text) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child != 0) return child;
  // The child is a copy of a single-threaded test, so setenv before exec is safe here.
  const int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
  dup2(out_fd, STDOUT_FILENO);
  dup2(err_fd, STDERR_FILENO);
  setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
  for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
  if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0) {
    _exit(126);
  }
  if (options.remove_working_directory && rmdir(options.working_directory.c_str()) != 0) {
    _exit(126);
  }
  execv(program.c_str(), argv.data());
  _exit(127);
}

}  // namespace

int StartQuorvix(const std::vector<std::string>& arguments, const QuorvixRunOptions& options) {
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0) return -1;
  const pid_t child = Spawn(arguments, options, options.runtime_dir, null_fd, null_fd);
  close(null_fd);
  return child;
}

QuorvixRun RunQuorvix(const std::vector<std::string>& arguments, const QuorvixRunOptions& options) {
  QuorvixRun run;
  TempDir own_runtime_dir;
  const std::string runtime_dir =
      options.runtime_dir.empty() ? own_runtime_dir.path().string() : options.runtime_dir;

  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return run;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return run;
  }

  const pid_t child = Spawn(arguments, options, runtime_dir, out_pipe[1], err_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (child < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    return run;
  }
  ReadBoth(out_pipe[0], err_pipe[0], run.out, run.err);

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    run.exit_status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    run.exit_status = 128 + WTERMSIG(status);
  return run;
}
