// A stand-in for quorvix-psd-decoder that misbehaves on purpose, for the tests of how the program
// copes with its decoder: built once per misbehaviour (FAKE_DECODER_CRASH, _HANG, _GARBAGE or
// _SANITIZER), each under the decoder's name in a folder of its own. It starts as the real
// decoder does (tied to the program, no core dump), so a test of those start-up rules sees the
// real ones.

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <string_view>

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
#elif defined(FAKE_DECODER_SANITIZER)
  // Ends as a decoder built with the sanitizers ends on a report.
  const char report[] = "fake decoder: a sanitizer report\n";
  const ssize_t written = write(STDERR_FILENO, report, sizeof report - 1);
  (void)written;
  return DecoderSanitizerReport;
#else
#error "Build with FAKE_DECODER_CRASH, FAKE_DECODER_HANG, FAKE_DECODER_GARBAGE or _SANITIZER"
#endif
}
