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
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
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

// The decoders in work, for a stop that may come from a signal handler: plain atomics only. A
// pid leaves this table before it is reaped, and the reaper waits for a stop in progress, so a
// stop never signals a process id that has been given to someone else.
// A batch keeps a decoder per worker, and takes up to 256 workers.
constexpr size_t MaxTrackedDecoders = 256;
std::array<std::atomic<pid_t>, MaxTrackedDecoders> tracked_decoders{};
std::atomic<int> stops_in_progress{0};
std::atomic<bool> decoders_stopped{false};

// More decoders at once than entries run on, only without a stop.
void TrackDecoder(pid_t pid) {
  for (std::atomic<pid_t>& entry : tracked_decoders) {
    pid_t free = 0;
    if (entry.compare_exchange_strong(free, pid)) return;
  }
}

void UntrackDecoder(pid_t pid) {
  for (std::atomic<pid_t>& entry : tracked_decoders) {
    pid_t tracked = pid;
    if (entry.compare_exchange_strong(tracked, 0)) break;
  }
  while (stops_in_progress.load() > 0) std::this_thread::yield();
}

// SIGCHLD as the program had it, while decoders live with a disposition that keeps their status.
std::mutex child_signal_mutex;
int live_decoders = 0;
bool child_signal_changed = false;
struct sigaction inherited_child_signal {};
struct sigaction decoder_child_signal {};

// A decoder's exit status must stay until it is reaped: SIGCHLD ignored, or SA_NOCLDWAIT, has the
// kernel discard it, and "nothing to rebuild" would look like a failure. Looked at on every start,
// in case the disposition was changed while others ran.
void KeepChildStatus() {
  std::lock_guard lock(child_signal_mutex);
  ++live_decoders;
  struct sigaction current {};
  if (sigaction(SIGCHLD, nullptr, &current) != 0) return;
  const bool ignored = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
  if (!ignored && !(current.sa_flags & SA_NOCLDWAIT)) return;
  struct sigaction keep = current;
  if (ignored) keep.sa_handler = SIG_DFL;
  keep.sa_flags &= ~SA_NOCLDWAIT;
  if (sigaction(SIGCHLD, &keep, nullptr) != 0) return;
  if (!child_signal_changed) inherited_child_signal = current;
  decoder_child_signal = keep;
  child_signal_changed = true;
}

// After the last decoder is reaped, the program's own SIGCHLD comes back, unless someone has
// set another meanwhile. Children of others that ended in between stay for their owners to reap.
void ReleaseChildStatus() {
  std::lock_guard lock(child_signal_mutex);
  if (--live_decoders > 0 || !child_signal_changed) return;
  child_signal_changed = false;
  struct sigaction current {};
  if (sigaction(SIGCHLD, nullptr, &current) != 0) return;
  if (current.sa_handler != decoder_child_signal.sa_handler ||
      current.sa_flags != decoder_child_signal.sa_flags) {
    return;
  }
  sigaction(SIGCHLD, &inherited_child_signal, nullptr);
}

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

namespace {

// Starts a decoder with `input_fd` as its file, or with none (-1) for a decoder kept for several,
// whose requests come as messages.
std::optional<DecoderChild> Spawn(const std::string& decoder,
                                  const std::vector<std::string>& arguments, int input_fd) {
  DecoderChild child;
  FileDescriptor record_writer, request_reader;
  FileDescriptor input(input_fd >= 0 ? fcntl(input_fd, F_DUPFD_CLOEXEC, HandOverFloor) : -1);
  if (!CreateRecordPipe(child.record, record_writer)) return std::nullopt;
  if (input_fd >= 0 && input.get() < 0) return std::nullopt;
  // A socket rather than a pipe: a request to a child that is already gone must fail, not
  // raise SIGPIPE in this process.
  const int socket_type = input_fd >= 0 ? SOCK_STREAM : SOCK_SEQPACKET;
  int request_ends[2];
  if (socketpair(AF_UNIX, socket_type | SOCK_CLOEXEC, 0, request_ends) != 0) return std::nullopt;
  request_reader.reset(MovedAboveHandOver(request_ends[0]));
  child.request.reset(MovedAboveHandOver(request_ends[1]));
  if (request_reader.get() < 0 || child.request.get() < 0) return std::nullopt;

  // The child reads the very descriptor we checked, so a file renamed or replaced meanwhile
  // cannot slip past the check.
  std::vector<std::string> command = {decoder};
  command.insert(command.end(), arguments.begin(), arguments.end());
  if (input_fd >= 0) command.push_back("/proc/self/fd/" + std::to_string(DecoderInputFd));
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
  if (input_fd >= 0) posix_spawn_file_actions_adddup2(&actions, input.get(), DecoderInputFd);

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
  KeepChildStatus();
  const int spawned = DecodersStopped() ? ECANCELED
                                        : posix_spawn(&child.pid, decoder.c_str(), &actions,
                                                      &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    ReleaseChildStatus();
    return std::nullopt;
  }
  // A stop that came while it started finds it in the table, or it finds the stop.
  TrackDecoder(child.pid);
  if (DecodersStopped()) kill(child.pid, SIGKILL);
  // Only the child holds the writing end now, so its end, however it comes, ends the record.
  return child;
}

}  // namespace

std::optional<DecoderChild> SpawnDecoder(const std::string& decoder,
                                         const std::vector<std::string>& arguments, int input_fd) {
  if (input_fd < 0) return std::nullopt;
  return Spawn(decoder, arguments, input_fd);
}

std::optional<DecoderChild> SpawnServingDecoder(const std::string& decoder,
                                                const std::vector<std::string>& arguments) {
  std::vector<std::string> serving = {"--serve"};
  serving.insert(serving.end(), arguments.begin(), arguments.end());
  return Spawn(decoder, serving, -1);
}

void DismissDecoder(pid_t pid) {
  kill(pid, SIGKILL);
  UntrackDecoder(pid);
  const auto reap = [pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ReleaseChildStatus();
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
  // The child is only looked at until it has ended; it leaves the table before it is reaped.
  bool ended = false;
  while (!ended) {
    siginfo_t info{};
    const int looked = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (looked == 0 && info.si_pid == pid) break;
    if (looked < 0 && errno != EINTR) break;  // someone else reaped it: its result is unknown
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      ended = true;
    } else if (pidfd >= 0) {
      pollfd wait_for{pidfd, POLLIN, 0};
      poll(&wait_for, 1, static_cast<int>(left.count()));
    } else {
      usleep(static_cast<useconds_t>(
          std::chrono::microseconds(std::min(left, ReapPollInterval)).count()));
    }
  }
  UntrackDecoder(pid);
  int status = 0;
  pid_t reaped = 0;
  while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (pidfd >= 0) close(pidfd);
  ReleaseChildStatus();
  // Killed at its deadline, it failed whatever it was about to say.
  if (ended || reaped != pid || !WIFEXITED(status)) return false;
  CheckDecoderExit(WEXITSTATUS(status));
  if (exit_status) *exit_status = WEXITSTATUS(status);
  return WEXITSTATUS(status) == 0;
}

void StopDecoders() {
  decoders_stopped.store(true);
  stops_in_progress.fetch_add(1);
  for (std::atomic<pid_t>& entry : tracked_decoders) {
    const pid_t pid = entry.load();
    if (pid > 0) kill(pid, SIGKILL);
  }
  stops_in_progress.fetch_sub(1);
}

void AllowDecoders() { decoders_stopped.store(false); }

bool DecodersStopped() { return decoders_stopped.load(); }
