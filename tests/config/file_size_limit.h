#pragma once

// Makes every write past `bytes` fail for the life of the object, as a full disk would.

#include <sys/resource.h>

#include <csignal>
#include <cstddef>

class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(std::size_t bytes) {
    // Past the limit the kernel sends SIGXFSZ; ignored, the write returns EFBIG instead.
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_limit_);
    rlimit limit = old_limit_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_limit_);
    std::signal(SIGXFSZ, old_handler_);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit old_limit_{};
  void (*old_handler_)(int) = nullptr;
};
