#include "engine/isolated_decode.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "engine/decoded_bitmap.h"
#include "platform/system.h"

extern char** environ;

namespace {

constexpr int ChildOutputFd = 3;
constexpr int ChildInputFd = 4;
// Descriptors handed to the child are first moved above the ones it expects.
constexpr int HandOverFloor = 10;
constexpr std::chrono::milliseconds ReapPollInterval{5};

std::mutex seam_mutex;
std::string decoder_folder;
DecoderFault decoder_fault = DecoderFault::None;
std::chrono::milliseconds time_limit_override{0};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// An anonymous memory file; an unlinked temporary file where memfd is not available.
int CreateMemoryFile() {
  int fd = static_cast<int>(syscall(SYS_memfd_create, "quorvix-decoded", MFD_CLOEXEC));
  if (fd < 0) fd = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // Keep the descriptor clear of the numbers the child's dup2 targets.
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, HandOverFloor);
  close(fd);
  return moved;
}

const char* FaultArgument(DecoderFault fault) {
  switch (fault) {
    case DecoderFault::Crash:
      return "--fault=crash";
    case DecoderFault::Hang:
      return "--fault=hang";
    case DecoderFault::Garbage:
      return "--fault=garbage";
    case DecoderFault::None:
      return nullptr;
  }
  return nullptr;
}

// Waits for `pid` until `limit`; kills it when the time is up. True when it exited with 0.
bool WaitForChild(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
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
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

uint64_t DecoderAddressSpace(const PsdLayout& layout) {
  uint64_t scaled = 0;
  if (__builtin_mul_overflow(layout.decoded_bytes, DecoderAddressSpaceFactor, &scaled)) {
    return UINT64_MAX;
  }
  uint64_t total = 0;
  if (__builtin_add_overflow(scaled, DecoderBaseAddressSpace, &total)) total = UINT64_MAX;
  // Never promise the child more than the machine has.
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) {
    const uint64_t physical = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
    total = std::min(total, std::max(physical, DecoderBaseAddressSpace));
  }
  return total;
}

std::chrono::milliseconds DecodeTimeLimit(const PsdLayout& layout) {
  {
    std::lock_guard lock(seam_mutex);
    if (time_limit_override.count() > 0) return time_limit_override;
  }
  return DecodeBaseTime +
         std::chrono::milliseconds(layout.decoded_bytes / (DecodeBytesPerSecond / 1000));
}

void SetPsdDecoderFolder(const std::string& folder) {
  std::lock_guard lock(seam_mutex);
  decoder_folder = folder;
}

void SetDecoderFaultForTesting(DecoderFault fault) {
  std::lock_guard lock(seam_mutex);
  decoder_fault = fault;
}

void SetDecodeTimeLimitForTesting(std::chrono::milliseconds limit) {
  std::lock_guard lock(seam_mutex);
  time_limit_override = limit;
}

Bitmap DecodePsdIsolated(const MappedFile& file, const PsdLayout& layout) {
  if (!file.IsOpen()) return {};
  std::string folder;
  DecoderFault fault = DecoderFault::None;
  {
    std::lock_guard lock(seam_mutex);
    folder = decoder_folder;
    fault = decoder_fault;
  }
  if (folder.empty()) folder = ExecutableFolder();
  if (folder.empty()) return {};
  if (folder.back() != '/') folder += '/';
  const std::string decoder = folder + PsdDecoderName;

  Fd output(CreateMemoryFile());
  Fd input(fcntl(file.fd(), F_DUPFD_CLOEXEC, HandOverFloor));
  if (output.get() < 0 || input.get() < 0) return {};
  // The rows of the bitmap the decoder is expected to make: it allocates them in the record.
  // Small images are simply copied; no small allocation can then be taken for their rows.
  const bool use_arena = layout.decoded_bytes >= DecoderArenaThreshold;
  const uint64_t record_bytes = DecodedRecordBytes(layout.decoded_bytes);
  const bool record_sized =
      use_arena && ftruncate(output.get(), static_cast<off_t>(record_bytes)) == 0;

  // The child reads the very descriptor we checked, so a file renamed or replaced meanwhile
  // cannot slip past the check.
  const std::string address_space = "--address-space=" + std::to_string(DecoderAddressSpace(layout));
  const std::string arena = "--arena=" + std::to_string(layout.decoded_bytes);
  const std::string input_path = "/proc/self/fd/" + std::to_string(ChildInputFd);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(decoder.c_str()));
  argv.push_back(const_cast<char*>(address_space.c_str()));
  if (use_arena) argv.push_back(const_cast<char*>(arena.c_str()));
  if (const char* fault_argument = FaultArgument(fault)) {
    argv.push_back(const_cast<char*>(fault_argument));
  }
  argv.push_back(const_cast<char*>(input_path.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return {};
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output.get(), ChildOutputFd);
  posix_spawn_file_actions_adddup2(&actions, input.get(), ChildInputFd);

  // The child starts with default signal handling and nothing blocked, whatever this process set.
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return {};
  }
  sigset_t all_signals, no_signals;
  sigfillset(&all_signals);
  sigemptyset(&no_signals);
  posix_spawnattr_setsigdefault(&attributes, &all_signals);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, decoder.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return {};

  // While the decoder starts, give the record its memory on this core: the pages are ready when
  // FreeImage fills them, and already mapped here when the encoder reads them. Only for a
  // document the structure check has weighed against the memory there is.
  RecordMapping mapping;
  if (record_sized && AvailableMemoryBytes() != 0) {
    mapping = RecordMapping(output.get(), record_bytes);
  }
  if (!WaitForChild(pid, DecodeTimeLimit(layout))) return {};
  DecodedBitmapLimits limits;
  limits.width = layout.width;
  limits.height = layout.height;
  limits.max_icc_bytes = layout.resources_size;  // a profile comes from the resources
  return ReadDecodedBitmap(output.get(), limits, std::move(mapping));
}
