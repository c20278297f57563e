#include "engine/psd/packbits.h"

#include <cstring>

namespace {

// The one walk over a packed row; `out`, when given, receives the row.
bool Unpack(std::span<const uint8_t> packed, size_t row_bytes, uint8_t* out) {
  size_t in = 0;
  size_t written = 0;
  while (written < row_bytes) {
    if (in >= packed.size()) return false;
    const int header = static_cast<int8_t>(packed[in++]);
    if (header >= 0) {
      const size_t count = static_cast<size_t>(header) + 1;
      if (packed.size() - in < count || row_bytes - written < count) return false;
      if (out) std::memcpy(out + written, packed.data() + in, count);
      in += count;
      written += count;
    } else if (header != -128) {  // -128 is a no-op by definition
      const size_t count = static_cast<size_t>(1 - header);
      if (in >= packed.size() || row_bytes - written < count) return false;
      if (out) std::memset(out + written, packed[in], count);
      ++in;
      written += count;
    }
  }
  return true;
}

}  // namespace

bool UnpackBitsRow(std::span<const uint8_t> packed, std::span<uint8_t> out) {
  return Unpack(packed, out.size(), out.data());
}

bool PackedRowFits(std::span<const uint8_t> packed, size_t row_bytes) {
  return Unpack(packed, row_bytes, nullptr);
}
