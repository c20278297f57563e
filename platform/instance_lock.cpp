#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_descriptor.h"

namespace {

std::string shared_folder_override;

// The shared folder, made if missing; -1 unless it is a real folder of this user that nobody else
// may enter, so another user can neither block nor read our lock.
int OpenSharedFolder(const std::string& folder) {
  mkdir(folder.c_str(), 0700);  // it may exist already: what it is gets checked below
  FileDescriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return -1;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode)) return -1;
  if (info.st_uid != getuid() || (info.st_mode & 077) != 0) return -1;
  return fd.release();
}

// Locks `name` in the folder open at `folder_fd`.
LockResult LockIn(int folder_fd, const std::string& name, int& held) {
  if (folder_fd < 0) return LockResult::Unavailable;
  // O_NOFOLLOW and O_NONBLOCK: a link or a FIFO in the lock's place is no lock file.
  FileDescriptor fd(openat(folder_fd, name.c_str(),
                           O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (fd.get() < 0) return LockResult::Unavailable;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return LockResult::Unavailable;
  int result;
  do {
    result = flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    held = fd.release();
    return LockResult::Acquired;
  }
  return errno == EWOULDBLOCK ? LockResult::HeldElsewhere : LockResult::Unavailable;
}

}  // namespace

std::string InstanceLockName(std::string_view title) {
  std::string name;
  for (char c : title) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    name.push_back(plain ? c : '_');
  }
  return name + ".lock";
}

std::string RuntimeLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && runtime[0] == '/' ? runtime : "";
}

std::string SharedLockFolder() {
  if (!shared_folder_override.empty()) return shared_folder_override;
  return "/tmp/quorvix-" + std::to_string(getuid());
}

void SetSharedLockFolderForTesting(const std::string& folder) { shared_folder_override = folder; }

InstanceLock::~InstanceLock() { Release(); }

LockResult InstanceLock::Acquire(std::string_view title) {
  Release();
  const std::string name = InstanceLockName(title);
  const std::string runtime = RuntimeLockFolder();
  if (!runtime.empty()) {
    const FileDescriptor folder(open(runtime.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const LockResult result = LockIn(folder.get(), name, fd_);
    if (result != LockResult::Unavailable) return result;
  }
  const FileDescriptor shared(OpenSharedFolder(SharedLockFolder()));
  return LockIn(shared.get(), name, fd_);
}

bool InstanceLock::Adopt(int fd, std::string_view title) {
  if (fd < 0 || fd == fd_) return false;
  struct stat held {};
  struct stat named {};
  if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) return false;
  // The lock file lies in one of the two folders Acquire tries.
  const std::string name = InstanceLockName(title);
  bool same = false;
  for (const std::string& folder : {RuntimeLockFolder(), SharedLockFolder()}) {
    if (folder.empty()) continue;
    if (lstat((folder + "/" + name).c_str(), &named) != 0) continue;
    same = same || (held.st_dev == named.st_dev && held.st_ino == named.st_ino);
  }
  if (!same) return false;
  // flock on the open file that already holds the lock succeeds at once; on any other open of the
  // same file it fails while the lock is held elsewhere.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
  Release();
  fd_ = fd;
  return true;
}

bool InstanceLock::KeepAcrossExec() {
  if (fd_ < 0) return false;
  return fcntl(fd_, F_SETFD, 0) == 0;
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}
