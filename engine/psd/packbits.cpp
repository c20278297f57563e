#include "engine/psd/packbits.h"

#include <cstring>

bool UnpackBitsRow(std::span<const uint8_t> packed, std::span<uint8_t> out) {
  size_t in = 0;
  size_t written = 0;
  while (written < out.size()) {
    if (in >= packed.size()) return false;
    const int header = static_cast<int8_t>(packed[in++]);
    if (header >= 0) {
      const size_t count = static_cast<size_t>(header) + 1;
      if (packed.size() - in < count || out.size() - written < count) return false;
      std::memcpy(out.data() + written, packed.data() + in, count);
      in += count;
      written += count;
    } else if (header != -128) {  // -128 is a no-op by definition
      const size_t count = static_cast<size_t>(1 - header);
      if (in >= packed.size() || out.size() - written < count) return false;
      std::memset(out.data() + written, packed[in++], count);
      written += count;
    }
  }
  return true;
}
