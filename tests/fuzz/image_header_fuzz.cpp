// The decoder's look at a watermark image's declared size, on arbitrary bytes: the format sniff
// and the header-only reading that run before any pixel is decoded, and the bound check after.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "engine/image/image_header.h"

namespace {

struct MemoryStream {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;
};

unsigned DLL_CALLCONV Read(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  auto* stream = static_cast<MemoryStream*>(handle);
  if (size == 0) return 0;
  const size_t whole = std::min<size_t>(count, (stream->size - stream->at) / size);
  std::memcpy(buffer, stream->data + stream->at, whole * size);
  stream->at += whole * size;
  return static_cast<unsigned>(whole);
}

unsigned DLL_CALLCONV Write(void*, unsigned, unsigned, fi_handle) { return 0; }

int DLL_CALLCONV Seek(fi_handle handle, long offset, int origin) {
  auto* stream = static_cast<MemoryStream*>(handle);
  long base = 0;
  if (origin == SEEK_CUR) base = static_cast<long>(stream->at);
  if (origin == SEEK_END) base = static_cast<long>(stream->size);
  const long target = base + offset;
  if (target < 0 || static_cast<size_t>(target) > stream->size) return -1;
  stream->at = static_cast<size_t>(target);
  return 0;
}

long DLL_CALLCONV Tell(fi_handle handle) {
  return static_cast<long>(static_cast<MemoryStream*>(handle)->at);
}

}  // namespace

// The decoder looks at the header under an address-space limit, where an allocation too large for
// it fails and FreeImage gives up on the file (a TGA header of 23 bytes asks for 4 GiB). Here too a
// failed allocation must stay a failure, not end the run as a finding; C++ allocations still do.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryStream stream{data, size, 0};
  FreeImageIO io{Read, Write, Seek, Tell};
  // The first byte picks the fallback format, as a file name's extension would.
  const auto hint = static_cast<FREE_IMAGE_FORMAT>(size > 0 ? data[0] % (FIF_JXR + 1) : 0);
  const FREE_IMAGE_FORMAT format = SniffImageFormat(&io, &stream, hint);
  if (format == FIF_UNKNOWN || format == FIF_PSD) return 0;
  const std::optional<ImageHeader> header = LookAtImageHeader(format, &io, &stream);
  if (header) KeepsBound(*header, WatermarkBound);
  return 0;
}
