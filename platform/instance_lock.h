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
  /// Gives the lock up; harmless when none is held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
