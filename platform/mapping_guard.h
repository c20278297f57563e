#pragma once

// Reading a file through a memory mapping ends the process with SIGBUS when the file shrinks
// underneath. A guard over a mapping turns such a read into zeros and remembers it, so the reader
// finishes and the caller can fail that one file cleanly.

#include <cstddef>

class MappingGuard {
 public:
  /// Watches the read-only mapping [address, address + length) until destroyed. With more guards
  /// alive than the guard table holds, the mapping is not watched (Watched() is false).
  MappingGuard(const void* address, size_t length);
  ~MappingGuard();
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  bool Watched() const { return slot_ >= 0; }
  /// True once a read of the mapping found its file shorter than the mapping.
  bool Damaged() const;

 private:
  int slot_ = -1;
};
