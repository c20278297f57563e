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

// Where the program's parts lie. In a build folder everything sits beside the executable (bin/);
// an installed program is PREFIX/bin/quorvix with its helper programs in a private folder below
// the prefix, its data (the theme packs' gfx/) and its manual in the usual shared folders.

struct ProgramPaths {
  std::string helper_folder;  // the decoder and the window module
  std::string data_folder;    // the folder that holds gfx/; the process's program folder
  std::string manual_folder;  // the HTML manual
};

/// The folders of a program whose executable lies in `executable_folder` (ending in "/"): the
/// installed layout when that folder is PREFIX/bin/ or the private helper folder below PREFIX
/// and PREFIX holds that helper folder, else everything in `executable_folder`. Every folder
/// ends in "/"; all are empty when `executable_folder` is.
ProgramPaths ProgramPathsOf(const std::string& executable_folder);

/// The folders of the running program, worked out on the first call.
const ProgramPaths& RunningProgramPaths();
