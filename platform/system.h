#pragma once

// Thin wrappers over the operating system that several subsystems share.

#include <cstdint>
#include <string>

struct DesktopSize {
  int32_t width = 0;
  int32_t height = 0;
};

/// The primary desktop's size in pixels; 0 by 0 when no window interface has reported one.
DesktopSize PrimaryDesktopSize();

/// Records the primary desktop's size; the window interface calls it once it has a display.
void SetPrimaryDesktopSize(DesktopSize size);

/// The current date and time as seconds since 1970-01-01 00:00:00 local time.
int64_t LocalNowSeconds();

/// Seconds of local time to seconds of UTC (the inverse of the local offset at that moment).
int64_t LocalSecondsToUtc(int64_t local_seconds);

/// Seconds of UTC to seconds of local time.
int64_t UtcSecondsToLocal(int64_t utc_seconds);

/// The folder of the running executable, ending in "/"; empty when it cannot be found.
std::string ExecutableFolder();

/// The processors this process may run on (at least 1).
int32_t UsableProcessorCount();
