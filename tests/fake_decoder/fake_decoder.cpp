// A stand-in for quorvix-psd-decoder that misbehaves on purpose, for the tests of how the program
// copes with its decoder: built once per misbehaviour (FAKE_DECODER_CRASH, _HANG, _GARBAGE or
// _SANITIZER), each under the decoder's name in a folder of its own. It starts as the real
// decoder does (tied to the program, no core dump), so a test of those start-up rules sees the
// real ones. FAKE_DECODER_SERVING is a decoder kept for several files that decodes as the real
// one does but misbehaves on a file whose name says how: "crash", "hang", "garbage", "fails",
// "leak" (keeps memory it never gives back) or "runaway" (asks for all the address space its
// file may have).

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "decoder/decode_request.h"
#include "decoder/decoder_process.h"
#include "engine/isolation/decoder_protocol.h"

namespace {

// The number after `name` in `argument`, when it is that option.
bool ReadOption(std::string_view argument, std::string_view name, uint64_t& number) {
  if (!argument.starts_with(name)) return false;
  argument.remove_prefix(name.size());
  const char* end = argument.data() + argument.size();
  return std::from_chars(argument.data(), end, number).ptr == end;
}

#if defined(FAKE_DECODER_SERVING)
uint64_t AddressSpaceInUse() {
  uint64_t pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// What a "leak" file keeps: reachable, so a leak checker does not count it.
void* kept_memory = nullptr;

int DecodeOrMisbehave(const std::vector<std::string>& arguments, const std::string& path,
                      Bitmap& image) {
  std::error_code error;
  const std::string name = std::filesystem::read_symlink(path, error).filename().string();
  if (name.find("crash") != std::string::npos) raise(SIGSEGV);
  if (name.find("hang") != std::string::npos) {
    for (;;) pause();
  }
  if (name.find("fails") != std::string::npos) return DecodeUnreadable;
  if (name.find("garbage") != std::string::npos) {
    const char garbage[] = "QVXBMP1\0 this is not a bitmap record";
    if (write(DecoderRecordFd, garbage, sizeof garbage) < 0) return DecodeWriteFailed;
  }
  if (name.find("leak") != std::string::npos) {
    const size_t size = 2 * KeptDecoderGrowth;
    kept_memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (kept_memory == MAP_FAILED) return DecodeUnreadable;
    std::memset(kept_memory, 1, size);
  }
  if (name.find("runaway") != std::string::npos) {
    // What the whole process may still have: more than one file may have in a kept decoder.
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_max == RLIM_INFINITY)
      return DecodeUnreadable;
    const size_t size = limit.rlim_max - AddressSpaceInUse() - (16 << 20);
    void* all = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (all == MAP_FAILED) return DecodeUnreadable;
    munmap(all, size);
  }
  DecodeRequest request;
  if (!ParseDecodeRequest(arguments, request)) return DecodeWrongRequest;
  request.path = path;
  return RunDecodeRequest(request, image);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  uint64_t parent = 0;
  uint64_t address_space = 0;
  for (int i = 1; i < argc; ++i) {
    if (!ReadOption(argv[i], "--parent=", parent))
      ReadOption(argv[i], "--address-space=", address_space);
  }
  if (!EnterDecoderProcess(parent, address_space)) return 5;

#if defined(FAKE_DECODER_CRASH)
  raise(SIGSEGV);
  return 1;
#elif defined(FAKE_DECODER_HANG)
  for (;;) pause();
#elif defined(FAKE_DECODER_GARBAGE)
  // Starts like a record, then is none.
  const char garbage[] = "QVXBMP1\0 this is not a bitmap record";
  return write(DecoderRecordFd, garbage, sizeof garbage) > 0 ? 0 : 3;
#elif defined(FAKE_DECODER_SERVING)
  return ServeDecodes(DecodeOrMisbehave);
#elif defined(FAKE_DECODER_SANITIZER)
  // Ends as a decoder built with the sanitizers ends on a report.
  const char report[] = "fake decoder: a sanitizer report\n";
  const ssize_t written = write(STDERR_FILENO, report, sizeof report - 1);
  (void)written;
  return DecoderSanitizerReport;
#else
#error "Build with FAKE_DECODER_CRASH, _HANG, _GARBAGE, _SANITIZER or _SERVING"
#endif
}
