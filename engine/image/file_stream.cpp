#include "engine/image/file_stream.h"

#include <unistd.h>

namespace {

unsigned DLL_CALLCONV ReadProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  return static_cast<unsigned>(std::fread(buffer, size, count, static_cast<FILE*>(handle)));
}

unsigned DLL_CALLCONV WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  return static_cast<unsigned>(std::fwrite(buffer, size, count, static_cast<FILE*>(handle)));
}

int DLL_CALLCONV SeekProc(fi_handle handle, long offset, int origin) {
  return std::fseek(static_cast<FILE*>(handle), offset, origin);
}

long DLL_CALLCONV TellProc(fi_handle handle) { return std::ftell(static_cast<FILE*>(handle)); }

FreeImageIO stream_io{ReadProc, WriteProc, SeekProc, TellProc};

}  // namespace

FileStream::FileStream(int fd, const char* mode, size_t buffer_bytes) {
  if (fd < 0) return;
  file_ = fdopen(fd, mode);
  if (!file_) {
    close(fd);
    return;
  }
  buffer_ = std::make_unique<char[]>(buffer_bytes);
  // Without our buffer the stream keeps its default one: slower, still correct.
  if (setvbuf(file_, buffer_.get(), _IOFBF, buffer_bytes) != 0) buffer_.reset();
}

FileStream::~FileStream() { Close(); }

FreeImageIO* FileStream::io() { return &stream_io; }

bool FileStream::Close() {
  if (!file_) return false;
  const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return written && closed;
}
