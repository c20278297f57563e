#include "engine/pixel_memory.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr uint64_t PageBytes = 4096;

}  // namespace

PixelMemory::PixelMemory(uint64_t length) {
  if (length == 0 || length > SIZE_MAX) return;
  void* mapped = mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (mapped == MAP_FAILED) return;
  address_ = mapped;
  length_ = length;
}

PixelMemory::~PixelMemory() {
  if (address_) munmap(address_, static_cast<size_t>(length_));
}

PixelMemory::PixelMemory(PixelMemory&& other) noexcept
    : address_(other.address_), length_(other.length_) {
  other.Release();
}

PixelMemory& PixelMemory::operator=(PixelMemory&& other) noexcept {
  if (this != &other) {
    if (address_) munmap(address_, static_cast<size_t>(length_));
    address_ = other.address_;
    length_ = other.length_;
    other.Release();
  }
  return *this;
}

void PixelMemory::Shrink(uint64_t length) {
  const uint64_t kept = (length + PageBytes - 1) / PageBytes * PageBytes;
  if (!address_ || kept >= length_) return;
  if (kept == 0) {
    munmap(address_, static_cast<size_t>(length_));
    Release();
    return;
  }
  munmap(static_cast<char*>(address_) + kept, static_cast<size_t>(length_ - kept));
  length_ = kept;
}

void PixelMemory::Release() {
  address_ = nullptr;
  length_ = 0;
}
