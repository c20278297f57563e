#include "engine/isolated_decode.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/decoded_bitmap.h"
#include "platform/system.h"

extern char** environ;

namespace {

constexpr int ChildRequestFd = 0;
constexpr int ChildOutputFd = 3;
constexpr int ChildInputFd = 4;
// Descriptors handed to the child are first moved above the ones it expects.
constexpr int HandOverFloor = 10;
constexpr std::chrono::milliseconds ReapPollInterval{5};
constexpr int RecordPipeBytes = 1 << 20;
constexpr uint64_t DecodedMetadataSlack = 64 << 10;

std::mutex seam_mutex;
std::string decoder_folder;
DecoderFault decoder_fault = DecoderFault::None;
std::chrono::milliseconds time_limit_override{0};
bool copy_from_decoder = true;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Moves `fd` clear of the numbers the child's dup2 targets; -1 when it cannot.
int MovedAboveHandOver(int fd) {
  if (fd < 0) return -1;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, HandOverFloor);
  close(fd);
  return moved;
}

// The pipe the record comes down: the program's end does not block (reads wait with a deadline),
// and it holds a megabyte, so a large bitmap crosses in a few dozen steps.
bool CreateRecordPipe(Fd& read_end, Fd& write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end.reset(MovedAboveHandOver(ends[0]));
  write_end.reset(MovedAboveHandOver(ends[1]));
  if (read_end.get() < 0 || write_end.get() < 0) return false;
  if (fcntl(read_end.get(), F_SETFL, O_NONBLOCK) != 0) return false;
  fcntl(read_end.get(), F_SETPIPE_SZ, RecordPipeBytes);  // a smaller pipe only costs more steps
  return true;
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

// Copies `size` bytes at `address` in the memory of `pid` to `rows`; false where the system does
// not allow it (a hardened kernel, a container's filter) or the child gave a wrong address.
bool CopyFromChild(pid_t pid, uint64_t address, void* rows, uint64_t size) {
  char* into = static_cast<char*>(rows);
  while (size > 0) {
    iovec local{into, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    address += static_cast<uint64_t>(got);
    size -= static_cast<uint64_t>(got);
  }
  return true;
}

// Ends a child whose work we have and reaps it off this thread, so its teardown (freeing a
// bitmap as large as ours) overlaps our own work instead of delaying it.
void DismissChild(pid_t pid) {
  kill(pid, SIGKILL);
  const auto reap = [pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  };
  try {
    std::thread(reap).detach();
  } catch (const std::system_error&) {
    reap();  // no thread to be had: wait here, as long as the teardown takes
  }
}

// Waits for `pid` until `deadline`; kills it when the time is up. True when it exited with 0;
// `exit_status`, when given, receives its exit status (-1 when it did not exit by itself).
bool WaitForChild(pid_t pid, std::chrono::steady_clock::time_point deadline,
                  int* exit_status = nullptr) {
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
  if (exit_status && WIFEXITED(status)) *exit_status = WEXITSTATUS(status);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Only a CMYK document that carries a profile pays for reading its CMYK samples and converting
// them.
bool ConvertsThroughProfile(const PsdLayout& layout) {
  return layout.mode == PsdModeCmyk && layout.depth <= 16 && layout.icc_profile.size > 0;
}

}  // namespace

uint64_t DecoderAddressSpace(uint64_t decoded_bytes) {
  uint64_t scaled = 0;
  if (__builtin_mul_overflow(decoded_bytes, DecoderAddressSpaceFactor, &scaled)) {
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

std::chrono::milliseconds DecodeTimeLimit(uint64_t decoded_bytes) {
  {
    std::lock_guard lock(seam_mutex);
    if (time_limit_override.count() > 0) return time_limit_override;
  }
  return DecodeBaseTime + std::chrono::milliseconds(decoded_bytes / (DecodeBytesPerSecond / 1000));
}

std::chrono::milliseconds DecodeTimeLimit(const PsdLayout& layout) {
  std::chrono::milliseconds limit = DecodeTimeLimit(layout.decoded_bytes);
  if (ConvertsThroughProfile(layout)) {
    const uint64_t pixels = static_cast<uint64_t>(layout.width) * layout.height;
    limit += std::chrono::milliseconds(pixels / (ProfilePixelsPerSecond / 1000));
  }
  return limit;
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

void SetCopyFromDecoderForTesting(bool allowed) {
  std::lock_guard lock(seam_mutex);
  copy_from_decoder = allowed;
}

namespace {

// One decode in a child: what it is told and what its answer may be.
struct ChildDecode {
  std::vector<std::string> arguments;  // before the file
  uint64_t decoded_bytes = 0;          // what the declared size needs, for the limits
  uint64_t work_bytes = 0;             // more the child works in, beyond its decoded bytes
  bool prepare_rows = false;           // the size is known: make the row memory meanwhile
  DecodedBitmapLimits limits;
  std::chrono::milliseconds time_limit{0};  // 0: by the decoded bytes
};

Bitmap DecodeInChild(int fd, const ChildDecode& decode, int* exit_status = nullptr) {
  std::string folder;
  DecoderFault fault = DecoderFault::None;
  bool may_copy = true;
  {
    std::lock_guard lock(seam_mutex);
    folder = decoder_folder;
    fault = decoder_fault;
    may_copy = copy_from_decoder;
  }
  if (folder.empty()) folder = RunningProgramPaths().helper_folder;
  if (folder.empty()) return {};
  if (folder.back() != '/') folder += '/';
  const std::string decoder = folder + PsdDecoderName;

  Fd record, record_writer, request_reader, request;
  Fd input(fcntl(fd, F_DUPFD_CLOEXEC, HandOverFloor));
  if (!CreateRecordPipe(record, record_writer) || input.get() < 0) return {};
  // A socket rather than a pipe: a request to a child that is already gone must fail, not
  // raise SIGPIPE in this process.
  int request_ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, request_ends) != 0) return {};
  request_reader.reset(MovedAboveHandOver(request_ends[0]));
  request.reset(MovedAboveHandOver(request_ends[1]));
  if (request_reader.get() < 0 || request.get() < 0) return {};

  // The child reads the very descriptor we checked, so a file renamed or replaced meanwhile
  // cannot slip past the check.
  std::vector<std::string> arguments = {
      decoder, "--parent=" + std::to_string(getpid()),
      "--address-space=" + std::to_string(decode.work_bytes > 0
                                              ? DecoderBaseAddressSpace + decode.work_bytes
                                              : DecoderAddressSpace(decode.decoded_bytes))};
  if (const char* fault_argument = FaultArgument(fault)) arguments.push_back(fault_argument);
  arguments.insert(arguments.end(), decode.arguments.begin(), decode.arguments.end());
  arguments.push_back("/proc/self/fd/" + std::to_string(ChildInputFd));
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return {};
  posix_spawn_file_actions_adddup2(&actions, request_reader.get(), ChildRequestFd);
  // Standard error too: FreeImage's TIFF library prints its warnings there.
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, record_writer.get(), ChildOutputFd);
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
  // Only the child holds the writing end now, so its end, however it comes, ends the record.
  record_writer.reset();
  request_reader.reset();
  input.reset();
  const auto deadline =
      std::chrono::steady_clock::now() +
      (decode.time_limit.count() > 0 ? decode.time_limit : DecodeTimeLimit(decode.decoded_bytes));

  // While the decoder starts and decodes, make the memory the rows will go to, on this core.
  // Only for a document the structure check has weighed against the memory there is.
  PixelMemory memory;
  if (decode.prepare_rows && AvailableMemoryBytes() != 0) {
    memory = PixelMemory(decode.decoded_bytes);
  }
  const std::optional<DecodedHead> head = ReadDecodedHead(record.get(), decode.limits, deadline);
  if (!head ||
      (!decode.prepare_rows && !FitsDecodeMemory(head->rows_size, AvailableMemoryBytes()))) {
    // A child still writing what we no longer read ends on the closed pipes instead of waiting.
    record.reset();
    request.reset();
    WaitForChild(pid, deadline, exit_status);
    return {};
  }
  PixelMemory rows = RowMemoryFor(*head, std::move(memory));
  bool have_rows = rows.address() != nullptr && may_copy &&
                   CopyFromChild(pid, head->rows_address, rows.address(), head->rows_size);
  if (!have_rows && rows.address()) {
    const char ask = 'R';
    have_rows = send(request.get(), &ask, 1, MSG_NOSIGNAL) == 1 &&
                ReadDecodedRows(record.get(), rows.address(), head->rows_size, deadline);
  }
  record.reset();
  request.reset();
  if (!have_rows) {
    WaitForChild(pid, deadline);
    return {};
  }
  DismissChild(pid);
  return MakeDecodedBitmap(*head, std::move(rows));
}

}  // namespace

Bitmap DecodePsdIsolated(const MappedFile& file, const PsdLayout& layout, PsdSource source,
                         bool* nothing_to_rebuild) {
  if (nothing_to_rebuild) *nothing_to_rebuild = false;
  if (!file.IsOpen()) return {};
  ChildDecode decode;
  decode.decoded_bytes = layout.decoded_bytes;
  decode.prepare_rows = true;
  decode.limits.width = layout.width;
  decode.limits.height = layout.height;
  decode.limits.max_icc_bytes = layout.resources_size;  // a profile comes from the resources
  // So do the metadata, which FreeImage spells out tag by tag: allow it some growth.
  decode.limits.max_metadata_bytes = 4 * layout.resources_size + DecodedMetadataSlack;
  // No decoder result is larger than the check's estimate, which memory was weighed against;
  // twice that leaves room for a kind we did not foresee.
  decode.limits.max_rows_bytes =
      layout.decoded_bytes > UINT64_MAX / 2 ? UINT64_MAX : 2 * layout.decoded_bytes;
  decode.time_limit = DecodeTimeLimit(layout);
  if (source == PsdSource::Layers) {
    decode.arguments.push_back("--from-layers");
    // The child maps the whole file besides its work.
    decode.work_bytes = layout.rebuild_bytes > UINT64_MAX - layout.file_size
                            ? UINT64_MAX - DecoderBaseAddressSpace
                            : layout.rebuild_bytes + layout.file_size;
    decode.time_limit += std::chrono::milliseconds(layout.rebuild_bytes /
                                                   (RebuildBytesPerSecond / 1000)) +
                         std::chrono::milliseconds(layout.layers_size /
                                                   (LayerSectionBytesPerSecond / 1000));
  } else if (ConvertsThroughProfile(layout)) {
    decode.arguments.push_back("--cmyk-profile");
  }
  int exit_status = -1;
  Bitmap image = DecodeInChild(file.fd(), decode, &exit_status);
  if (nothing_to_rebuild) *nothing_to_rebuild = !image && exit_status == DecoderNothingToRebuild;
  return image;
}

Bitmap DecodeImageIsolated(int fd, FREE_IMAGE_FORMAT format_hint, const DecodeBound& bound) {
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return {};
  const auto file_size = static_cast<uint64_t>(info.st_size);
  ChildDecode decode;
  decode.arguments = {"--any-format",
                      "--format-hint=" + std::to_string(static_cast<int>(format_hint) + 1),
                      "--max-side=" + std::to_string(bound.max_side),
                      "--max-bytes=" + std::to_string(bound.max_decoded_bytes)};
  // The size is unknown until the child has read the header: its limits are the bound's.
  decode.decoded_bytes = bound.max_decoded_bytes;
  decode.limits.width = bound.max_side;
  decode.limits.height = bound.max_side;
  decode.limits.size_is_bound = true;
  decode.limits.max_icc_bytes = file_size;
  decode.limits.max_metadata_bytes = 4 * file_size + DecodedMetadataSlack;
  decode.limits.max_rows_bytes = bound.max_decoded_bytes;
  return DecodeInChild(fd, decode);
}
