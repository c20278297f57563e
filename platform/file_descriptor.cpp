#include "platform/file_descriptor.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) close(fd_);
  fd_ = fd;
}

bool WriteAll(int fd, const void* data, uint64_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<uint64_t>(written);
  }
  return true;
}

bool ReadAll(int fd, void* data, uint64_t size, std::chrono::steady_clock::time_point deadline) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = read(fd, bytes, size);
    if (got > 0) {
      bytes += got;
      size -= static_cast<uint64_t>(got);
      continue;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait_for{fd, POLLIN, 0};
    if (poll(&wait_for, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
  }
  return true;
}
