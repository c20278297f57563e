#include "engine/image/memory_budget.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <string>

bool FitsDecodeMemory(uint64_t decoded_bytes, uint64_t available_memory) {
  uint64_t need = 0;
  if (__builtin_mul_overflow(decoded_bytes, DecodeMemoryFactor, &need)) return false;
  return available_memory == 0 || need <= available_memory;
}

namespace {

// A "Key:   123 kB" line of /proc/meminfo, in bytes.
uint64_t MeminfoBytes(const std::string& text, const std::string& key) {
  const size_t at = text.find(key + ":");
  if (at == std::string::npos) return 0;
  size_t start = text.find_first_not_of(' ', at + key.size() + 1);
  if (start == std::string::npos) return 0;
  uint64_t kib = 0;
  std::from_chars(text.data() + start, text.data() + text.size(), kib);
  return kib > UINT64_MAX / 1024 ? UINT64_MAX : kib * 1024;
}

uint64_t ReadNumberFile(const char* path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text)) return 0;
  uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

uint64_t AvailableMemoryBytes() {
  std::ifstream in("/proc/meminfo");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint64_t available = MeminfoBytes(text, "MemAvailable");
  if (available == 0) {
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0) available = static_cast<uint64_t>(pages) * page_size;
  }
  // A container's memory limit is tighter than the machine's free memory.
  const uint64_t limit = ReadNumberFile("/sys/fs/cgroup/memory.max");
  const uint64_t used = ReadNumberFile("/sys/fs/cgroup/memory.current");
  if (limit > 0 && limit > used) {
    const uint64_t room = limit - used;
    if (available == 0 || room < available) available = room;
  }
  return available;
}
