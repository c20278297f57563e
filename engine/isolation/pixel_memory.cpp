#include "engine/isolation/pixel_memory.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr uint64_t PageBytes = 4096;
// Below this the rounding up to a huge page would show in the peak memory of small documents.
constexpr uint64_t HugePagesFrom = 8ull << 20;

}  // namespace

PixelMemory::PixelMemory(uint64_t length) {
  if (length == 0 || length > SIZE_MAX) return;
  const auto bytes = static_cast<size_t>(length);
  // Huge pages where the system gives them on request: faulting in 4 KiB pages one by one cost
  // more than the copy that fills them.
  const bool huge = length >= HugePagesFrom;
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | (huge ? 0 : MAP_POPULATE), -1, 0);
  if (mapped == MAP_FAILED) return;
  if (huge) {
    madvise(mapped, bytes, MADV_HUGEPAGE);
    if (madvise(mapped, bytes, MADV_POPULATE_WRITE) != 0) {
      // Kernels before 5.14: touch every page instead.
      auto* page = static_cast<volatile char*>(mapped);
      for (size_t at = 0; at < bytes; at += PageBytes) page[at] = 0;
    }
  }
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
