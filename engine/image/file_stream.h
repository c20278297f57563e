#pragma once

// A FreeImage stream over a descriptor we already hold, through a large stdio buffer. FreeImage's
// own file functions read and write through 4 KiB: a 12-megapixel image then costs thousands of
// system calls. They also ignore write errors, which this stream remembers.

#include <FreeImage.h>

#include <cstdio>
#include <memory>

class FileStream {
 public:
  /// Buffer size of every stream: big enough that a large image needs only tens of calls.
  static constexpr size_t BufferBytes = 1 << 20;
  /// For writers that write large blocks of their own, which stdio passes straight through.
  static constexpr size_t SmallBufferBytes = 64 << 10;

  /// Takes ownership of `fd` (closed by Close or the destructor); `mode` as for fdopen ("rb",
  /// "w+b"). Not open when the descriptor cannot be wrapped.
  FileStream(int fd, const char* mode, size_t buffer_bytes = BufferBytes);
  ~FileStream();
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  /// The procedures and handle to pass to FreeImage_LoadFromHandle and FreeImage_SaveToHandle.
  FreeImageIO* io();
  fi_handle handle() { return file_; }
  /// The stream itself, for writers of our own.
  FILE* file() { return file_; }

  /// Flushes and closes; false when a write, the flush or the close failed.
  bool Close();

 private:
  FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
};
