#pragma once

// Runs the real quorvix executable as a child process for end-to-end tests.
//
//   QuorvixRun run = RunQuorvix({"-q", "-i", "in.psd", "-o", dir.folder()});
//   EXPECT_EQ(run.exit_status, 0);
//   EXPECT_EQ(run.Lines(), (std::vector<std::string>{...}));
//
// Standard input is /dev/null, so a pause never waits. Unless `runtime_dir` is given, each run
// gets a fresh $XDG_RUNTIME_DIR of its own, so that tests running in parallel never meet each
// other's single-instance lock.

#include <string>
#include <utility>
#include <vector>

struct QuorvixRunOptions {
  /// The child's working directory; empty keeps the test's own.
  std::string working_directory;
  /// The child's $XDG_RUNTIME_DIR (where the lock file lives); empty gives a fresh folder.
  std::string runtime_dir;
  /// Variables set in the child's environment on top of the test's own.
  std::vector<std::pair<std::string, std::string>> environment;
  /// Removes the working directory once the child is in it, before quorvix starts.
  bool remove_working_directory = false;
  /// The executable to run; empty runs this build's quorvix.
  std::string program{};
};

struct QuorvixRun {
  int exit_status = -1;  // the exit code; 128 + the signal number when it was killed
  std::string out;       // everything written to standard output
  std::string err;       // everything written to standard error

  /// Standard output split at line feeds; no entry for the text after the last one.
  std::vector<std::string> Lines() const;
  /// Standard error split the same way.
  std::vector<std::string> ErrorLines() const;
};

/// The path of the quorvix executable of this build.
std::string QuorvixPath();

/// Starts quorvix with `arguments` with its output thrown away and returns its process id (-1 when
/// it cannot start); `runtime_dir` of `options` must be given. The caller waits for it.
int StartQuorvix(const std::vector<std::string>& arguments, const QuorvixRunOptions& options);

/// Runs quorvix with `arguments` (without the program path) and waits for it to end.
QuorvixRun RunQuorvix(const std::vector<std::string>& arguments,
                      const QuorvixRunOptions& options = {});
