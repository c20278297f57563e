#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string InstanceLockPath(std::string_view title) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime && runtime[0] == '/' ? runtime : "/tmp";
  if (folder.back() != '/') folder.push_back('/');
  // The title becomes a file name: anything but letters, digits, "." and "-" turns into "_".
  std::string name;
  for (char c : title) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    name.push_back(plain ? c : '_');
  }
  return folder + name + ".lock";
}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::Acquire(std::string_view title) {
  Release();
  const std::string path = InstanceLockPath(title);
  // O_NOFOLLOW: in a shared /tmp another user could plant a link to a file of ours.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool InstanceLock::Adopt(int fd, std::string_view title) {
  if (fd < 0 || fd == fd_) return false;
  struct stat held {};
  struct stat named {};
  if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) return false;
  if (lstat(InstanceLockPath(title).c_str(), &named) != 0) return false;
  if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) return false;
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
