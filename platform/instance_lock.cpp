#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
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

void InstanceLock::Release() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}
