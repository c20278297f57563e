#pragma once

// The one owner of a file descriptor, and the full reads and writes every pipe, socket and file
// of the program goes through.

#include <chrono>
#include <cstdint>

/// Closes its descriptor when it goes; -1 holds none.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  /// Closes the held descriptor and holds `fd` instead.
  void reset(int fd = -1);
  /// Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

/// Writes all `size` bytes to `fd`, again after an interruption; false when a write fails.
bool WriteAll(int fd, const void* data, uint64_t size);

/// Reads exactly `size` bytes from `fd` (blocking or not), waiting no later than `deadline`;
/// false on an early end, an error or when time is up.
bool ReadAll(int fd, void* data, uint64_t size, std::chrono::steady_clock::time_point deadline);
