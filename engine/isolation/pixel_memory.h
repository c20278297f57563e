#pragma once

// The memory the rows of a decoded bitmap land in: made while the decoder still works, so the
// copy out of the decoder finds every page already there.

#include <cstdint>

/// Private anonymous memory for pixel rows, every page already faulted in; released with the
/// object unless handed on.
class PixelMemory {
 public:
  PixelMemory() = default;
  /// Empty when `length` bytes cannot be had.
  explicit PixelMemory(uint64_t length);
  ~PixelMemory();
  PixelMemory(PixelMemory&& other) noexcept;
  PixelMemory& operator=(PixelMemory&& other) noexcept;

  void* address() const { return address_; }
  uint64_t length() const { return length_; }
  /// Keeps the first `length` bytes and gives the whole pages after them back.
  void Shrink(uint64_t length);
  /// Gives up the memory without releasing it.
  void Release();

 private:
  void* address_ = nullptr;
  uint64_t length_ = 0;
};
