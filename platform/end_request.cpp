#include "platform/end_request.h"

#include <csignal>

namespace {

// A signal handler can reach nothing but a flag of static storage.
volatile std::sig_atomic_t end_requested = 0;

}  // namespace

void WatchEndRequests() {
  std::signal(SIGTERM, [](int) { end_requested = 1; });
}

bool TakeEndRequest() {
  if (!end_requested) return false;
  end_requested = 0;
  return true;
}
