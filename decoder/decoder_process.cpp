#include "decoder/decoder_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

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

bool EnterDecoderProcess(uint64_t parent, uint64_t address_space) {
  // A decode nobody waits for any more must not run on: end with the program, and check it is
  // still there, since it may have gone before the request took effect.
  if (parent != 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (static_cast<uint64_t>(getppid()) != parent) return false;
  }
  // A crash on a damaged file is expected here: it must not leave core dumps behind.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  LimitAddressSpace(address_space);
  return true;
}

void DecoderMayBeRead() { prctl(PR_SET_DUMPABLE, 1, 0, 0, 0); }
