// quorvix-psd-decoder: decodes one Photoshop document with FreeImage in a process of its own, so
// that a damaged file can crash, loop or exhaust memory here without harming the program.
//
//   quorvix-psd-decoder [--address-space=BYTES] [--arena=BYTES] [--fault=crash|hang|garbage] FILE
//
// The bitmap goes to descriptor 3 as a decoded-bitmap record. With --arena, an allocation of that
// many bytes (the expected rows) is made inside descriptor 3, so the rows need no copy. Exit status 0 when it was written,
// 1 when FreeImage could not load FILE, 2 for a wrong command line, 3 when writing failed.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <string>

#include "engine/decoded_bitmap.h"
#include "engine/decoder/pixel_arena.h"
#include "engine/file_stream.h"

namespace {

constexpr int OutputFd = 3;

enum class Fault { None, Crash, Hang, Garbage };

bool ReadNumber(const char* text, uint64_t& number) {
  const char* end = text + std::strlen(text);
  return std::from_chars(text, end, number).ptr == end;
}

bool StartsWith(const char* text, const char* prefix, const char*& rest) {
  const size_t size = std::strlen(prefix);
  if (std::strncmp(text, prefix, size) != 0) return false;
  rest = text + size;
  return true;
}

void LimitAddressSpace(uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer reserves terabytes of shadow memory up front: no limit fits it.
  (void)bytes;
#else
  if (bytes == 0) return;
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  setrlimit(RLIMIT_AS, &limit);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t address_space = 0;
  uint64_t arena_bytes = 0;
  Fault fault = Fault::None;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* value = nullptr;
    if (StartsWith(argv[i], "--address-space=", value)) {
      if (!ReadNumber(value, address_space)) return 2;
    } else if (StartsWith(argv[i], "--arena=", value)) {
      if (!ReadNumber(value, arena_bytes)) return 2;
    } else if (StartsWith(argv[i], "--fault=", value)) {
      if (std::strcmp(value, "crash") == 0) fault = Fault::Crash;
      if (std::strcmp(value, "hang") == 0) fault = Fault::Hang;
      if (std::strcmp(value, "garbage") == 0) fault = Fault::Garbage;
    } else if (!path) {
      path = argv[i];
    } else {
      return 2;
    }
  }
  if (!path) return 2;

  // A crash on a damaged file is expected here: it must not leave core dumps behind.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  LimitAddressSpace(address_space);

  switch (fault) {
    case Fault::Crash:
      raise(SIGSEGV);
      return 1;
    case Fault::Hang:
      for (;;) pause();
    case Fault::Garbage: {
      const char garbage[] = "QVXBMP1\0 this is not a bitmap record";
      return write(OutputFd, garbage, sizeof garbage) > 0 ? 0 : 3;
    }
    case Fault::None:
      break;
  }

  // Read through a large buffer: FreeImage's own file reading asks for 4 KiB at a time.
  FileStream input(open(path, O_RDONLY | O_CLOEXEC), "rb");
  if (!input.IsOpen()) return 1;
  // After the stream's buffer, so that allocation cannot take the arena.
  if (arena_bytes != 0) InstallPixelArena(OutputFd, arena_bytes);
  Bitmap image(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), 0));
  if (!image) return 1;
  const uint64_t bits_size =
      static_cast<uint64_t>(FreeImage_GetPitch(image.get())) * FreeImage_GetHeight(image.get());
  const PixelsInFile in_file = LocateInArena(FreeImage_GetBits(image.get()), bits_size);
  if (!WriteDecodedBitmap(OutputFd, image.get(), in_file)) _exit(3);
  if (in_file.offset == 0) ReleaseUnusedArena(OutputFd);
  // Nothing to unload: the process ends here, and what a free would read may lie in the arena.
  _exit(0);
}
