#pragma once

// The lock that lets only one copy of a program version run at a time.

#include <string>
#include <string_view>

/// The lock file of `title`: in $XDG_RUNTIME_DIR, or /tmp when that is unset or not absolute.
std::string InstanceLockPath(std::string_view title);

/// Holds an exclusive lock on the lock file of a title; the kernel drops it when the process ends.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  /// Takes the lock of `title` without waiting; false when another process holds it or the lock
  /// file cannot be opened.
  bool Acquire(std::string_view title);
  /// Takes over the lock of `title` held through the inherited descriptor `fd` (a program that
  /// replaced itself hands its lock on this way); false, with `fd` left alone, when `fd` is not an
  /// open descriptor of that lock file holding its lock.
  bool Adopt(int fd, std::string_view title);
  /// Lets the held descriptor survive an exec, for the program that takes the lock over; false
  /// when none is held or it cannot be changed.
  bool KeepAcrossExec();
  /// The held descriptor; -1 when none is held.
  int Descriptor() const { return fd_; }
  /// Gives the lock up; harmless when none is held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
