#include "platform/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace {

constexpr size_t MaxGuards = 16;

// Read by the signal handler at any moment: atomics only.
struct GuardedRange {
  std::atomic<uintptr_t> start{0};  // 0: the entry is free
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> damaged{false};
};
std::array<GuardedRange, MaxGuards> guarded;
std::mutex guard_mutex;
uintptr_t page_size = 4096;
struct sigaction previous_action {};

void OnBusError(int signal_number, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardedRange& range : guarded) {
    const uintptr_t start = range.start.load();
    if (start == 0 || address < start || address >= range.end.load()) continue;
    // The page past the file's new end reads as zeros from now on; the read is retried.
    void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
    if (mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      range.damaged.store(true);
      return;
    }
  }
  // Not ours: whoever handled it before does, or the default ends the process as it would have.
  if (previous_action.sa_flags & SA_SIGINFO) {
    if (previous_action.sa_sigaction) {
      previous_action.sa_sigaction(signal_number, info, context);
      return;
    }
  } else if (previous_action.sa_handler != SIG_DFL && previous_action.sa_handler != SIG_IGN) {
    previous_action.sa_handler(signal_number);
    return;
  }
  signal(signal_number, SIG_DFL);
}

void InstallHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    const long size = sysconf(_SC_PAGESIZE);
    if (size > 0) page_size = static_cast<uintptr_t>(size);
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGBUS, &action, &previous_action);
  });
}

}  // namespace

MappingGuard::MappingGuard(const void* address, size_t length) {
  if (!address || length == 0) return;
  InstallHandler();
  std::lock_guard lock(guard_mutex);
  for (size_t i = 0; i < guarded.size(); ++i) {
    GuardedRange& range = guarded[i];
    if (range.start.load() != 0) continue;
    const auto start = reinterpret_cast<uintptr_t>(address);
    range.damaged.store(false);
    range.end.store(start + length);
    range.start.store(start);
    slot_ = static_cast<int>(i);
    return;
  }
}

MappingGuard::~MappingGuard() {
  if (slot_ < 0) return;
  std::lock_guard lock(guard_mutex);
  guarded[static_cast<size_t>(slot_)].start.store(0);
}

bool MappingGuard::Damaged() const {
  return slot_ >= 0 && guarded[static_cast<size_t>(slot_)].damaged.load();
}
