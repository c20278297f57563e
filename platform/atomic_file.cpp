#include "platform/atomic_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::atomic<bool> unnamed_allowed{true};
std::atomic<unsigned> temporary_counter{0};
// Two saves of one target in this process must not share its passing name at once.
std::mutex passing_mutex;

// Named temporaries in progress, for the signal handler. Plain memory and atomics only: the
// handler may read it at any moment.
constexpr size_t MaxNamedTemporaries = 32;
constexpr size_t MaxTemporaryName = 64;
struct NamedTemporary {
  std::atomic<int> folder_fd{-1};  // -1: the entry is free or being filled
  char name[MaxTemporaryName] = {};
};
std::array<NamedTemporary, MaxNamedTemporaries> named_temporaries;
std::mutex slot_mutex;
constexpr int CleanedSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A replacement between its link and its rename (on any thread) holds off the end of the
// process: a polite signal then ends it when the last such step is done, never inside one.
std::atomic<int> passing_steps{0};
std::atomic<int> ending_signal{0};

void RemoveNamedTemporariesAndEnd(int signal_number) {
  const int saved_errno = errno;
  for (NamedTemporary& entry : named_temporaries) {
    const int folder = entry.folder_fd.load();
    if (folder >= 0) unlinkat(folder, entry.name, 0);
  }
  errno = saved_errno;
  // The handler was reset to the default on entry: the signal ends the process as it would have
  // (on a thread that holds it off, once that thread lets it through).
  raise(signal_number);
}

void RemoveNamedTemporaries(int signal_number) {
  // Announced before the steps are counted; a step counts itself before it looks: so either the
  // step sees the end coming and does not start, or the end sees the step and waits for it.
  ending_signal.store(signal_number);
  if (passing_steps.load() > 0) return;
  RemoveNamedTemporariesAndEnd(signal_number);
}

// Counts a passing step in; false when the process is ending and the step must not start.
bool BeginPassingStep() {
  passing_steps.fetch_add(1);
  return ending_signal.load() == 0;
}

// Counts a passing step out; the last one out ends the process if a signal came meanwhile.
void EndPassingStep() {
  if (passing_steps.fetch_sub(1) != 1) return;
  if (const int signal_number = ending_signal.load()) RemoveNamedTemporariesAndEnd(signal_number);
}

// Only where nobody else handles the signal: a program with its own handler decides for itself.
void InstallSignalCleanup() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (int signal_number : CleanedSignals) {
      struct sigaction current {};
      if (sigaction(signal_number, nullptr, &current) != 0) continue;
      if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO)) continue;
      struct sigaction cleanup {};
      cleanup.sa_handler = RemoveNamedTemporaries;
      sigemptyset(&cleanup.sa_mask);
      cleanup.sa_flags = SA_RESETHAND;
      sigaction(signal_number, &cleanup, nullptr);
    }
  });
}

int RegisterNamedTemporary(int folder_fd, const std::string& name) {
  if (name.size() >= MaxTemporaryName) return -1;
  std::lock_guard lock(slot_mutex);
  for (size_t i = 0; i < named_temporaries.size(); ++i) {
    NamedTemporary& entry = named_temporaries[i];
    if (entry.folder_fd.load() >= 0) continue;
    std::memcpy(entry.name, name.c_str(), name.size() + 1);
    entry.folder_fd.store(folder_fd);
    return static_cast<int>(i);
  }
  return -1;  // more saves at once than entries: this one is not cleaned on a signal
}

void UnregisterNamedTemporary(int slot) {
  if (slot < 0) return;
  std::lock_guard lock(slot_mutex);
  named_temporaries[static_cast<size_t>(slot)].folder_fd.store(-1);
}

std::string NextTemporaryName() {
  return ".quorvix-" + std::to_string(getpid()) + "-" +
         std::to_string(temporary_counter.fetch_add(1)) + ".tmp";
}

bool IsAppendOnly(int folder_fd) {
  int flags = 0;
  return ioctl(folder_fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}

// Hops of symbolic links a save follows before it gives up, as the kernel does.
constexpr int MaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A link in a folder where anyone may make names (sticky and writable by all, as /tmp) is
// followed only when it is ours or the folder owner's, as the kernel's protected_symlinks rule
// does for open(): otherwise another user could aim our save at any file we may write.
bool MayFollow(const std::string& link, const struct stat& link_info) {
  struct stat folder {};
  if (stat(FolderOf(link).c_str(), &folder) != 0) return false;
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return !shared || link_info.st_uid == geteuid() || link_info.st_uid == folder.st_uid;
}

// Where a save of `path` lands: `path` itself, or the end of its chain of symbolic links. False
// when that is anything but a regular file or a name not taken yet (a device, FIFO, socket or
// folder), or the chain is too long, broken by an unreadable step or not to be followed.
bool ResolveSaveTarget(const std::string& path, std::string& target) {
  std::string current = path;
  for (int hop = 0; hop <= MaxLinkHops; ++hop) {
    struct stat info {};
    if (lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) return false;
      target = current;
      return true;
    }
    if (S_ISREG(info.st_mode)) {
      target = current;
      return true;
    }
    if (!S_ISLNK(info.st_mode) || !MayFollow(current, info)) return false;
    char buffer[4096];
    const ssize_t length = readlink(current.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
    const std::string next(buffer, static_cast<size_t>(length));
    current = next.front() == '/' ? next : FolderOf(current) + "/" + next;
  }
  return false;
}

bool Exists(int folder_fd, const std::string& name) {
  struct stat info {};
  return fstatat(folder_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Gives the unnamed file `fd` the name `name` in the folder; false when the name is taken or the
// link cannot be made.
bool LinkUnnamed(int fd, int folder_fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), folder_fd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == EEXIST) return false;
  // Without /proc, only a process allowed to link any open file can do it.
  return linkat(fd, "", folder_fd, name.c_str(), AT_EMPTY_PATH) == 0;
}

// Some file systems refuse any mode change but already give the mode asked for.
bool KeepPermissions(int fd, mode_t mode) {
  if (fchmod(fd, mode) == 0) return true;
  struct stat now {};
  return fstat(fd, &now) == 0 && (now.st_mode & 07777) == mode;
}

// Holds off the signals that end a program politely, so a name linked in for a moment is always
// renamed or removed before one of them acts.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : CleanedSignals) sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

void SetUnnamedTemporariesForTesting(bool allowed) { unnamed_allowed = allowed; }

std::string PassingNameOf(std::string_view name) {
  // A hash keeps the name short whatever the target's length (64-bit FNV-1a).
  uint64_t hash = 14695981039346656037ull;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return ".quorvix-" + std::string(hex) + ".passing";
}

AtomicFile::~AtomicFile() { Abandon(); }

bool AtomicFile::Open(const std::string& requested) {
  Abandon();
  std::string path;
  if (!ResolveSaveTarget(requested, path)) return false;
  const size_t slash = path.find_last_of('/');
  const std::string folder = FolderOf(path);
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name_.empty() || name_ == "." || name_ == "..") return false;
  folder_fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) return false;
  // A folder that takes only new names can neither replace the target nor drop a named
  // temporary: only an unnamed file linked in under a new name works there.
  append_only_ = IsAppendOnly(folder_fd_);
  if (append_only_ && Exists(folder_fd_, name_)) {
    Abandon();
    return false;
  }
  if (unnamed_allowed) fd_ = openat(folder_fd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd_ >= 0 || append_only_) {
    if (fd_ < 0) Abandon();
    return fd_ >= 0;
  }
  // The name must be known to the signal handler from the moment it exists.
  InstallSignalCleanup();
  const SignalsHeld held;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    const std::string candidate = NextTemporaryName();
    fd_ = openat(folder_fd_, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temporary_ = candidate;
      slot_ = RegisterNamedTemporary(folder_fd_, temporary_);
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (fd_ < 0) Abandon();
  return fd_ >= 0;
}

bool AtomicFile::Write(std::string_view bytes) {
  if (fd_ < 0) return false;
  while (!bytes.empty()) {
    const ssize_t put = write(fd_, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

bool AtomicFile::Commit(Sync sync) {
  if (fd_ < 0) return false;
  // Only a regular file is ever replaced: whatever took the name since Open (a link, a device)
  // stays as it is.
  struct stat old_file {};
  const bool replacing = fstatat(folder_fd_, name_.c_str(), &old_file, AT_SYMLINK_NOFOLLOW) == 0;
  if (replacing &&
      (!S_ISREG(old_file.st_mode) || !KeepPermissions(fd_, old_file.st_mode & 07777))) {
    Abandon();
    return false;
  }
  if (sync == Sync::Durable && fsync(fd_) != 0) {
    Abandon();
    return false;
  }
  bool placed = false;
  if (!temporary_.empty()) {
    placed = renameat(folder_fd_, temporary_.c_str(), folder_fd_, name_.c_str()) == 0;
    if (placed) temporary_.clear();
  } else if (LinkUnnamed(fd_, folder_fd_, name_)) {
    placed = true;  // there was no file to replace: the complete file appears at once
  } else if (!append_only_) {
    // The target exists: link under its passing name, then rename over it. A passing name found
    // there is left by a save killed between the two steps: its file is complete but stale.
    // Holding the polite signals covers this thread only; one that another thread takes waits
    // for this step through the handler.
    InstallSignalCleanup();
    const SignalsHeld held;
    const std::lock_guard lock(passing_mutex);
    const std::string passing = PassingNameOf(name_);
    if (BeginPassingStep()) {
      bool linked = LinkUnnamed(fd_, folder_fd_, passing);
      if (!linked && errno == EEXIST && unlinkat(folder_fd_, passing.c_str(), 0) == 0) {
        linked = LinkUnnamed(fd_, folder_fd_, passing);
      }
      if (linked) {
        placed = renameat(folder_fd_, passing.c_str(), folder_fd_, name_.c_str()) == 0;
        if (!placed) unlinkat(folder_fd_, passing.c_str(), 0);
      }
    }
    EndPassingStep();
  }
  if (placed && sync == Sync::Durable) fsync(folder_fd_);
  Abandon();
  return placed;
}

void AtomicFile::Abandon() {
  if (!temporary_.empty()) {
    unlinkat(folder_fd_, temporary_.c_str(), 0);
    temporary_.clear();
  }
  UnregisterNamedTemporary(slot_);
  slot_ = -1;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (folder_fd_ >= 0) close(folder_fd_);
  folder_fd_ = -1;
}
