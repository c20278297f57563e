#pragma once

// A read-only mapping of a whole file, guarded against the file shrinking underneath.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/mapping_guard.h"

/// A read-only mapping of a whole file; empty (no bytes) when it cannot be opened or mapped. A file
/// that shrinks while it is read gives zeros past its new end instead of SIGBUS, and then is no
/// longer Intact.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  std::span<const uint8_t> bytes() const { return {data_, size_}; }
  /// The open descriptor (for handing the very same file to a child); -1 when not open.
  int fd() const { return fd_; }
  /// False once a read found the file shorter than when it was mapped: what was read is not the
  /// file's.
  bool Intact() const;

 private:
  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::optional<MappingGuard> guard_;
};
