// The program's reading of a decoded-bitmap record, on arbitrary bytes: what a decoder process
// gone wrong could send down its pipe.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/isolation/decoded_bitmap.h"

namespace {
// A pipe holds this much without a reader, so the whole input can be written before reading.
constexpr size_t MaxInput = 60 << 10;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > MaxInput) return 0;
  int ends[2];
  if (pipe(ends) != 0) return 0;
  const bool written = size == 0 || write(ends[1], data, size) == static_cast<ssize_t>(size);
  close(ends[1]);
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  if (written) {
    // Limits as the program sets them, with the document's size taken from the record itself so
    // that inputs get past the first check.
    DecodedBitmapLimits limits;
    if (size >= 20) {
      std::memcpy(&limits.width, data + 12, sizeof limits.width);
      std::memcpy(&limits.height, data + 16, sizeof limits.height);
    }
    limits.max_icc_bytes = 1 << 16;
    limits.max_metadata_bytes = 1 << 16;
    limits.max_rows_bytes = 16 << 20;
    ReadDecodedBitmap(ends[0], limits, std::chrono::steady_clock::now() + std::chrono::seconds(1));
  }
  close(ends[0]);
  return 0;
}
