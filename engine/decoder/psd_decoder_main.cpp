// quorvix-psd-decoder: decodes one Photoshop document with FreeImage in a process of its own, so
// that a damaged file can crash, loop or exhaust memory here without harming the program.
//
//   quorvix-psd-decoder [--address-space=BYTES] [--fault=crash|hang|garbage] [--cmyk-profile]
//                       FILE
//
// With --cmyk-profile a CMYK document is converted to sRGB through the ICC profile it carries; when
// that profile does not serve, FreeImage's own conversion is used.
//
// The bitmap's head goes to descriptor 3 (a pipe) as a decoded-bitmap record. The program then
// copies the rows out of this process's memory, or, where the system does not let it, writes "R"
// to descriptor 0 and takes them down descriptor 3. Either way the end of descriptor 0 ends this
// process. Exit status 0 when the record was written, 1 when FreeImage could not load FILE, 2 for
// a wrong command line, 3 when writing failed.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "engine/decoded_bitmap.h"
#include "engine/decoder/cmyk_profile.h"
#include "engine/file_stream.h"

namespace {

constexpr int OutputFd = 3;
constexpr int RequestFd = 0;

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

// The document's CMYK samples, converted through its profile; empty, with the stream back at its
// start, when that cannot be done.
Bitmap LoadCmykThroughProfile(FileStream& input) {
  Bitmap cmyk(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), PSD_CMYK));
  Bitmap rgb = ConvertCmykThroughProfile(cmyk.get());
  if (!rgb) input.io()->seek_proc(input.handle(), 0, SEEK_SET);
  return rgb;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t address_space = 0;
  Fault fault = Fault::None;
  bool cmyk_profile = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* value = nullptr;
    if (StartsWith(argv[i], "--address-space=", value)) {
      if (!ReadNumber(value, address_space)) return 2;
    } else if (StartsWith(argv[i], "--fault=", value)) {
      if (std::strcmp(value, "crash") == 0) fault = Fault::Crash;
      if (std::strcmp(value, "hang") == 0) fault = Fault::Hang;
      if (std::strcmp(value, "garbage") == 0) fault = Fault::Garbage;
    } else if (std::strcmp(argv[i], "--cmyk-profile") == 0) {
      cmyk_profile = true;
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
  Bitmap image = cmyk_profile ? LoadCmykThroughProfile(input) : Bitmap();
  if (!image) image = Bitmap(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), 0));
  if (!image) return 1;
  // Nothing risky runs from here on: the program may now read this process's memory.
  prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
  if (!WriteDecodedHead(OutputFd, image.get())) return 3;
  char request = 0;
  ssize_t got = 0;
  while ((got = read(RequestFd, &request, 1)) < 0 && errno == EINTR) {
  }
  if (got == 1 && request == 'R') return WriteDecodedRows(OutputFd, image.get()) ? 0 : 3;
  return 0;
}
