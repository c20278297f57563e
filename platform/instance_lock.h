#pragma once

// The lock that lets only one copy of a program version run at a time, per user.

#include <string>
#include <string_view>

/// The lock file's name for `title`: anything but letters, digits, "." and "-" becomes "_".
std::string InstanceLockName(std::string_view title);

/// The folders a user's lock file may live in, in the order they are tried: $XDG_RUNTIME_DIR
/// when it is set and absolute, then /tmp/quorvix-UID.
std::string RuntimeLockFolder();
std::string SharedLockFolder();

/// Test seam: the shared folder to use instead of /tmp/quorvix-UID (empty: the real one).
void SetSharedLockFolderForTesting(const std::string& folder);

/// How taking the lock went.
enum class LockResult {
  Acquired,       // this process holds it
  HeldElsewhere,  // a running copy holds it
  Unavailable     // no lock file could be had: nothing tells whether another copy runs
};

/// Holds an exclusive lock on the lock file of a title; the kernel drops it when the process ends.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  /// Takes the lock of `title` without waiting, in the runtime folder or else the shared one (a
  /// folder of /tmp used only when it is this user's own, mode 0700, and no link). Only a lock
  /// held by another process gives HeldElsewhere.
  LockResult Acquire(std::string_view title);
  /// Takes over the lock of `title` held through the inherited descriptor `fd` (a program that
  /// replaced itself hands its lock on this way); false, with `fd` left alone, when `fd` is not an
  /// open descriptor of that title's lock file holding its lock.
  bool Adopt(int fd, std::string_view title);
  /// Lets the held descriptor survive an exec, for the program that takes the lock over; false
  /// when none is held or it cannot be changed.
  bool KeepAcrossExec();
  /// The held descriptor; -1 when none is held.
  int HeldDescriptor() const { return fd_; }
  /// Gives the lock up; harmless when none is held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
