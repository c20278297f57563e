#include "engine/decoder/pixel_arena.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

// The allocator of the C library, under the names it exports for allocators that wrap it.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {

char* arena = nullptr;
uint64_t arena_capacity = 0;
uint64_t arena_wanted = 0;
std::atomic<bool> arena_taken{false};

bool InArena(const void* pointer) {
  const char* at = static_cast<const char*>(pointer);
  return arena && at >= arena && at < arena + arena_capacity;
}

// The arena for an allocation of `size` bytes aligned to `alignment`, once; null otherwise.
void* TakeArena(size_t size, size_t alignment) {
  if (!arena || size < arena_wanted || size > arena_capacity) return nullptr;
  if (alignment > 4096 || arena_taken.exchange(true)) return nullptr;
  return arena;  // page-aligned: any smaller alignment holds
}

}  // namespace

bool InstallPixelArena(int fd, uint64_t pixel_bytes) {
  const uint64_t capacity = pixel_bytes + DecodedArenaSlack;
  const uint64_t record_bytes = DecodedRecordBytes(pixel_bytes);
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  // The program usually sized the file already; never shrink what it may have mapped.
  if (static_cast<uint64_t>(info.st_size) < record_bytes &&
      ftruncate(fd, static_cast<off_t>(record_bytes)) != 0) {
    return false;
  }
  // Mapping all pages in one call is cheaper than one fault a page while FreeImage fills them.
  void* mapped = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd,
                      static_cast<off_t>(DecodedRecordDataStart));
  if (mapped == MAP_FAILED) return false;
  arena = static_cast<char*>(mapped);
  arena_capacity = capacity;
  arena_wanted = pixel_bytes;
  return true;
}

void ReleaseUnusedArena(int fd) {
  if (!arena) return;
  // Where the file cannot punch holes the memory merely stays until the record is released.
  fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
            static_cast<off_t>(DecodedRecordDataStart), static_cast<off_t>(arena_capacity));
}

PixelsInFile LocateInArena(const void* bits, uint64_t size) {
  if (!arena_taken || !InArena(bits)) return {};
  const uint64_t offset = static_cast<uint64_t>(static_cast<const char*>(bits) - arena);
  if (size > arena_capacity - offset) return {};
  return {DecodedRecordDataStart + offset, DecodedRecordDataStart + arena_capacity};
}

// Replacements of the C library's allocation functions for this process alone (the glibc manual,
// "Replacing malloc"). Sanitizer builds keep their own allocator and always copy.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {

void* malloc(size_t size) {
  if (void* taken = TakeArena(size, alignof(std::max_align_t))) return taken;
  return __libc_malloc(size);
}

void free(void* pointer) {
  // The arena is the record's: it outlives every free.
  if (!InArena(pointer)) __libc_free(pointer);
}

void* realloc(void* pointer, size_t size) {
  if (!InArena(pointer)) return __libc_realloc(pointer, size);
  void* moved = __libc_malloc(size);
  const uint64_t held = arena_capacity - static_cast<uint64_t>(static_cast<char*>(pointer) - arena);
  if (moved) std::memcpy(moved, pointer, std::min<uint64_t>(size, held));
  return moved;
}

void* memalign(size_t alignment, size_t size) {
  if (void* taken = TakeArena(size, alignment)) return taken;
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** result, size_t alignment, size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* memory = memalign(alignment, size);
  if (!memory) return ENOMEM;
  *result = memory;
  return 0;
}

}  // extern "C"
#endif
