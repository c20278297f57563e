#include "engine/isolation/decoder_spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "engine/isolation/decoder_faults.h"
#include "engine/isolation/decoder_protocol.h"

extern char** environ;

namespace {

// Descriptors handed to the child are first moved above the ones it expects.
constexpr int HandOverFloor = 10;
constexpr std::chrono::milliseconds ReapPollInterval{5};
constexpr int RecordPipeBytes = 1 << 20;

// Moves `fd` clear of the numbers the child's dup2 targets; -1 when it cannot.
int MovedAboveHandOver(int fd) {
  if (fd < 0) return -1;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, HandOverFloor);
  close(fd);
  return moved;
}

// The pipe the record comes down: the program's end does not block (reads wait with a deadline),
// and it holds a megabyte, so a large bitmap crosses in a few dozen steps.
bool CreateRecordPipe(FileDescriptor& read_end, FileDescriptor& write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end.reset(MovedAboveHandOver(ends[0]));
  write_end.reset(MovedAboveHandOver(ends[1]));
  if (read_end.get() < 0 || write_end.get() < 0) return false;
  if (fcntl(read_end.get(), F_SETFL, O_NONBLOCK) != 0) return false;
  fcntl(read_end.get(), F_SETPIPE_SZ, RecordPipeBytes);  // a smaller pipe only costs more steps
  return true;
}

}  // namespace

std::vector<std::string> DecoderEnvironment(char** environment) {
  constexpr std::string_view Tunables = "GLIBC_TUNABLES=";
  constexpr std::string_view HugePages = "glibc.malloc.hugetlb=1";
  std::vector<std::string> result;
  bool found = false;
  for (char** entry = environment; entry && *entry; ++entry) {
    std::string text = *entry;
    if (text.starts_with(Tunables)) {
      found = true;
      // A user's own choice of huge pages stands.
      if (text.find("glibc.malloc.hugetlb=") == std::string::npos) {
        text += text.size() > Tunables.size() ? ":" : "";
        text += HugePages;
      }
    }
    result.push_back(std::move(text));
  }
  if (!found) result.push_back(std::string(Tunables) + std::string(HugePages));
  return result;
}

std::optional<DecoderChild> SpawnDecoder(const std::string& decoder,
                                         const std::vector<std::string>& arguments, int input_fd) {
  DecoderChild child;
  FileDescriptor record_writer, request_reader;
  FileDescriptor input(fcntl(input_fd, F_DUPFD_CLOEXEC, HandOverFloor));
  if (!CreateRecordPipe(child.record, record_writer) || input.get() < 0) return std::nullopt;
  // A socket rather than a pipe: a request to a child that is already gone must fail, not
  // raise SIGPIPE in this process.
  int request_ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, request_ends) != 0) return std::nullopt;
  request_reader.reset(MovedAboveHandOver(request_ends[0]));
  child.request.reset(MovedAboveHandOver(request_ends[1]));
  if (request_reader.get() < 0 || child.request.get() < 0) return std::nullopt;

  // The child reads the very descriptor we checked, so a file renamed or replaced meanwhile
  // cannot slip past the check.
  std::vector<std::string> command = {decoder};
  command.insert(command.end(), arguments.begin(), arguments.end());
  command.push_back("/proc/self/fd/" + std::to_string(DecoderInputFd));
  std::vector<char*> argv;
  for (std::string& argument : command) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return std::nullopt;
  posix_spawn_file_actions_adddup2(&actions, request_reader.get(), DecoderRequestFd);
  // Standard error too: FreeImage's TIFF library prints its warnings there. A sanitizer's report
  // must be seen, though.
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (!DecoderSanitizersChecked)
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, record_writer.get(), DecoderRecordFd);
  posix_spawn_file_actions_adddup2(&actions, input.get(), DecoderInputFd);

  // The child starts with default signal handling and nothing blocked, whatever this process set.
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return std::nullopt;
  }
  sigset_t all_signals, no_signals;
  sigfillset(&all_signals);
  sigemptyset(&no_signals);
  posix_spawnattr_setsigdefault(&attributes, &all_signals);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> environment = DecoderEnvironment(environ);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const int spawned =
      posix_spawn(&child.pid, decoder.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return std::nullopt;
  // Only the child holds the writing end now, so its end, however it comes, ends the record.
  return child;
}

void DismissDecoder(pid_t pid) {
  kill(pid, SIGKILL);
  const auto reap = [pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) CheckDecoderExit(WEXITSTATUS(status));
  };
  try {
    std::thread(reap).detach();
  } catch (const std::system_error&) {
    reap();  // no thread to be had: wait here, as long as the teardown takes
  }
}

bool WaitForDecoder(pid_t pid, std::chrono::steady_clock::time_point deadline, int* exit_status) {
  if (exit_status) *exit_status = -1;
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      // Someone else reaped our child: its result is unknown.
      if (pidfd >= 0) close(pidfd);
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (pidfd >= 0) close(pidfd);
      return false;
    }
    if (pidfd >= 0) {
      pollfd wait_for{pidfd, POLLIN, 0};
      poll(&wait_for, 1, static_cast<int>(left.count()));
    } else {
      usleep(static_cast<useconds_t>(
          std::chrono::microseconds(std::min(left, ReapPollInterval)).count()));
    }
  }
  if (pidfd >= 0) close(pidfd);
  if (WIFEXITED(status)) CheckDecoderExit(WEXITSTATUS(status));
  if (exit_status && WIFEXITED(status)) *exit_status = WEXITSTATUS(status);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
